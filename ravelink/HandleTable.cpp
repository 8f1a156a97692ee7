#include "HandleTable.h"

#include <openssl/ssl.h>

#include <limits>

namespace vorn::ravelink {

THandleTable::THandleTable() { OPENSSL_init_ssl(0, nullptr); }

THandleTable& THandleTable::Instance() {
  // Its destructor is registered once the constructor has returned, so after OpenSSL's clean-up.
  static THandleTable table;
  return table;
}

std::int32_t THandleTable::Add() {
  std::string certificate;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    certificate = defaultClientCertName_;
  }
  auto connection = std::make_shared<TTlsConnection>(std::move(certificate));
  if (!connection->Valid()) return 0;
  const std::lock_guard<std::mutex> guard(lock_);
  for (;;) {
    const std::int32_t handle = next_;
    next_ = next_ == std::numeric_limits<std::int32_t>::max() ? 1 : next_ + 1;
    if (connections_.emplace(handle, connection).second) return handle;
  }
}

std::shared_ptr<TTlsConnection> THandleTable::Find(std::int32_t handle) const {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = connections_.find(handle);
  return found == connections_.end() ? nullptr : found->second;
}

std::shared_ptr<TTlsConnection> THandleTable::Remove(std::int32_t handle) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = connections_.find(handle);
  if (found == connections_.end()) return nullptr;
  auto connection = std::move(found->second);
  connections_.erase(found);
  return connection;
}

void THandleTable::SetDefaultClientCertName(std::string name) {
  const std::lock_guard<std::mutex> guard(lock_);
  defaultClientCertName_ = std::move(name);
}

}  // namespace vorn::ravelink
