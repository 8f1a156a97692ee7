// The JNI shell of quorvex.util.w32.WinAPIImpl and quorvex.util.BasicWinAPIImpl: reads the Java
// arguments and hands them to the X11 window helpers. An unexpected failure is logged and gives
// 99; no JNI call is made with a Java exception pending.

#include <jni.h>

#include <cstdint>
#include <exception>
#include <string>

#include "quorvex_util_BasicWinAPIImpl.h"
#include "quorvex_util_w32_WinAPIImpl.h"
#include "vornjni/core/Session.h"
#include "vornjni/core/XWindows.h"

namespace {

using namespace vorn::bridge;

// A JNI call failed and left its Java exception pending: the native returns at once.
struct TJavaPending {};

// Null gives the empty text, which matches any window.
std::string ReadJavaString(JNIEnv* env, jstring text) {
  if (!text) return {};
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) throw TJavaPending{};
  std::string result(chars);
  env->ReleaseStringUTFChars(text, chars);
  return result;
}

template <typename F>
jint Native(F&& body) {
  try {
    return body();
  } catch (const TJavaPending&) {
    return kWindowCallFailed;
  } catch (const std::exception& error) {
    return LogBridgeError(std::string(" - ") + error.what());
  } catch (...) {
    return LogBridgeError(" - unknown exception in a window helper");
  }
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quorvex_util_BasicWinAPIImpl_getCursorPos(JNIEnv* env, jobject,
                                                                     jintArray out) {
  return Native([&]() -> jint {
    if (!out || env->GetArrayLength(out) < 2) {
      jclass type = env->FindClass("java/lang/IllegalArgumentException");
      if (type) {
        env->ThrowNew(type, "getCursorPos needs an array of at least 2 elements");
        env->DeleteLocalRef(type);
      }
      return kWindowCallFailed;
    }
    std::int32_t x = 0, y = 0;
    const std::int32_t result = XWindows().GetCursorPos(x, y);
    if (result != 0) return result;
    const jint position[2] = {x, y};
    env->SetIntArrayRegion(out, 0, 2, position);
    return 0;
  });
}

JNIEXPORT jint JNICALL Java_quorvex_util_w32_WinAPIImpl_setWindowPos(JNIEnv*, jobject, jint hwnd,
                                                                    jint hwndInsertAfter, jint x,
                                                                    jint y, jint cx, jint cy,
                                                                    jint flags) {
  return Native([&] {
    return XWindows().SetWindowPos(hwnd, hwndInsertAfter, x, y, cx, cy,
                                   static_cast<std::uint32_t>(flags));
  });
}

JNIEXPORT jint JNICALL Java_quorvex_util_w32_WinAPIImpl_showWindow(JNIEnv*, jobject, jint hwnd,
                                                                  jint cmdShow) {
  return Native([&] { return XWindows().ShowWindow(hwnd, cmdShow); });
}

JNIEXPORT jint JNICALL Java_quorvex_util_w32_WinAPIImpl_findWindow(JNIEnv* env, jobject,
                                                                  jstring className,
                                                                  jstring title) {
  return Native([&] {
    const std::string classText = ReadJavaString(env, className);
    const std::string titleText = ReadJavaString(env, title);
    return XWindows().FindWindow(classText, titleText);
  });
}

JNIEXPORT jint JNICALL Java_quorvex_util_w32_WinAPIImpl_findWindowEx(JNIEnv* env, jobject,
                                                                    jint parent,
                                                                    jint childAfter,
                                                                    jstring className,
                                                                    jstring title) {
  return Native([&] {
    const std::string classText = ReadJavaString(env, className);
    const std::string titleText = ReadJavaString(env, title);
    return XWindows().FindWindowEx(parent, childAfter, classText, titleText);
  });
}

}  // extern "C"
