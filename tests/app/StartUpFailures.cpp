#include "tests/app/StartUpFailures.h"

#include <gtest/gtest.h>

namespace bunkmere::testing {

namespace {

using standin::testing::StandinServer;

std::unique_ptr<StandinServer> ServerHolding(const std::string& ATables) {
  return std::make_unique<StandinServer>("CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n" + ATables);
}

// A site whose ConnStr names a server that is not there.
TStartUpSite SiteReaching(const std::string& AConnStr) {
  TStartUpSite s;
  s.Site = std::make_unique<TSiteFolder>(TSiteFolder::For(AConnStr));
  return s;
}

// A site reaching a server whose JAIL database holds ATables.
TStartUpSite GoodSiteWith(const std::string& ATables) {
  TStartUpSite s;
  s.Server = ServerHolding(ATables);
  s.Site = std::make_unique<TSiteFolder>(TSiteFolder::For(SiteConnectString(*s.Server)));
  return s;
}

}  // namespace

const std::vector<TStartUpFailure>& StartUpFailures() {
  static const std::vector<TStartUpFailure> failures = {
      {"no site file", "EIniFileException", "Veltrane.ini not found.",
       [] {
         TStartUpSite s;
         s.Site = std::make_unique<TSiteFolder>("", false);
         return s;
       }},
      {"a site file without ConnStr", "EIniFileException",
       "Database connection information not found in Veltrane.Cfg/Veltrane.ini "
       "(DataProvider.ConnStr)",
       [] {
         TStartUpSite s;
         s.Site = std::make_unique<TSiteFolder>("[Paths]\r\nLogPath=x\r\n");
         return s;
       }},
      {"the server unreachable", "EDatabaseError", "",
       [] {
         auto closed = std::make_unique<TClosedPort>();
         TStartUpSite s = SiteReaching("Data Source=" + closed->Server() +
                                       ";Initial Catalog=JAIL;User ID=sa;Password=x");
         s.Message = "Cannot connect to SQL Server " + closed->Server() +
                     " (database JAIL): the server did not answer (connection refused)";
         s.Closed = std::move(closed);
         return s;
       }},
      {"the server silent", "EDatabaseError", "Cannot connect to SQL Server 127.0.0.1,",
       [] {
         TStartUpSite s;
         s.Silent = std::make_unique<TSilentPort>();
         s.Site = std::make_unique<TSiteFolder>(
             TSiteFolder::For("Data Source=" + s.Silent->Server() +
                              ";Initial Catalog=JAIL;User ID=sa;Password=x;Connect Timeout=2"));
         return s;
       }},
      {"no such server", "EDatabaseError",
       "Cannot connect to SQL Server no-such-host.invalid,1433 (database JAIL): the server's name "
       "is not known (no such host)",
       [] {
         return SiteReaching(
             "Data Source=no-such-host.invalid,1433;Initial Catalog=JAIL;User ID=sa;Password=x");
       }},
      {"the login refused", "EDatabaseError", "Login failed for user 'sa'.",
       [] {
         TStartUpSite s;
         s.Server = ServerHolding(kProgramLibrary);
         s.Site = std::make_unique<TSiteFolder>(TSiteFolder::For(
             "Data Source=" + s.Server->Host() + "," + std::to_string(s.Server->Port()) +
             ";Initial Catalog=JAIL;User ID=sa;Password=wrong"));
         return s;
       }},
      {"no ConnectLib table", "EDatabaseError", "Invalid object name 'ConnectLib'.",
       [] { return GoodSiteWith("CREATE TABLE Other (x INT)\n"); }},
      {"ConnectLib without UseInitial", "EDatabaseError", "Invalid column name 'UseInitial'.",
       [] {
         return GoodSiteWith(
             "CREATE TABLE ConnectLib (ProgramID VARCHAR(20), ConnString VARCHAR(255))\n");
       }},
  };
  return failures;
}

std::string ExpectApplicationError(const std::string& AStderr, const TStartUpFailure& AFailure,
                                   const TStartUpSite& ASite) {
  const std::string head =
      "Application Error: Exception " + std::string(AFailure.Class) + " in module Bunkmere at ";
  EXPECT_TRUE(AStderr.starts_with(head)) << AStderr;
  if (!AStderr.starts_with(head) || AStderr.size() < head.size() + 11) return "";
  EXPECT_EQ(AStderr.substr(head.size() + 8, 3), ".\n\n") << AStderr;
  const std::string message = ASite.Message.empty() ? AFailure.Message : ASite.Message;
  EXPECT_EQ(AStderr.substr(head.size() + 11, message.size()), message) << AStderr;
  EXPECT_GT(AStderr.size(), head.size() + 12) << "the message is empty";
  return AStderr.substr(head.size(), 8);
}

}  // namespace bunkmere::testing
