#pragma once
// Certificates for TLS tests, made at run time through the OpenSSL API (no key files in the tree):
// a test CA, a server and a client certificate it signed, an expired server certificate, and a
// second CA that nothing trusts with a server and a client certificate of its own. Keys are EC
// P-256, so a set is made in milliseconds even under a sanitizer.

#include <string>

namespace vorn {

// The files of one certificate, all in PEM.
struct TTestIdentity {
  std::string CertFile;  // the certificate alone
  std::string KeyFile;   // its private key alone
  std::string PemFile;   // the certificate followed by its key (a client-auth file)
};

struct TTestCertificates {
  std::string CAFile;       // the test CA's certificate: trust it through SSL_CERT_FILE
  std::string OtherCAFile;  // the untrusted CA's certificate
  // Names "localhost" and 127.0.0.1, valid from an hour ago for a year, signed by the test CA.
  TTestIdentity Server;
  // A client certificate ("vorn test client") signed by the test CA.
  TTestIdentity Client;
  // As Server, but its validity ended yesterday.
  TTestIdentity Expired;
  // As Server and Client, signed by the untrusted CA.
  TTestIdentity UntrustedServer;
  TTestIdentity UntrustedClient;
};

// Makes the set in folder (which must exist; a TTempDir's Path() serves) with short file names
// ("ca.crt", "server.pem", "client.pem", ...), so a temporary folder and a name stay well under
// the client's 50-character setting. Throws std::runtime_error when OpenSSL fails.
TTestCertificates MakeTestCertificates(const std::string& folder);

// SSL_CERT_FILE set to a CA file for the scope (and SSL_CERT_DIR to a folder without
// certificates, so the system's CAs are not trusted either); both restored after it. Set it before
// starting threads: the environment is process-wide.
class TScopedTrustedCA {
 public:
  explicit TScopedTrustedCA(const std::string& caFile);
  TScopedTrustedCA(const TScopedTrustedCA&) = delete;
  TScopedTrustedCA& operator=(const TScopedTrustedCA&) = delete;
  ~TScopedTrustedCA();

 private:
  struct TSaved {
    bool Set = false;
    std::string Value;
  };
  TSaved file_;
  TSaved dir_;
};

}  // namespace vorn
