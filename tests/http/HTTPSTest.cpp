// HTTPS against a loopback server with a freshly made self-signed
// certificate: refused with the SSL wording while validation is on,
// accepted when it is off.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <thread>

#include "http/HTTPRequest.h"
#include "http/TestEnvironment.h"
#include "support/TestSupport.h"

namespace glowsnap::test {
namespace {

// Writes key.pem and cert.pem (CN 127.0.0.1, valid for a day) into dir.
bool makeSelfSignedCertificate(const std::filesystem::path& dir) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) return false;
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  bool ok = X509_sign(cert, key, EVP_sha256()) > 0;
  if (ok) {
    std::FILE* k = std::fopen((dir / "key.pem").c_str(), "wb");
    std::FILE* c = std::fopen((dir / "cert.pem").c_str(), "wb");
    ok = k && c && PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) &&
         PEM_write_X509(c, cert);
    if (k) std::fclose(k);
    if (c) std::fclose(c);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

class HTTPSTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!makeSelfSignedCertificate(dir_.path())) GTEST_SKIP() << "no certificate could be made";
    server_ = std::make_unique<httplib::SSLServer>((dir_ / "cert.pem").c_str(),
                                                   (dir_ / "key.pem").c_str());
    if (!server_->is_valid()) GTEST_SKIP() << "the TLS server could not be set up";
    server_->Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("secure", "text/plain");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
  }
  void TearDown() override {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }

  TempDir dir_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(HTTPSTest, SelfSignedCertificateFailsWithTheSSLWording) {
  RecordingDelegate delegate;
  auto request = HTTPRequest::requestWithURL(URL::parse(url()));
  request->setDelegate(&delegate);
  request->start();
  ASSERT_NE(request->error(), nullptr);
  EXPECT_EQ(request->error()->code, 1);
  EXPECT_EQ(request->error()->description,
            "A connection failure occurred: SSL problem (possibily a bad/expired/self-signed "
            "certificate)");
  ASSERT_NE(request->error()->underlying, nullptr);
  EXPECT_EQ(request->error()->underlying->domain, HTTPReadStream::kOSStatusErrorDomain);
  EXPECT_GE(request->error()->underlying->code, -9818);
  EXPECT_LE(request->error()->underlying->code, -9800);
  EXPECT_EQ(delegate.failed, 1);
}

TEST_F(HTTPSTest, WithoutValidationItSucceeds) {
  auto request = HTTPRequest::requestWithURL(URL::parse(url()));
  request->setValidatesSecureCertificate(false);
  request->start();
  ASSERT_EQ(request->error(), nullptr) << request->error()->description;
  EXPECT_EQ(request->responseString(), "secure");
}

}  // namespace
}  // namespace glowsnap::test
