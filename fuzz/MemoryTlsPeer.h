#pragma once
// An OpenSSL server in memory, the peer of the stand-in's TLS connection in the fuzz target: no
// socket and no thread. The server writes into a memory BIO that the client's transport reads;
// what the client writes lands in another that the server reads.
//
// Threads: one thread uses a peer and the transport made from it. Ownership: the peer owns the
// server SSL and both memory BIOs; the client's connection owns the transport, which points to
// the peer, so the connection must go first.

#include <openssl/ssl.h>

#include <cstddef>
#include <string>

namespace vorn::fuzz {

// The server's settings: the protocol version and, for TLS 1.2, the cipher.
enum class TTlsProfile { Tls13, Tls12Gcm, Tls12ChaCha, Tls12CbcMacThenEncrypt };

// The process's two contexts, made on first use: the server's, with a self-signed EC certificate
// for kServerName made then, and the client's, from the stand-in's own client settings, trusting
// only that certificate. Both live until the process ends.
struct TMemoryTlsContexts {
  static constexpr char kServerName[] = "fuzz.test";
  SSL_CTX* Server = nullptr;
  SSL_CTX* Client = nullptr;
  static const TMemoryTlsContexts& Instance();
};

class TMemoryTlsPeer {
 public:
  // A server without a peer (null context): the transport only hands the client the bytes put
  // into ToClient and throws away what the client writes.
  TMemoryTlsPeer(SSL_CTX* serverContext, TTlsProfile profile);
  TMemoryTlsPeer(const TMemoryTlsPeer&) = delete;
  TMemoryTlsPeer& operator=(const TMemoryTlsPeer&) = delete;
  ~TMemoryTlsPeer();

  // A new BIO for the client (TTlsConnection::ConnectOver). Its reads take the server's bytes,
  // letting the server take its next handshake step when none are waiting, and end the stream
  // when there are none still; its writes go to the server. Null when OpenSSL fails.
  BIO* NewTransport();

  // The server's connection; null without a context.
  SSL* Server() const { return server_; }
  // The bytes on their way to the client, which the test may read out and put back altered.
  BIO* ToClient() const { return toClient_; }
  // Puts bytes on their way to the client, after those waiting.
  void SendRaw(const void* data, std::size_t size);
  // Takes every byte waiting for the client.
  std::string TakeToClient();

 private:
  static int TransportWrite(BIO* bio, const char* data, int size);
  static int TransportRead(BIO* bio, char* buffer, int size);
  static long TransportControl(BIO* bio, int command, long number, void* pointer);

  BIO_METHOD* method_ = nullptr;
  SSL* server_ = nullptr;
  BIO* toServer_ = nullptr;
  BIO* toClient_ = nullptr;
};

}  // namespace vorn::fuzz
