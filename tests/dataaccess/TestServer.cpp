#include "TestServer.h"

#include <cstdlib>
#include <regex>

#include "core/StrUtils.h"
#ifdef BUNKMERE_TEST_WITHOUT_STANDIN
// The Windows build cannot start the stand-in (a Linux program); it reaches one that the
// test command started, through BUNKMERE_TEST_MSSQL.
namespace standin::testing {
class StandinServer {};
}  // namespace standin::testing
#else
#include "standin/testing/StandinServer.h"
#endif

namespace bunkmere::testing {
namespace {

// Splits "Key=Value;..." of an ODBC connection string (braced values allowed).
std::vector<std::pair<std::string, std::string>> OdbcPairs(const std::string& s) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t eq = s.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = Trim(s.substr(i, eq - i));
    std::string value;
    std::size_t j = eq + 1;
    if (j < s.size() && s[j] == '{') {
      ++j;
      while (j < s.size()) {
        if (s[j] == '}') {
          if (j + 1 < s.size() && s[j + 1] == '}') {
            value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += s[j++];
      }
      j = s.find(';', j);
    } else {
      std::size_t semi = s.find(';', j);
      value = s.substr(j, semi == std::string::npos ? std::string::npos : semi - j);
      j = semi;
    }
    out.emplace_back(key, Trim(value));
    if (j == std::string::npos) break;
    i = j + 1;
  }
  return out;
}

std::vector<std::string> Batches(const std::string& AScript) {
  std::vector<std::string> out;
  std::string current;
  std::size_t start = 0;
  while (start <= AScript.size()) {
    std::size_t nl = AScript.find('\n', start);
    std::string line =
        AScript.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (SameText(Trim(line), "GO")) {
      if (!Trim(current).empty()) out.push_back(current);
      current.clear();
    } else {
      current += line + "\n";
    }
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (!Trim(current).empty()) out.push_back(current);
  return out;
}

}  // namespace

TTestServer::TTestServer(const std::string& AScript, const std::vector<std::string>& ATables,
                         const std::vector<std::string>& AFaults) {
  const char* real = std::getenv("BUNKMERE_TEST_MSSQL");
  if (real != nullptr && *real != '\0') {
    for (const auto& [key, value] : OdbcPairs(real)) {
      if (SameText(key, "Server"))
        FSettings.Server = value;
      else if (SameText(key, "Database"))
        FSettings.Database = value;
      else if (SameText(key, "UID"))
        FSettings.Username = value;
      else if (SameText(key, "PWD"))
        FSettings.Password = value;
      else if (SameText(key, "Trusted_Connection") && SameText(value, "yes"))
        FSettings.Authentication = TMSAuthentication::auWindows;
    }
    FUsable = true;
    for (const std::string& t : ATables)
      Exec("IF OBJECT_ID('" + t + "') IS NOT NULL DROP TABLE [" + t + "]");
    for (const std::string& batch : Batches(AScript)) Exec(batch);
    return;
  }
#ifndef BUNKMERE_TEST_WITHOUT_STANDIN
  if (!standin::testing::StandinServer::Available()) return;
  standin::testing::StandinOptions options;
  options.initScript = "CREATE DATABASE JAIL\nGO\nUSE JAIL\nGO\n" + AScript;
  options.faults = AFaults;
  FStandin = std::make_unique<standin::testing::StandinServer>(options);
  FSettings.Server = FStandin->Host();
  FSettings.Port = FStandin->Port();
  FSettings.Database = "JAIL";
  FSettings.Username = FStandin->User();
  FSettings.Password = FStandin->Password();
  FUsable = true;
#else
  (void)AFaults;  // faults need the stand-in's own options
#endif
}

TTestServer::~TTestServer() = default;

void TTestServer::Configure(TMSConnection& c) const {
  c.SetServer(FSettings.Server);
  c.SetPort(FSettings.Port);
  c.SetDatabase(FSettings.Database);
  c.SetAuthentication(FSettings.Authentication);
  c.SetUsername(FSettings.Username);
  c.SetPassword(FSettings.Password);
  c.SetLoginPrompt(false);
  c.SetConnectionTimeout(5);
}

std::unique_ptr<TMSConnection> TTestServer::NewConnection() const {
  auto c = std::make_unique<TMSConnection>(nullptr);
  Configure(*c);
  return c;
}

std::size_t TTestServer::Mark() const {
#ifndef BUNKMERE_TEST_WITHOUT_STANDIN
  if (FStandin) return FStandin->Statements().size();
#endif
  return 0;
}

std::vector<TServerStatement> TTestServer::Since(std::size_t AMark) const {
  std::vector<TServerStatement> out;
#ifndef BUNKMERE_TEST_WITHOUT_STANDIN
  if (!FStandin) return out;
  static const std::regex marker("@P[0-9]+");
  std::vector<standin::testing::LoggedStatement> all = FStandin->Statements();
  for (std::size_t k = AMark; k < all.size(); ++k) {
    TServerStatement s;
    s.Sql = std::regex_replace(all[k].sql, marker, "?");
    s.Batch = all[k].kind == "batch";
    s.Proc = all[k].proc;
    for (const auto& p : all[k].params) s.Params.push_back(p.value ? *p.value : "NULL");
    out.push_back(std::move(s));
  }
#else
  (void)AMark;
#endif
  return out;
}

std::vector<std::string> TTestServer::SqlSince(std::size_t AMark) const {
  std::vector<std::string> out;
  for (const TServerStatement& s : Since(AMark)) out.push_back(s.Sql);
  return out;
}

void TTestServer::Exec(const std::string& ASql) const {
  auto c = NewConnection();
  c->Options().SetDefaultLockTimeout(-1);
  c->ExecSQL(ASql);
}

}  // namespace bunkmere::testing
