// A scriptable stand-in for the outside library, for driving an SSL link by hand: connects
// succeed or fail as the test says, reads time out until the test ends the stream, writes are
// counted, and open handles are counted so that leaks show. Mock_* functions script it; the test
// holds its own reference to the library so the state survives the sockets' unloads.
// MOCK_RAVELINK_NO_WRITE builds a variant without SSL_Write.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "Ravelink.h"

namespace {

struct TMock {
  std::mutex lock;
  std::condition_variable changed;
  std::set<int32_t> open;
  int32_t nextHandle = 1;
  int32_t connectResult = 1;
  std::string connectError;
  int connects = 0;
  int readWaitMs = 20;
  bool endOfStream = false;
  long written = 0;
  std::string clientCertName;
};

TMock& Mock() {
  static TMock mock;
  return mock;
}

thread_local std::string lastError;

}  // namespace

extern "C" {

// Scripting.
RAVELINK_EXPORT void Mock_Reset() {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  m.open.clear();
  m.connectResult = 1;
  m.connectError.clear();
  m.connects = 0;
  m.readWaitMs = 20;
  m.endOfStream = false;
  m.written = 0;
  m.clientCertName.clear();
}
// The result of the next connects (low byte 0: failed) and the error text a failure leaves.
RAVELINK_EXPORT void Mock_SetConnect(int32_t result, const char* error) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  m.connectResult = result;
  m.connectError = error ? error : "";
}
// How long a read waits before it times out (ETIMEDOUT), unless the stream ends or the handle
// is closed meanwhile.
RAVELINK_EXPORT void Mock_SetReadWait(int ms) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  m.readWaitMs = ms;
}
// The server ends the stream: reads return 0.
RAVELINK_EXPORT void Mock_EndStream() {
  TMock& m = Mock();
  {
    std::lock_guard guard(m.lock);
    m.endOfStream = true;
  }
  m.changed.notify_all();
}
RAVELINK_EXPORT int Mock_OpenHandles() {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  return static_cast<int>(m.open.size());
}
RAVELINK_EXPORT int Mock_Connects() {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  return m.connects;
}
RAVELINK_EXPORT long Mock_Written() {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  return m.written;
}
RAVELINK_EXPORT void Mock_ClientCertName(char* out, int size) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  std::snprintf(out, static_cast<std::size_t>(size), "%s", m.clientCertName.c_str());
}

// The entry points.
RAVELINK_EXPORT int32_t SSL_GetHandle(void) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  const int32_t handle = m.nextHandle++;
  m.open.insert(handle);
  return handle;
}
RAVELINK_EXPORT void SSL_SetKeepAlive(int32_t, int32_t) {}
RAVELINK_EXPORT void SSL_SetClientCertName(int32_t, const char* name) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  m.clientCertName = name ? name : "";
}
RAVELINK_EXPORT int32_t SSL_Connect(int32_t handle, const char*, int32_t, int32_t, const char*) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  ++m.connects;
  if (!m.open.count(handle)) return 0;
  if ((m.connectResult & 0xFF) == 0) lastError = m.connectError;
  m.endOfStream = false;
  return m.connectResult;
}
RAVELINK_EXPORT void SSL_Close(int32_t handle) {
  TMock& m = Mock();
  {
    std::lock_guard guard(m.lock);
    m.open.erase(handle);
  }
  m.changed.notify_all();
}
RAVELINK_EXPORT const char* SSL_GetLastError(int32_t) {
  return lastError.c_str();
}
RAVELINK_EXPORT int32_t SSL_GetLastErrorValue(int32_t) { return 0; }
RAVELINK_EXPORT int32_t SSL_GetLastErrorType(int32_t) { return 0; }
RAVELINK_EXPORT int32_t SSL_IsLastErrorBlocking(int32_t) { return 0; }
RAVELINK_EXPORT int32_t SSL_Read(int32_t handle, void*, int32_t) {
  TMock& m = Mock();
  std::unique_lock guard(m.lock);
  const bool ended = m.changed.wait_for(guard, std::chrono::milliseconds(m.readWaitMs), [&] {
    return m.endOfStream || !m.open.count(handle);
  });
  if (!m.open.count(handle)) {
    errno = EBADF;
    return -1;
  }
  if (ended) return 0;
  errno = ETIMEDOUT;
  return -1;
}
#ifndef MOCK_RAVELINK_NO_WRITE
RAVELINK_EXPORT int32_t SSL_Write(int32_t handle, const void*, int32_t size) {
  TMock& m = Mock();
  std::lock_guard guard(m.lock);
  if (!m.open.count(handle)) return -1;
  m.written += size;
  return size;
}
#endif

}  // extern "C"
