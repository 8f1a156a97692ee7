#include "support/TestCertificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <memory>
#include <stdexcept>

namespace vorn {
namespace {

struct TFreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TFreeCert {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct TFreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFreeKey>;
using TCert = std::unique_ptr<X509, TFreeCert>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what);
}

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Check(extension != nullptr, "extension");
  const bool added = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  Check(added, "add extension");
}

enum class TKind { CA, Server, Client };

// A certificate for key named commonName, valid from notBefore to notAfter seconds from now,
// signed by issuer (self-signed when issuer is null).
TCert NewCertificate(EVP_PKEY* key, const char* commonName, TKind kind, long notBefore,
                     long notAfter, X509* issuer, EVP_PKEY* issuerKey) {
  static long serial = 1;
  TCert cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), notBefore) != nullptr, "not before");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), notAfter) != nullptr, "not after");
  Check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                   0) == 1,
        "common name");
  X509* signer = issuer ? issuer : cert.get();
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "issuer");
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  switch (kind) {
    case TKind::CA:
      AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
      AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
      break;
    case TKind::Server:
      AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
      AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
      AddExtension(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
      break;
    case TKind::Client:
      AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
      AddExtension(cert.get(), signer, NID_ext_key_usage, "clientAuth");
      break;
  }
  Check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "sign");
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  std::unique_ptr<BIO, TFreeBio> out(BIO_new_file(path.c_str(), "w"));
  Check(out != nullptr, "open file");
  if (cert) Check(PEM_write_bio_X509(out.get(), cert) == 1, "write certificate");
  if (key)
    Check(PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "write key");
}

TTestIdentity WriteIdentity(const std::string& folder, const std::string& name, X509* cert,
                            EVP_PKEY* key) {
  TTestIdentity identity{folder + name + ".crt", folder + name + ".key", folder + name + ".pem"};
  WritePem(identity.CertFile, cert, nullptr);
  WritePem(identity.KeyFile, nullptr, key);
  WritePem(identity.PemFile, cert, key);
  return identity;
}

constexpr long kHour = 3600;
constexpr long kDay = 24 * kHour;

}  // namespace

TTestCertificates MakeTestCertificates(const std::string& folderPath) {
  const std::string folder =
      folderPath.empty() || folderPath.back() == '/' ? folderPath : folderPath + "/";
  TTestCertificates set;

  const TKey caKey = NewKey();
  const TCert ca =
      NewCertificate(caKey.get(), "Vorn Test CA", TKind::CA, -kHour, 365 * kDay, nullptr, nullptr);
  set.CAFile = folder + "ca.crt";
  WritePem(set.CAFile, ca.get(), nullptr);

  const TKey otherKey = NewKey();
  const TCert other = NewCertificate(otherKey.get(), "Vorn Other CA", TKind::CA, -kHour,
                                     365 * kDay, nullptr, nullptr);
  set.OtherCAFile = folder + "other-ca.crt";
  WritePem(set.OtherCAFile, other.get(), nullptr);

  const auto issue = [&](const char* file, const char* commonName, TKind kind, long notBefore,
                         long notAfter, X509* issuer, EVP_PKEY* issuerKey) {
    const TKey key = NewKey();
    const TCert cert =
        NewCertificate(key.get(), commonName, kind, notBefore, notAfter, issuer, issuerKey);
    return WriteIdentity(folder, file, cert.get(), key.get());
  };
  set.Server =
      issue("server", "localhost", TKind::Server, -kHour, 365 * kDay, ca.get(), caKey.get());
  set.Client = issue("client", "vorn test client", TKind::Client, -kHour, 365 * kDay, ca.get(),
                     caKey.get());
  set.Expired =
      issue("expired", "localhost", TKind::Server, -2 * kDay, -kDay, ca.get(), caKey.get());
  set.UntrustedServer = issue("untrusted", "localhost", TKind::Server, -kHour, 365 * kDay,
                              other.get(), otherKey.get());
  set.UntrustedClient = issue("untrusted-client", "vorn test client", TKind::Client, -kHour,
                              365 * kDay, other.get(), otherKey.get());
  return set;
}

namespace {

void SaveVariable(const char* name, bool& set, std::string& value) {
  const char* current = ::getenv(name);
  set = current != nullptr;
  value = current ? current : "";
}

void RestoreVariable(const char* name, bool set, const std::string& value) {
  if (set)
    ::setenv(name, value.c_str(), 1);
  else
    ::unsetenv(name);
}

}  // namespace

TScopedTrustedCA::TScopedTrustedCA(const std::string& caFile) {
  SaveVariable("SSL_CERT_FILE", file_.Set, file_.Value);
  SaveVariable("SSL_CERT_DIR", dir_.Set, dir_.Value);
  const std::size_t slash = caFile.rfind('/');
  ::setenv("SSL_CERT_FILE", caFile.c_str(), 1);
  // The CA file's folder holds no hashed certificate names, so no CA is found through it.
  ::setenv("SSL_CERT_DIR", slash == std::string::npos ? "." : caFile.substr(0, slash).c_str(), 1);
}

TScopedTrustedCA::~TScopedTrustedCA() {
  RestoreVariable("SSL_CERT_FILE", file_.Set, file_.Value);
  RestoreVariable("SSL_CERT_DIR", dir_.Set, dir_.Value);
}

}  // namespace vorn
