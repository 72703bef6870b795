#pragma once
// Certificates the tests make with `openssl` when first asked, in a temporary folder of their
// own that is removed when the test program ends: a CA, a server certificate it issued for
// "localhost" and 127.0.0.1, a self-signed one for the same names, and one the CA issued for
// another name. Keys are made here and never stored anywhere else.

#include <string>

namespace standin::testing {

struct CertificateFiles {
  std::string cert, key;
};

class TestCertificates {
 public:
  // Throws std::runtime_error (with openssl's output) when they cannot be made.
  static const TestCertificates& Shared();

  const std::string& CaFile() const { return ca_; }
  const CertificateFiles& Server() const { return server_; }
  const CertificateFiles& SelfSigned() const { return selfSigned_; }
  const CertificateFiles& OtherName() const { return otherName_; }
  // The name OtherName() was issued for.
  static constexpr const char* kOtherName = "elsewhere.example";

  ~TestCertificates();

 private:
  TestCertificates();
  std::string dir_, ca_;
  int owner_ = 0;  // the process that made them: a forked child must not remove them
  CertificateFiles server_, selfSigned_, otherName_;
};

}  // namespace standin::testing
