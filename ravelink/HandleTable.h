#pragma once
// The stand-in's connections by their 32-bit handle. Handles are small positive numbers handed out
// in turn (never 0, never a pointer, never one still in use); removing a handle gives its
// connection to the caller, and whoever holds it last frees it.
//
// Threads: every member takes the table's lock, held only for the look-up, never during a call on
// a connection.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "TlsConnection.h"

namespace vorn::ravelink {

class THandleTable {
 public:
  // The one table of the library, made on first use after OpenSSL is initialised, so that at the
  // process's exit it is destroyed (and its connections freed) before OpenSSL cleans up.
  static THandleTable& Instance();

  // A new connection with the default client certificate; 0 when none can be made.
  std::int32_t Add();
  std::shared_ptr<TTlsConnection> Find(std::int32_t handle) const;
  std::shared_ptr<TTlsConnection> Remove(std::int32_t handle);

  // The client certificate of the handles made from now on.
  void SetDefaultClientCertName(std::string name);

 private:
  THandleTable();

  mutable std::mutex lock_;
  std::unordered_map<std::int32_t, std::shared_ptr<TTlsConnection>> connections_;
  std::int32_t next_ = 1;
  std::string defaultClientCertName_;
};

}  // namespace vorn::ravelink
