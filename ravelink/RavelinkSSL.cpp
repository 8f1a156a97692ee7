// The TLS entry points of the stand-in library: thin adapters from handles to connections. errno
// is set last, once every local holder of a connection has let go (freeing one closes files).

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "HandleTable.h"
#include "Ravelink.h"
#include "TlsConnection.h"

using vorn::ravelink::THandleTable;
using vorn::ravelink::TTlsConnection;

namespace {

constexpr char kUnknownHandle[] = "SSL Error: invalid handle";

// SSL_GetLastError's copy for the calling thread. Plain bytes, so that no thread-exit destructor
// of this library keeps it loaded.
thread_local char lastErrorCopy[512];

TTlsConnection::TLastError LastErrorOf(std::int32_t handle) {
  const auto connection = THandleTable::Instance().Find(handle);
  if (!connection) return {kUnknownHandle, EBADF, TTlsConnection::etSocket, false};
  return connection->LastError();
}

}  // namespace

extern "C" {

int32_t SSL_GetHandle(void) { return THandleTable::Instance().Add(); }

void SSL_SetKeepAlive(int32_t handle, int32_t on) {
  if (const auto connection = THandleTable::Instance().Find(handle))
    connection->SetKeepAlive(on != 0);
}

void SSL_SetClientCertName(int32_t handle, const char* name) {
  std::string text = name ? name : "";
  if (handle == 0) {
    THandleTable::Instance().SetDefaultClientCertName(std::move(text));
  } else if (const auto connection = THandleTable::Instance().Find(handle)) {
    connection->SetClientCertName(std::move(text));
  }
}

int32_t SSL_Connect(int32_t handle, const char* host, int32_t port, int32_t timeoutSeconds,
                    const char* certName) {
  const auto connection = THandleTable::Instance().Find(handle);
  return connection && connection->Connect(host, port, timeoutSeconds, certName) ? 1 : 0;
}

void SSL_Close(int32_t handle) {
  if (const auto connection = THandleTable::Instance().Remove(handle)) connection->Close();
}

const char* SSL_GetLastError(int32_t handle) {
  const std::string text = LastErrorOf(handle).Text;
  const std::size_t length = std::min(text.size(), sizeof lastErrorCopy - 1);
  std::memcpy(lastErrorCopy, text.data(), length);
  lastErrorCopy[length] = '\0';
  return lastErrorCopy;
}

int32_t SSL_GetLastErrorValue(int32_t handle) { return LastErrorOf(handle).Value; }

int32_t SSL_GetLastErrorType(int32_t handle) { return LastErrorOf(handle).Type; }

int32_t SSL_IsLastErrorBlocking(int32_t handle) { return LastErrorOf(handle).Blocking ? 1 : 0; }

int32_t SSL_Read(int32_t handle, void* buffer, int32_t size) {
  int error = EBADF;
  int32_t result = -1;
  if (const auto connection = THandleTable::Instance().Find(handle))
    result = connection->Read(buffer, size, error);
  if (result < 0) errno = error;
  return result;
}

int32_t SSL_Write(int32_t handle, const void* data, int32_t size) {
  int error = EBADF;
  int32_t result = -1;
  if (const auto connection = THandleTable::Instance().Find(handle))
    result = connection->Write(data, size, error);
  if (result < 0) errno = error;
  return result;
}

}  // extern "C"
