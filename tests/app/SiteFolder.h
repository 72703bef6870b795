#pragma once
// A site as the program meets it: a folder holding Veltrane.Cfg/Veltrane.ini whose ConnStr
// reaches a stand-in's JAIL database. The program finds the file when started from that
// folder; an in-process test makes the folder current while it builds the window. The
// folder goes with the object.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "standin/testing/StandinServer.h"

namespace bunkmere::testing {

// The program library as a site keeps it, its JAIL row saying "use the site file's string".
inline constexpr const char* kProgramLibrary =
    "CREATE TABLE ConnectLib (\n"
    "  ProgramID VARCHAR(20) NOT NULL,\n"
    "  ConnString VARCHAR(255) NULL,\n"
    "  HelpFile VARCHAR(255) NULL,\n"
    "  LogFile VARCHAR(255) NULL,\n"
    "  UseInitial BIT NULL)\n"
    "INSERT INTO ConnectLib VALUES ('JAIL', NULL, NULL, NULL, 1)\n";

// The family's connection string for AServer's JAIL database (its SQL login).
inline std::string SiteConnectString(const standin::testing::StandinServer& AServer) {
  return "Data Source=" + AServer.Host() + "," + std::to_string(AServer.Port()) +
         ";Initial Catalog=JAIL;User ID=" + AServer.User() + ";Password=" + AServer.Password();
}

class TSiteFolder {
 public:
  // AIniText is the whole site file; no file at all when it is empty and AWriteFile false.
  explicit TSiteFolder(const std::string& AIniText, bool AWriteFile = true) {
    std::string pattern = (std::filesystem::temp_directory_path() / "bunkmere-site-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
    if (!AWriteFile) return;
    std::filesystem::create_directory(FPath / "Veltrane.Cfg");
    std::ofstream(FPath / "Veltrane.Cfg" / "Veltrane.ini", std::ios::binary) << AIniText;
  }
  // A site file whose ConnStr is AConnStr.
  static TSiteFolder For(const std::string& AConnStr) {
    return TSiteFolder("; written by the tests\r\n[DataProvider]\r\nConnStr=" + AConnStr + "\r\n");
  }
  TSiteFolder(TSiteFolder&& AOther) noexcept : FPath(std::move(AOther.FPath)) {
    AOther.FPath.clear();
  }
  TSiteFolder(const TSiteFolder&) = delete;
  TSiteFolder& operator=(const TSiteFolder&) = delete;
  ~TSiteFolder() {
    std::error_code ignored;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

// The current directory changed for the object's life.
class TCurrentDirectory {
 public:
  explicit TCurrentDirectory(const std::filesystem::path& APath)
      : FPrevious(std::filesystem::current_path()) {
    std::filesystem::current_path(APath);
  }
  ~TCurrentDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(FPrevious, ignored);
  }
  TCurrentDirectory(const TCurrentDirectory&) = delete;
  TCurrentDirectory& operator=(const TCurrentDirectory&) = delete;

 private:
  std::filesystem::path FPrevious;
};

}  // namespace bunkmere::testing
