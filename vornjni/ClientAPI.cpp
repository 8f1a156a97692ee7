// The JNI shell of quorvex.api.binding.ClientAPI: reads the Java arguments, hands them to the
// bridge session, and delivers queued events into Java. No JNI call is made with a Java
// exception pending, and no bridge lock is held while Java code runs.

#include <jni.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "quorvex_api_binding_ClientAPI.h"
#include "vornjni/core/Session.h"

namespace {

using namespace vorn::bridge;

// A JNI call failed and left its Java exception pending: the native returns at once.
struct TJavaPending {};

// ReadJavaString: null gives the empty text.
std::string ReadJavaString(JNIEnv* env, jstring text) {
  if (!text) return {};
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) throw TJavaPending{};
  std::string result(chars);
  env->ReleaseStringUTFChars(text, chars);
  return result;
}

std::optional<std::string> ReadOptionalJavaString(JNIEnv* env, jstring text) {
  if (!text) return std::nullopt;
  return ReadJavaString(env, text);
}

std::vector<std::string> ReadJavaStrings(JNIEnv* env, jobjectArray array) {
  std::vector<std::string> texts;
  const jsize count = env->GetArrayLength(array);
  texts.reserve(static_cast<std::size_t>(count));
  for (jsize i = 0; i < count; ++i) {
    auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    if (env->ExceptionCheck()) throw TJavaPending{};
    std::string text;
    try {
      text = ReadJavaString(env, element);
    } catch (...) {
      env->DeleteLocalRef(element);
      throw;
    }
    env->DeleteLocalRef(element);
    texts.push_back(std::move(text));
  }
  return texts;
}

// Texts are 8-bit bytes: each becomes one Java char, so no byte can make invalid UTF-8.
jstring NewJavaString(JNIEnv* env, const std::string& text) {
  std::vector<jchar> chars(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) chars[i] = static_cast<unsigned char>(text[i]);
  return env->NewString(chars.data(), static_cast<jsize>(chars.size()));
}

void ThrowIllegalArgument(JNIEnv* env, const char* message) {
  jclass type = env->FindClass("java/lang/IllegalArgumentException");
  if (!type) return;  // NoClassDefFoundError pending
  env->ThrowNew(type, message);
  env->DeleteLocalRef(type);
}

// Clears a pending Java exception after describing it and logging where it came from.
bool ClearJavaException(JNIEnv* env, const char* where) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  LogBridgeError(std::string(" - Java exception in ") + where);
  return true;
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
