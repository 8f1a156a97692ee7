#include "MemoryTlsPeer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <cstdlib>

#include "TlsConnection.h"

namespace vorn::fuzz {
namespace {

// A fixed type number, as the stand-in's socket BIO has: a new index for every peer would run out.
constexpr int kTransportType = 0xF1 | BIO_TYPE_SOURCE_SINK;

[[noreturn]] void SetUpFailed() { std::abort(); }

// A self-signed certificate for name, valid from an hour ago for a year, with its key.
void MakeCertificate(const char* name, X509*& certificate, EVP_PKEY*& key) {
  key = EVP_EC_gen("P-256");
  certificate = X509_new();
  if (!key || !certificate) SetUpFailed();
  X509_set_version(certificate, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 365L * 24 * 3600);
  X509_set_pubkey(certificate, key);
  X509_NAME* subject = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509_set_issuer_name(certificate, subject);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  const std::string alternative = std::string("DNS:") + name;
  X509_EXTENSION* extension =
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternative.c_str());
  if (!extension || X509_add_ext(certificate, extension, -1) != 1) SetUpFailed();
  X509_EXTENSION_free(extension);
  if (X509_sign(certificate, key, EVP_sha256()) <= 0) SetUpFailed();
}

TMemoryTlsContexts MakeContexts() {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  MakeCertificate(TMemoryTlsContexts::kServerName, certificate, key);
  TMemoryTlsContexts contexts;
  contexts.Server = SSL_CTX_new(TLS_server_method());
  contexts.Client = ravelink::TTlsConnection::NewClientContext();
  if (!contexts.Server || !contexts.Client ||
      SSL_CTX_use_certificate(contexts.Server, certificate) != 1 ||
      SSL_CTX_use_PrivateKey(contexts.Server, key) != 1 ||
      X509_STORE_add_cert(SSL_CTX_get_cert_store(contexts.Client), certificate) != 1)
    SetUpFailed();
  // The server keeps no sessions and gives one ticket (TLS 1.3; the client's first-flight wait
  // needs something after the handshake) or none: every handshake is a whole one, and memory
  // stays flat.
  SSL_CTX_set_session_cache_mode(contexts.Server, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(contexts.Server, 1);
  SSL_CTX_set_options(contexts.Server, SSL_OP_NO_TICKET);
  X509_free(certificate);
  EVP_PKEY_free(key);
  return contexts;
}

}  // namespace

const TMemoryTlsContexts& TMemoryTlsContexts::Instance() {
  static const TMemoryTlsContexts contexts = MakeContexts();
  return contexts;
}

TMemoryTlsPeer::TMemoryTlsPeer(SSL_CTX* serverContext, TTlsProfile profile) {
  method_ = BIO_meth_new(kTransportType, "memory peer transport");
  toServer_ = BIO_new(BIO_s_mem());
  toClient_ = BIO_new(BIO_s_mem());
  if (!method_ || !toServer_ || !toClient_) SetUpFailed();
  BIO_meth_set_write(method_, &TMemoryTlsPeer::TransportWrite);
  BIO_meth_set_read(method_, &TMemoryTlsPeer::TransportRead);
  BIO_meth_set_ctrl(method_, &TMemoryTlsPeer::TransportControl);
  if (!serverContext) return;

  server_ = SSL_new(serverContext);
  if (!server_) SetUpFailed();
  const bool tls13 = profile == TTlsProfile::Tls13;
  SSL_set_min_proto_version(server_, tls13 ? TLS1_3_VERSION : TLS1_2_VERSION);
  SSL_set_max_proto_version(server_, tls13 ? TLS1_3_VERSION : TLS1_2_VERSION);
  const char* cipher = nullptr;
  switch (profile) {
    case TTlsProfile::Tls13:
      break;
    case TTlsProfile::Tls12Gcm:
      cipher = "ECDHE-ECDSA-AES128-GCM-SHA256";
      break;
    case TTlsProfile::Tls12ChaCha:
      cipher = "ECDHE-ECDSA-CHACHA20-POLY1305";
      break;
    case TTlsProfile::Tls12CbcMacThenEncrypt:
      cipher = "ECDHE-ECDSA-AES128-SHA";
      SSL_set_options(server_, SSL_OP_NO_ENCRYPT_THEN_MAC);
      break;
  }
  if (cipher && SSL_set_cipher_list(server_, cipher) != 1) SetUpFailed();
  BIO_up_ref(toServer_);
  BIO_up_ref(toClient_);
  SSL_set_bio(server_, toServer_, toClient_);
  SSL_set_accept_state(server_);
}

TMemoryTlsPeer::~TMemoryTlsPeer() {
  SSL_free(server_);
  BIO_free(toServer_);
  BIO_free(toClient_);
  BIO_meth_free(method_);
}

BIO* TMemoryTlsPeer::NewTransport() {
  BIO* bio = BIO_new(method_);
  if (!bio) return nullptr;
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  return bio;
}

void TMemoryTlsPeer::SendRaw(const void* data, std::size_t size) {
  if (size > 0 && BIO_write(toClient_, data, static_cast<int>(size)) != static_cast<int>(size))
    SetUpFailed();
}

std::string TMemoryTlsPeer::TakeToClient() {
  std::string bytes(static_cast<std::size_t>(BIO_pending(toClient_)), '\0');
  if (!bytes.empty() &&
      BIO_read(toClient_, bytes.data(), static_cast<int>(bytes.size())) !=
          static_cast<int>(bytes.size()))
    SetUpFailed();
  return bytes;
}

int TMemoryTlsPeer::TransportWrite(BIO* bio, const char* data, int size) {
  auto* self = static_cast<TMemoryTlsPeer*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  // Without a server nobody reads it.
  if (!self->server_) return size;
  return BIO_write(self->toServer_, data, size);
}

int TMemoryTlsPeer::TransportRead(BIO* bio, char* buffer, int size) {
  auto* self = static_cast<TMemoryTlsPeer*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (BIO_pending(self->toClient_) == 0 && self->server_ &&
      !SSL_is_init_finished(self->server_)) {
    // The server's errors stay off the queue that the client's SSL_get_error reads; its result
    // shows in what it wrote, or did not.
    ERR_set_mark();
    SSL_do_handshake(self->server_);
    ERR_pop_to_mark();
  }
  if (BIO_pending(self->toClient_) == 0) return 0;
  return BIO_read(self->toClient_, buffer, size);
}

long TMemoryTlsPeer::TransportControl(BIO* bio, int command, long, void*) {
  const auto* self = static_cast<const TMemoryTlsPeer*>(BIO_get_data(bio));
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return self && BIO_pending(self->toClient_) == 0 ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace vorn::fuzz
