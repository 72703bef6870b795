#include "standin/testing/TestCertificates.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace standin::testing {
namespace {

// P-256 keys: made in milliseconds, and every client here accepts them.
constexpr const char* kScript = R"(set -e
cd "$1"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
key ca.key
openssl req -x509 -new -key ca.key -days 2 -subj "/CN=Bunkmere Test CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out ca.pem
issue() {  # name subject-alt-names
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$3" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
issue server localhost "DNS:localhost,IP:127.0.0.1"
issue other elsewhere.example "DNS:elsewhere.example"
key self.key
openssl req -x509 -new -key self.key -days 2 -subj "/CN=localhost" \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -out self.pem
rm -f ./*.csr ./*.ext ./*.srl
)";

}  // namespace

const TestCertificates& TestCertificates::Shared() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "standin-certs-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder for certificates");
  dir_ = tmpl;
  owner_ = ::getpid();
  std::ofstream(dir_ + "/make.sh") << kScript;
  std::string command = "sh '" + dir_ + "/make.sh' '" + dir_ + "' >'" + dir_ + "/openssl.txt' 2>&1";
  if (std::system(command.c_str()) != 0) {
    std::ifstream in(dir_ + "/openssl.txt");
    std::stringstream s;
    s << in.rdbuf();
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("openssl could not make the test certificates: " + s.str());
  }
  ca_ = dir_ + "/ca.pem";
  server_ = {dir_ + "/server.pem", dir_ + "/server.key"};
  selfSigned_ = {dir_ + "/self.pem", dir_ + "/self.key"};
  otherName_ = {dir_ + "/other.pem", dir_ + "/other.key"};
}

TestCertificates::~TestCertificates() {
  if (::getpid() != owner_) return;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace standin::testing
