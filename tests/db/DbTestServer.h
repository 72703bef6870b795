#pragma once
// A private sqlstandin with a small JAIL database for the record-lock and connection tests,
// and a Windows-like platform so the holder rows name a known user, computer, program and
// time. Statement-log helpers give the statements one session sent since a mark.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/MSConnection.h"
#include "platform/FakeWindowsPlatform.h"
#include "platform/Platform.h"
#include "standin/testing/StandinServer.h"
#include "tests/CannotRun.h"

namespace bunkmere::testing {

// CFGCELL has an identity "UniqueKey"; KEYS has a text one for hostile keys; NOKEY has none.
extern const char* const kLockScript;

class TDbTestServer {
 public:
  explicit TDbTestServer(const std::vector<std::string>& AFaults = {});

  // Points AConnection at the server's JAIL database; no connect yet.
  void Configure(TMSConnection& AConnection) const;
  std::unique_ptr<TMSConnection> NewConnection() const;
  // The connection string of the family's format that reaches the server.
  std::string ConnectString() const;

  std::size_t Mark() const { return FServer.Statements().size(); }
  // Statement texts received since AMark, from every session.
  std::vector<std::string> SqlSince(std::size_t AMark) const;
  // Runs one statement on a connection of its own (another workstation).
  void Exec(const std::string& ASql) const;
  // The number of rows a query returns, on a connection of its own.
  int CountRows(const std::string& ASql) const;

  standin::testing::StandinServer& Server() { return FServer; }

 private:
  standin::testing::StandinServer FServer;
};

// The holder the fake platform describes.
inline constexpr const char* kUser = "operator";
inline constexpr const char* kComputer = "WORKSTATION1";
inline constexpr const char* kProgram = "Bunkmere.exe";

// Base fixture: the fake platform in place, then the server.
class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!standin::testing::StandinServer::Available())
      BUNKMERE_CANNOT_RUN("no sqlstandin in this build");
  }
  TFakeWindowsPlatform FPlatform;
  TPlatformOverride FOverride{FPlatform};
};

}  // namespace bunkmere::testing
