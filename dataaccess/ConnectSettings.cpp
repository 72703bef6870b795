#include "dataaccess/ConnectSettings.h"

#include <array>
#include <vector>

#include "core/Convert.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"

namespace bunkmere {
namespace {

enum class TKey {
  Password,
  Provider,
  Server,
  Database,
  IntegratedSecurity,
  UserID,
  Port,
  ConnectTimeout,
  Language,
  PersistSecurityInfo,
  AutoTranslate,
  NetworkLibrary,
  ApplicationName,
  WorkstationID,
  PacketSize,
  InitialFileName,
  MultipleActiveResultSets,
  FailoverPartner,
  TrustServerCertificate,
  ApplicationIntent,
  Encrypt,
  ForceCreateDatabase,
  LoginPrompt,
  Pooling,
  ConnectionLifeTime,
  MaxPoolSize,
  MinPoolSize,
  ValidateConnection,
  HostNameInCertificate,
  CAFile,
  Ignored,
};

struct TName {
  std::string_view Name;
  TKey Key;
};

constexpr TName kNames[] = {
    {"Password", TKey::Password},
    {"PWD", TKey::Password},
    {"Provider", TKey::Provider},
    {"OLEDBProvider", TKey::Provider},
    {"Data Source", TKey::Server},
    {"Host", TKey::Server},
    {"Server", TKey::Server},
    {"Address", TKey::Server},
    {"Addr", TKey::Server},
    {"Network Address", TKey::Server},
    {"Initial Catalog", TKey::Database},
    {"Database", TKey::Database},
    {"Integrated Security", TKey::IntegratedSecurity},
    {"Trusted_Connection", TKey::IntegratedSecurity},
    {"User ID", TKey::UserID},
    {"User", TKey::UserID},
    {"UID", TKey::UserID},
    {"User Name", TKey::UserID},
    {"UserName", TKey::UserID},
    {"Port", TKey::Port},
    {"Connect Timeout", TKey::ConnectTimeout},
    {"ConnectTimeout", TKey::ConnectTimeout},
    {"Connection Timeout", TKey::ConnectTimeout},
    {"ConnectionTimeout", TKey::ConnectTimeout},
    {"Current Language", TKey::Language},
    {"Language", TKey::Language},
    {"PersistSecurityInfo", TKey::PersistSecurityInfo},
    {"Persist Security Info", TKey::PersistSecurityInfo},
    {"AutoTranslate", TKey::AutoTranslate},
    {"Auto Translate", TKey::AutoTranslate},
    {"Network Library", TKey::NetworkLibrary},
    {"Network", TKey::NetworkLibrary},
    {"NetworkLibrary", TKey::NetworkLibrary},
    {"NetLibrary", TKey::NetworkLibrary},
    {"Net", TKey::NetworkLibrary},
    {"ApplicationName", TKey::ApplicationName},
    {"Application Name", TKey::ApplicationName},
    {"AppName", TKey::ApplicationName},
    {"WorkstationID", TKey::WorkstationID},
    {"Workstation ID", TKey::WorkstationID},
    {"WSID", TKey::WorkstationID},
    {"Packet Size", TKey::PacketSize},
    {"PacketSize", TKey::PacketSize},
    {"AttachDBFileName", TKey::InitialFileName},
    {"InitialFileName", TKey::InitialFileName},
    {"InitFileName", TKey::InitialFileName},
    {"Initial File Name", TKey::InitialFileName},
    {"MultipleActiveResultSets", TKey::MultipleActiveResultSets},
    {"Multiple Active Result Sets", TKey::MultipleActiveResultSets},
    {"MARS Connection", TKey::MultipleActiveResultSets},
    {"MARS", TKey::MultipleActiveResultSets},
    {"FailoverPartner", TKey::FailoverPartner},
    {"Failover Partner", TKey::FailoverPartner},
    {"Failover_Partner", TKey::FailoverPartner},
    {"TrustServerCertificate", TKey::TrustServerCertificate},
    {"Trust Server Certificate", TKey::TrustServerCertificate},
    {"ApplicationIntent", TKey::ApplicationIntent},
    {"Application Intent", TKey::ApplicationIntent},
    {"Use Encryption for Data", TKey::Encrypt},
    {"Encryption", TKey::Encrypt},
    {"Encrypt", TKey::Encrypt},
    {"Force Create Database", TKey::ForceCreateDatabase},
    {"ForceCreateDatabase", TKey::ForceCreateDatabase},
    {"Login Prompt", TKey::LoginPrompt},
    {"LoginPrompt", TKey::LoginPrompt},
    {"Pooling", TKey::Pooling},
    {"Connection LifeTime", TKey::ConnectionLifeTime},
    {"ConnectionLifeTime", TKey::ConnectionLifeTime},
    {"Max Pool Size", TKey::MaxPoolSize},
    {"MaxPoolSize", TKey::MaxPoolSize},
    {"Min Pool Size", TKey::MinPoolSize},
    {"MinPoolSize", TKey::MinPoolSize},
    {"Validate Connection", TKey::ValidateConnection},
    {"ValidateConnection", TKey::ValidateConnection},
    {"HostNameInCertificate", TKey::HostNameInCertificate},
    {"Host Name In Certificate", TKey::HostNameInCertificate},
    {"CAFile", TKey::CAFile},
    {"CA File", TKey::CAFile},
    {"Use Procedure for Prepare", TKey::Ignored},
    {"Asynchronous Connection", TKey::Ignored},
    {"Client Failover", TKey::Ignored},
    {"Tag with column collation when possible", TKey::Ignored},
};

const TName* FindName(std::string_view AName) {
  for (const TName& n : kNames)
    if (SameText(n.Name, AName)) return &n;
  return nullptr;
}

// Characters a value may hold without double quotes: " " to "9", "@" to "Z", "a" to "z",
// "\", "_" and "|".
bool AllowedUnquoted(unsigned char c) {
  return (c >= ' ' && c <= '9') || (c >= '@' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '\\' ||
         c == '_' || c == '|';
}

// The whole UTF-8 character starting at s[i], for the message.
std::string CharacterAt(std::string_view s, std::size_t i) {
  std::size_t len = 1;
  auto lead = static_cast<unsigned char>(s[i]);
  if (lead >= 0xF0)
    len = 4;
  else if (lead >= 0xE0)
    len = 3;
  else if (lead >= 0xC0)
    len = 2;
  len = std::min(len, s.size() - i);
  std::size_t k = 1;
  while (k < len && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) ++k;
  return std::string(s.substr(i, k));
}

struct TPair {
  std::string Name;
  std::string Value;
  TKey Key;
  bool AfterSecret = false;  // read after an unquoted password: may be the password's own tail
};

constexpr const char* kAfterSecret =
    " (the parameter after the password; a password holding \";\" must be written in double "
    "quotes)";

bool IsSecretName(std::string_view AName) {
  return SameText(AName, "Password") || SameText(AName, "PWD");
}

std::vector<TPair> ReadPairs(std::string_view AText) {
  std::string_view text = TrimView(AText);
  std::vector<TPair> pairs;
  std::size_t i = 0, n = text.size();
  // A password holding an unquoted ";" is cut there, and its tail is read as the next
  // parameter: a message about that parameter must not show it, or it shows the password.
  bool afterSecret = false;
  auto fail = [&afterSecret](const std::string& AMessage, const std::string& AShown) {
    if (afterSecret) throw EDatabaseError(AMessage + kAfterSecret);
    throw EDatabaseError(AMessage + ": " + AShown);
  };
  while (i < n) {
    std::size_t j = i;
    while (j < n && text[j] != '=' && text[j] != ';') ++j;
    std::string name = Trim(text.substr(i, j - i));
    std::string value;
    bool quotedValue = false;
    std::size_t next;
    if (j == n || text[j] == ';') {
      next = j + 1;
      if (name.empty()) {  // an empty piece, such as a trailing ";"
        i = next;
        continue;
      }
    } else {
      std::size_t k = j + 1;
      bool quoted = false;
      while (k < n && (quoted || text[k] != ';')) {
        if (text[k] == '"') quoted = !quoted;
        ++k;
      }
      next = k + 1;
      if (name.empty()) throw EDatabaseError("Connection parameter name missing");
      std::string_view raw = TrimView(text.substr(j + 1, k - j - 1));
      bool wrapped = raw.size() >= 2 && raw.front() == '"' && raw.back() == '"';
      quotedValue = wrapped;
      if (wrapped) {
        // A doubled quote inside stands for one: how a value holding both a quote and a ";"
        // is written (see Put).
        value = StringReplace(TrimView(raw.substr(1, raw.size() - 2)), "\"\"", "\"");
      } else {
        value = std::string(raw);
        if (!IsSecretName(name))
          for (std::size_t c = 0; c < value.size(); ++c)
            if (!AllowedUnquoted(static_cast<unsigned char>(value[c]))) {
              if (afterSecret)
                fail("Invalid character in non-quoted connection parameter value", "");
              throw EDatabaseError("Invalid character '" + CharacterAt(value, c) +
                                   "' in non-quoted connection parameter value");
            }
      }
    }
    for (const TPair& p : pairs)
      if (SameText(p.Name, name)) fail("Connection parameter cannot be added twice", name);
    const TName* known = FindName(name);
    if (known == nullptr) fail("Connection parameter name is unknown", name);
    const bool secret = IsSecretName(name);
    pairs.push_back({std::move(name), std::move(value), known->Key, afterSecret});
    // A password cut at an unquoted ";" may go on for several pieces: every pair after it may
    // be its tail. A quoted password ends where its quotes say.
    if (secret) afterSecret = !quotedValue;
    i = next;
  }
  return pairs;
}

// The platform's conversion errors, but never showing a value that may be a password's tail.
std::int32_t IntOf(const TPair& p) {
  if (!p.AfterSecret) return StrToInt(p.Value);
  std::int32_t v = 0;
  if (!TryStrToInt(p.Value, v))
    throw EConvertError(std::string("Not a valid integer value") + kAfterSecret);
  return v;
}

bool BoolOf(const TPair& p) {
  if (!p.AfterSecret) return StrToBool(p.Value);
  bool v = false;
  if (!TryStrToBool(p.Value, v))
    throw EConvertError(std::string("Not a valid boolean value") + kAfterSecret);
  return v;
}

// "Encrypt": a Boolean text as ever, and the words other clients of these servers use.
void ApplyEncrypt(TConnectSettings& s, const TPair& p) {
  s.EncryptStrict = false;
  if (SameText(p.Value, "yes") || SameText(p.Value, "Mandatory")) {
    s.Encrypt = true;
  } else if (SameText(p.Value, "no") || SameText(p.Value, "Optional")) {
    s.Encrypt = false;
  } else if (SameText(p.Value, "Strict")) {
    s.Encrypt = true;
    s.EncryptStrict = true;
  } else {
    s.Encrypt = BoolOf(p);
  }
}

[[noreturn]] void BadValue(const TPair& p) {
  if (p.AfterSecret)
    throw EDatabaseError(std::string("Bad connection parameter value") + kAfterSecret);
  throw EDatabaseError("Bad connection parameter value: " + p.Name + "=" + p.Value);
}

void ResetToDefaults(TConnectSettings& s) {
  TConnectSettings d;
  // These four survive a new connection string unless it sets them.
  d.ApplicationName = s.ApplicationName;
  d.WorkstationID = s.WorkstationID;
  d.NativeClientVersion = s.NativeClientVersion;
  d.CompactVersion = s.CompactVersion;
  s = std::move(d);
}

// A quote anywhere needs the quoted form too: bare, it would hide the following ";" from the
// reader and swallow the pairs after it.
bool NeedsQuotes(std::string_view AValue, bool ASecret) {
  if (AValue.empty()) return false;
  if (AValue.front() == ' ' || AValue.back() == ' ') return true;
  for (char c : AValue) {
    if (c == '"' || c == ';') return true;
    if (!ASecret && !AllowedUnquoted(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

void Put(std::string& out, std::string_view name, std::string_view value, bool secret = false) {
  if (!out.empty()) out += ';';
  out += name;
  out += '=';
  if (NeedsQuotes(value, secret)) {
    // Doubled quotes keep the reader's count of quotes even, so every ";" inside stays inside.
    out += '"';
    out += StringReplace(value, "\"", "\"\"");
    out += '"';
  } else {
    out += value;
  }
}

const char* BoolText(bool v) {
  return v ? "True" : "False";
}

}  // namespace

std::string ProviderString(TOLEDBProvider AProvider, TNativeClientVersion ANativeClient,
                           TCompactVersion ACompact) {
  switch (AProvider) {
    case TOLEDBProvider::prNativeClient:
      switch (ANativeClient) {
        case TNativeClientVersion::nc2008:
          return "SQLNCLI10.1";
        case TNativeClientVersion::nc2012:
          return "SQLNCLI11.1";
        default:
          return "SQLNCLI.1";
      }
    case TOLEDBProvider::prCompact:
      switch (ACompact) {
        case TCompactVersion::cv30:
          return "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.0";
        case TCompactVersion::cv35:
          return "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.5";
        default:
          return "MICROSOFT.SQLSERVER.MOBILE.OLEDB.4.0";
      }
    default:
      return "SQLOLEDB.1";
  }
}

std::optional<TProviderSelection> ParseProviderString(std::string_view AText,
                                                      TNativeClientVersion ACurrent) {
  using P = TOLEDBProvider;
  using N = TNativeClientVersion;
  using C = TCompactVersion;
  if (SameText(AText, "SQLOLEDB.1")) return TProviderSelection{P::prSQL, {}, {}};
  if (SameText(AText, "SQLNCLI.1"))
    return TProviderSelection{P::prNativeClient, ACurrent == N::nc2005 ? N::nc2005 : N::ncAuto, {}};
  if (SameText(AText, "SQLNCLI10.1")) return TProviderSelection{P::prNativeClient, N::nc2008, {}};
  if (SameText(AText, "SQLNCLI11.1")) return TProviderSelection{P::prNativeClient, N::nc2012, {}};
  if (SameText(AText, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.0"))
    return TProviderSelection{P::prCompact, {}, C::cv30};
  if (SameText(AText, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.3.5"))
    return TProviderSelection{P::prCompact, {}, C::cv35};
  if (SameText(AText, "MICROSOFT.SQLSERVER.MOBILE.OLEDB.4.0"))
    return TProviderSelection{P::prCompact, {}, C::cv40};
  return std::nullopt;
}

std::string GenerateConnectString(const TConnectSettings& s) {
  const TConnectSettings d;
  std::string out;
  // "Data Source" before "Provider": after a compact-edition provider it would name the
  // database instead.
  if (!s.Server.empty()) Put(out, "Data Source", s.Server);
  if (s.Provider != d.Provider)
    Put(out, "Provider", ProviderString(s.Provider, s.NativeClientVersion, s.CompactVersion));
  if (s.Port != d.Port) Put(out, "Port", IntToStr(s.Port));
  if (!s.Database.empty()) Put(out, "Initial Catalog", s.Database);
  if (s.Authentication == TMSAuthentication::auWindows) Put(out, "Integrated Security", "SSPI");
  if (!s.Username.empty()) Put(out, "User ID", s.Username);
  if (!s.Password.empty()) Put(out, "Password", s.Password, true);
  if (s.ConnectionTimeout != d.ConnectionTimeout)
    Put(out, "Connect Timeout", IntToStr(s.ConnectionTimeout));
  if (!s.Language.empty()) Put(out, "Current Language", s.Language);
  if (!s.NetworkLibrary.empty()) Put(out, "Network Library", s.NetworkLibrary);
  if (!s.ApplicationName.empty()) Put(out, "Application Name", s.ApplicationName);
  if (!s.WorkstationID.empty()) Put(out, "Workstation ID", s.WorkstationID);
  if (s.PacketSize != d.PacketSize) Put(out, "Packet Size", IntToStr(s.PacketSize));
  if (!s.InitialFileName.empty()) Put(out, "Initial File Name", s.InitialFileName);
  if (!s.FailoverPartner.empty()) Put(out, "Failover Partner", s.FailoverPartner);
  if (s.PersistSecurityInfo != d.PersistSecurityInfo)
    Put(out, "Persist Security Info", BoolText(s.PersistSecurityInfo));
  if (s.AutoTranslate != d.AutoTranslate) Put(out, "Auto Translate", BoolText(s.AutoTranslate));
  if (s.EncryptStrict)
    Put(out, "Encrypt", "Strict");
  else if (s.Encrypt != d.Encrypt)
    Put(out, "Encrypt", BoolText(s.Encrypt));
  if (s.MultipleActiveResultSets != d.MultipleActiveResultSets)
    Put(out, "MultipleActiveResultSets", BoolText(s.MultipleActiveResultSets));
  if (s.TrustServerCertificate != d.TrustServerCertificate)
    Put(out, "Trust Server Certificate", BoolText(s.TrustServerCertificate));
  if (!s.HostNameInCertificate.empty())
    Put(out, "Host Name In Certificate", s.HostNameInCertificate);
  if (!s.CAFile.empty()) Put(out, "CA File", s.CAFile);
  if (s.ApplicationIntent != d.ApplicationIntent) Put(out, "Application Intent", "ReadOnly");
  if (s.ForceCreateDatabase != d.ForceCreateDatabase)
    Put(out, "Force Create Database", BoolText(s.ForceCreateDatabase));
  if (s.LoginPrompt != d.LoginPrompt) Put(out, "Login Prompt", BoolText(s.LoginPrompt));
  if (s.Pooling != d.Pooling) Put(out, "Pooling", BoolText(s.Pooling));
  if (s.ConnectionLifeTime != d.ConnectionLifeTime)
    Put(out, "Connection LifeTime", IntToStr(s.ConnectionLifeTime));
  if (s.MaxPoolSize != d.MaxPoolSize) Put(out, "Max Pool Size", IntToStr(s.MaxPoolSize));
  if (s.MinPoolSize != d.MinPoolSize) Put(out, "Min Pool Size", IntToStr(s.MinPoolSize));
  if (s.ValidateConnection != d.ValidateConnection)
    Put(out, "Validate Connection", BoolText(s.ValidateConnection));
  return out;
}

void ApplyConnectString(TConnectSettings& ASettings, std::string_view AText) {
  // Work on a copy: any failure leaves the caller's settings untouched.
  TConnectSettings s = ASettings;
  ResetToDefaults(s);
  bool windows = false;
  for (const TPair& p : ReadPairs(AText)) {
    switch (p.Key) {
      case TKey::Password:
        s.Password = p.Value;
        break;
      case TKey::Provider: {
        auto sel = ParseProviderString(p.Value, s.NativeClientVersion);
        if (!sel) BadValue(p);
        s.Provider = sel->Provider;
        if (sel->NativeClientVersion) s.NativeClientVersion = *sel->NativeClientVersion;
        if (sel->CompactVersion) s.CompactVersion = *sel->CompactVersion;
        break;
      }
      case TKey::Server:
        (s.Provider == TOLEDBProvider::prCompact ? s.Database : s.Server) = p.Value;
        break;
      case TKey::Database:
        s.Database = p.Value;
        break;
      case TKey::IntegratedSecurity: {
        bool value = false;
        if (p.Value == "SSPI")
          value = true;
        else if (!TryStrToBool(p.Value, value))
          BadValue(p);
        windows = value;
        break;
      }
      case TKey::UserID:
        s.Username = p.Value;
        break;
      case TKey::Port:
        s.Port = IntOf(p);
        break;
      case TKey::ConnectTimeout:
        s.ConnectionTimeout = IntOf(p);
        break;
      case TKey::Language:
        s.Language = p.Value;
        break;
      case TKey::PersistSecurityInfo:
        s.PersistSecurityInfo = BoolOf(p);
        break;
      case TKey::AutoTranslate:
        s.AutoTranslate = BoolOf(p);
        break;
      case TKey::NetworkLibrary:
        s.NetworkLibrary = p.Value;
        break;
      case TKey::ApplicationName:
        s.ApplicationName = p.Value;
        break;
      case TKey::WorkstationID:
        s.WorkstationID = p.Value;
        break;
      case TKey::PacketSize:
        s.PacketSize = IntOf(p);
        break;
      case TKey::InitialFileName:
        s.InitialFileName = p.Value;
        break;
      case TKey::MultipleActiveResultSets:
        s.MultipleActiveResultSets = BoolOf(p);
        break;
      case TKey::FailoverPartner:
        s.FailoverPartner = p.Value;
        break;
      case TKey::TrustServerCertificate:
        s.TrustServerCertificate = BoolOf(p);
        break;
      case TKey::ApplicationIntent:
        if (SameText(p.Value, "ReadWrite"))
          s.ApplicationIntent = TApplicationIntent::aiReadWrite;
        else if (SameText(p.Value, "ReadOnly"))
          s.ApplicationIntent = TApplicationIntent::aiReadOnly;
        else
          BadValue(p);
        break;
      case TKey::Encrypt:
        ApplyEncrypt(s, p);
        break;
      case TKey::HostNameInCertificate:
        s.HostNameInCertificate = p.Value;
        break;
      case TKey::CAFile:
        s.CAFile = p.Value;
        break;
      case TKey::ForceCreateDatabase:
        s.ForceCreateDatabase = BoolOf(p);
        break;
      case TKey::LoginPrompt:
        s.LoginPrompt = BoolOf(p);
        break;
      case TKey::Pooling:
        s.Pooling = BoolOf(p);
        break;
      case TKey::ConnectionLifeTime:
        s.ConnectionLifeTime = IntOf(p);
        break;
      case TKey::MaxPoolSize:
        s.MaxPoolSize = IntOf(p);
        break;
      case TKey::MinPoolSize:
        s.MinPoolSize = IntOf(p);
        break;
      case TKey::ValidateConnection:
        s.ValidateConnection = BoolOf(p);
        break;
      case TKey::Ignored:
        break;
    }
  }
  if (windows) s.Authentication = TMSAuthentication::auWindows;
  ASettings = std::move(s);
}

}  // namespace bunkmere
