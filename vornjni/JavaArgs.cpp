#include "vornjni/JavaArgs.h"

namespace vorn::bridge {

std::string ReadJavaString(JNIEnv* env, jstring text) {
  if (!text) return {};
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) throw TJavaPending{};
  std::string result(chars);
  env->ReleaseStringUTFChars(text, chars);
  return result;
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

jstring NewJavaString(JNIEnv* env, const std::string& text) {
  std::vector<jchar> chars(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    chars[i] = static_cast<unsigned char>(text[i]);
  return env->NewString(chars.data(), static_cast<jsize>(chars.size()));
}

void ThrowIllegalArgument(JNIEnv* env, const char* message) {
  jclass type = env->FindClass("java/lang/IllegalArgumentException");
  if (!type) return;  // NoClassDefFoundError pending
  env->ThrowNew(type, message);
  env->DeleteLocalRef(type);
}

bool ClearJavaException(JNIEnv* env, const char* where) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  LogBridgeError(std::string(" - Java exception in ") + where);
  return true;
}

void RequireLength(JNIEnv* env, jarray array, std::size_t size, const char* what) {
  if (array && static_cast<std::size_t>(env->GetArrayLength(array)) >= size) return;
  const std::string message = std::string(what) + " must hold at least " + std::to_string(size) +
                              (array ? "" : " (null given)");
  ThrowIllegalArgument(env, message.c_str());
  throw ERefusedArgument(message);
}

void ReadBytes(JNIEnv* env, jbyteArray array, void* into, std::size_t size, const char* what) {
  RequireLength(env, array, size, what);
  env->GetByteArrayRegion(array, 0, static_cast<jsize>(size), static_cast<jbyte*>(into));
  if (env->ExceptionCheck()) throw TJavaPending{};
}

void WriteBytes(JNIEnv* env, jbyteArray array, const void* from, std::size_t size) {
  env->SetByteArrayRegion(array, 0, static_cast<jsize>(size), static_cast<const jbyte*>(from));
  if (env->ExceptionCheck()) throw TJavaPending{};
}

void WriteInts(JNIEnv* env, jintArray array, const std::int32_t* from, std::size_t count) {
  env->SetIntArrayRegion(array, 0, static_cast<jsize>(count), from);
  if (env->ExceptionCheck()) throw TJavaPending{};
}

void WriteDouble(JNIEnv* env, jdoubleArray array, double value) {
  env->SetDoubleArrayRegion(array, 0, 1, &value);
  if (env->ExceptionCheck()) throw TJavaPending{};
}

void WriteBoolean(JNIEnv* env, jbooleanArray array, bool value) {
  const jboolean flag = value ? JNI_TRUE : JNI_FALSE;
  env->SetBooleanArrayRegion(array, 0, 1, &flag);
  if (env->ExceptionCheck()) throw TJavaPending{};
}

}  // namespace vorn::bridge
