// The JNI shell of the session natives of quorvex.api.binding.ClientAPI: reads the Java
// arguments, hands them to the bridge session, and delivers queued events into Java. The other
// natives live beside it, one family per file. No JNI call is made with a Java
// exception pending, and no bridge lock is held while Java code runs.

#include <jni.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "quorvex_api_binding_ClientAPI.h"
#include "vornjni/JavaArgs.h"
#include "vornjni/core/Session.h"

namespace {

using namespace vorn::bridge;

std::optional<std::string> ReadOptionalJavaString(JNIEnv* env, jstring text) {
  if (!text) return std::nullopt;
  return ReadJavaString(env, text);
}

template <typename F>
jint Native(F&& body) {
  try {
    return body();
  } catch (const TJavaPending&) {
    return VN_RC_UNEXPECTED_ERROR;
  } catch (const std::exception& error) {
    return LogBridgeError(error.what());
  } catch (...) {
    return VN_RC_UNEXPECTED_ERROR;
  }
}

// Unloads the API library when the bridge goes, also at process exit.
struct TUnloadAtExit {
  ~TUnloadAtExit() { APILibrary().Unload(); }
} unloadAtExit;

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) { return JNI_VERSION_1_8; }

JNIEXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) { APILibrary().Unload(); }

JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_initialise(
    JNIEnv* env, jobject, jstring apiDir, jstring clientPath, jboolean demo, jboolean test,
    jboolean conStatus, jstring applicId, jboolean initReset, jstring applicVersion,
    jstring reserved) {
  return Native([&] {
    TInitialiseArgs args;
    args.ClientPath = ReadJavaString(env, clientPath);
    args.ApiDir = ReadJavaString(env, apiDir);
    args.ApplicId = ReadJavaString(env, applicId);
    args.Reserved = ReadJavaString(env, reserved);
    args.ApplicVersion = ReadOptionalJavaString(env, applicVersion);
    args.Demo = demo;
    args.Test = test;
    args.ConStatus = conStatus;
    args.InitReset = initReset;
    return Initialise(args);
  });
}

JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_openConnections(JNIEnv* env, jobject,
                                                                        jobjectArray hosts,
                                                                        jobjectArray prices) {
  return Native([&] {
    if (!hosts || !prices) return LogBridgeError(" - openConnections: null address array");
    const std::vector<std::string> hostTexts = ReadJavaStrings(env, hosts);
    const std::vector<std::string> priceTexts = ReadJavaStrings(env, prices);
    return OpenConnections(hostTexts, priceTexts);
  });
}

JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_logon(JNIEnv* env, jobject, jstring user,
                                                              jstring password,
                                                              jstring newPassword,
                                                              jboolean download,
                                                              jboolean reportDownload) {
  return Native([&] {
    const std::string userText = ReadJavaString(env, user);
    const std::string passwordText = ReadJavaString(env, password);
    const std::string newPasswordText = ReadJavaString(env, newPassword);
    return Logon(userText, passwordText, newPasswordText, download, reportDownload);
  });
}

JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_logoff(JNIEnv*, jobject) {
  return Logoff();
}

JNIEXPORT void JNICALL Java_quorvex_api_binding_ClientAPI_processCallbacks(JNIEnv* env,
                                                                         jobject self,
                                                                         jbyteArray buffer) {
  jclass type = env->GetObjectClass(self);
  const jmethodID messageReceived = env->GetMethodID(type, "messageReceived", "(II)V");
  env->DeleteLocalRef(type);
  if (!messageReceived) return;  // NoSuchMethodError pending
  if (!buffer || env->GetArrayLength(buffer) < static_cast<jsize>(kLargestPayload)) {
    ThrowIllegalArgument(env, "processCallbacks needs a buffer of at least 514 bytes");
    return;
  }
  std::deque<TCallback> round;
  for (;;) {
    try {
      if (!EventQueue().Take(round)) return;
    } catch (const std::exception& error) {
      LogBridgeError(error.what());
      return;
    }
    for (const TCallback& item : round) {
      const auto size = static_cast<jsize>(item.Data.size());
      if (size > 0) {
        env->SetByteArrayRegion(buffer, 0, size,
                                reinterpret_cast<const jbyte*>(item.Data.data()));
        if (ClearJavaException(env, "processCallbacks")) continue;
      }
      jvalue args[2];
      args[0].i = item.Type;
      args[1].i = size;
      env->CallVoidMethodA(self, messageReceived, args);
      ClearJavaException(env, "messageReceived");
    }
  }
}

JNIEXPORT jstring JNICALL Java_quorvex_api_binding_ClientAPI_getErrorMessage(JNIEnv* env, jobject,
                                                                           jint code) {
  try {
    return NewJavaString(env, GetErrorMessage(code));
  } catch (const std::exception& error) {
    LogBridgeError(error.what());
  } catch (...) {
  }
  return nullptr;
}

}  // extern "C"
