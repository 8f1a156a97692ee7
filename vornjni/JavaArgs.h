#pragma once
// What every ClientAPI native shares: reading Java arguments, checking Java arrays against the
// records they carry, writing outputs back, and the common frame around a call through the API
// table. Used on the Java thread that called the native. No JNI call is made with a Java
// exception pending: a helper that leaves one throws TJavaPending, which the frame turns into
// 99 without touching the JVM again.

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "vornjni/core/APILibrary.h"
#include "vornjni/core/Session.h"

namespace vorn::bridge {

// A JNI call failed and left its Java exception pending: the native returns at once.
struct TJavaPending {};

// An argument the native refuses before any API call; an IllegalArgumentException is pending.
class ERefusedArgument : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The text of a Java string (modified UTF-8, as the JNI gives it); null gives the empty text.
std::string ReadJavaString(JNIEnv* env, jstring text);
// Each element read as ReadJavaString reads it. The array must not be null.
std::vector<std::string> ReadJavaStrings(JNIEnv* env, jobjectArray array);
// Texts are 8-bit bytes: each becomes one Java char, so no byte can make invalid UTF-8.
jstring NewJavaString(JNIEnv* env, const std::string& text);
void ThrowIllegalArgument(JNIEnv* env, const char* message);
// Clears a pending Java exception after describing it and logging where it came from.
bool ClearJavaException(JNIEnv* env, const char* where);

inline char Flag(jboolean value) {
  return value ? 'Y' : 'N';
}

// Refuses (ERefusedArgument) a null array or one shorter than size elements.
void RequireLength(JNIEnv* env, jarray array, std::size_t size, const char* what);
// The first size bytes of a Java array (RequireLength first) into a native buffer.
void ReadBytes(JNIEnv* env, jbyteArray array, void* into, std::size_t size, const char* what);
// size bytes into the Java array from index 0; the caller checked its length.
void WriteBytes(JNIEnv* env, jbyteArray array, const void* from, std::size_t size);
void WriteInts(JNIEnv* env, jintArray array, const std::int32_t* from, std::size_t count);
void WriteDouble(JNIEnv* env, jdoubleArray array, double value);
void WriteBoolean(JNIEnv* env, jbooleanArray array, bool value);

// An input record of its exact size, zero-filled before the Java bytes are copied in.
template <typename Record>
Record ReadRecord(JNIEnv* env, jbyteArray array, const char* what) {
  Record record{};
  ReadBytes(env, array, &record, sizeof record, what);
  return record;
}

// The common frame of a native that calls the API: holds the library against unloading for
// the whole native, 52 without one, then body(api) gives the result. EVORN gives its code; a
// refused argument or any other failure is logged and gives 99; a pending Java exception 99.
template <typename F>
jint CallAPI(F&& body) noexcept {
  try {
    const auto lock = APILibrary().Share();
    return body(APILibrary().Require());
  } catch (const EVORN& error) {
    return error.Code();
  } catch (const TJavaPending&) {
    return VN_RC_UNEXPECTED_ERROR;
  } catch (const std::exception& error) {
    return LogBridgeError(std::string(" - ") + error.what());
  } catch (...) {
    return LogBridgeError(" - unknown exception");
  }
}

}  // namespace vorn::bridge
