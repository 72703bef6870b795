// bunkmere-sitecheck: tells a site administrator whether Bunkmere, installed beside it, would
// start and connect on this workstation, and if not, at which step and why.
#include <cstring>
#include <exception>
#include <iostream>

#include "platform/CrashDumps.h"
#include "sitecheck/SiteCheck.h"

namespace {

constexpr int kUsageError = 64;

void PrintUsage(std::ostream& AOut) {
  AOut << "Usage: bunkmere-sitecheck\n"
          "Checks, as Bunkmere installed in this folder would meet them: the site file, its\n"
          "settings, the program library row for JAIL, the ODBC driver and the connection.\n"
          "Steps 3 and 5 also report each connection's security: the driver, what the\n"
          "connection string asks (Encrypt, TrustServerCertificate, Host Name In Certificate,\n"
          "CA File), what was negotiated and whether the certificate is validated, with a\n"
          "WARNING naming the setting to add when data may travel unencrypted or unvalidated.\n"
          "Without Encrypt, the login is encrypted when the server can and data only when the\n"
          "server forces it; Encrypt=True encrypts all and validates the certificate;\n"
          "Encrypt=Strict asks for TDS 8.0 (Microsoft's ODBC Driver 18).\n"
          "Passwords are never printed.\n"
          "Exit codes: 0 Bunkmere would start and connect; 2 no site file; 3 site settings;\n"
          "4 program library; 5 ODBC driver; 6 connection; 1 the check itself failed.\n";
}

}  // namespace

int main(int argc, char** argv) {
  bunkmere::KeepMemoryOutOfCrashDumps();  // before any password is read
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintUsage(std::cout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "bunkmere-sitecheck " BUNKMERE_VERSION "\n";
    return 0;
  }
  if (argc > 1) {
    std::cerr << "bunkmere-sitecheck: unexpected argument '" << argv[1] << "'\n";
    PrintUsage(std::cerr);
    return kUsageError;
  }
  try {
    return bunkmere::RunSiteCheck(std::cout);
  } catch (const std::exception& e) {
    std::cout << "\nbunkmere-sitecheck: the check itself failed: " << e.what() << '\n';
    return 1;
  }
}
