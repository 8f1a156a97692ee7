// The certificates the TLS tests stand on: each verifies, or fails, as its name says.

#include "support/TestCertificates.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

#include "support/TempDir.h"

namespace vorn {
namespace {

std::unique_ptr<X509, decltype(&X509_free)> ReadCertificate(const std::string& path) {
  BIO* in = BIO_new_file(path.c_str(), "r");
  X509* cert = in ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(in);
  return {cert, &X509_free};
}

// The verification result of cert against the CA in caFile, for the given purpose.
int Verify(const std::string& certFile, const std::string& caFile, int purpose) {
  const auto cert = ReadCertificate(certFile);
  const auto ca = ReadCertificate(caFile);
  EXPECT_TRUE(cert && ca);
  if (!cert || !ca) return -1;
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, ca.get());
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  X509_STORE_CTX_init(context, store, cert.get(), nullptr);
  X509_STORE_CTX_set_purpose(context, purpose);
  X509_verify_cert(context);
  const int result = X509_STORE_CTX_get_error(context);
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  return result;
}

TEST(TestCertificatesTest, EachCertificateVerifiesAsItsNameSays) {
  TTempDir dir;
  const TTestCertificates set = MakeTestCertificates(dir.Path());
  EXPECT_EQ(Verify(set.Server.CertFile, set.CAFile, X509_PURPOSE_SSL_SERVER), X509_V_OK);
  EXPECT_EQ(Verify(set.Client.CertFile, set.CAFile, X509_PURPOSE_SSL_CLIENT), X509_V_OK);
  EXPECT_EQ(Verify(set.Expired.CertFile, set.CAFile, X509_PURPOSE_SSL_SERVER),
            X509_V_ERR_CERT_HAS_EXPIRED);
  EXPECT_EQ(Verify(set.UntrustedServer.CertFile, set.CAFile, X509_PURPOSE_SSL_SERVER),
            X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
  EXPECT_EQ(Verify(set.UntrustedServer.CertFile, set.OtherCAFile, X509_PURPOSE_SSL_SERVER),
            X509_V_OK);
  EXPECT_EQ(Verify(set.UntrustedClient.CertFile, set.CAFile, X509_PURPOSE_SSL_CLIENT),
            X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
  // A client-auth file holds the certificate and then its key.
  const std::string pem = ReadFileText(set.Client.PemFile);
  EXPECT_NE(pem.find("BEGIN CERTIFICATE"), std::string::npos);
  EXPECT_GT(pem.find("BEGIN PRIVATE KEY"), pem.find("BEGIN CERTIFICATE"));
  EXPECT_LE(set.Client.PemFile.size(), 50u);
}

}  // namespace
}  // namespace vorn
