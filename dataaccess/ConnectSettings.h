#pragma once
// The settings a connection string can carry, and the text forms that name them: the
// connection-string reader and generator, and the provider strings (which the family's
// connection component also uses for its stored provider entry).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bunkmere {

enum class TMSAuthentication : std::uint8_t { auWindows, auServer };
// Values outside the four kinds can reach a connection from a stored description; connecting
// with one fails with "Wrong provider name".
enum class TOLEDBProvider : std::uint8_t { prAuto, prSQL, prNativeClient, prCompact };
enum class TNativeClientVersion : std::uint8_t { ncAuto, nc2005, nc2008, nc2012 };
enum class TCompactVersion : std::uint8_t { cvAuto, cv30, cv35, cv40 };
enum class TApplicationIntent : std::uint8_t { aiReadWrite, aiReadOnly };

struct TConnectSettings {
  std::string Server, Database, Username, Password;
  int Port = 1433;
  int ConnectionTimeout = 15;
  TMSAuthentication Authentication = TMSAuthentication::auServer;
  bool LoginPrompt = true;
  TOLEDBProvider Provider = TOLEDBProvider::prAuto;
  TNativeClientVersion NativeClientVersion = TNativeClientVersion::ncAuto;
  TCompactVersion CompactVersion = TCompactVersion::cvAuto;
  std::string Language, NetworkLibrary, InitialFileName, FailoverPartner;
  std::string ApplicationName, WorkstationID;
  bool PersistSecurityInfo = false;
  // Encryption asked for ("True", "yes", "Mandatory" or "Strict"); "Strict" also asks for TDS
  // 8.0, TLS before the login's first byte.
  bool Encrypt = false;
  bool EncryptStrict = false;
  bool MultipleActiveResultSets = false;
  bool TrustServerCertificate = false;
  // The name the server's certificate must carry, when it is not the server's name as the
  // string gives it; and a file of authorities to trust beyond the system's.
  std::string HostNameInCertificate, CAFile;
  bool AutoTranslate = true;
  bool ForceCreateDatabase = true;
  int PacketSize = 4096;
  TApplicationIntent ApplicationIntent = TApplicationIntent::aiReadWrite;
  bool Pooling = false;
  bool ValidateConnection = false;
  int MaxPoolSize = 100;
  int MinPoolSize = 0;
  int ConnectionLifeTime = 0;

  bool operator==(const TConnectSettings&) const = default;
};

// The connection string of the settings: only what differs from the reset values, so default
// settings give the empty text. Reading it back gives the same settings.
std::string GenerateConnectString(const TConnectSettings& ASettings);

// Applies AText to ASettings as setting a connection's ConnectString does: the connection-string
// settings are reset to their defaults, then every pair of the text is applied. Raises
// EDatabaseError (or EConvertError for an unreadable number or Boolean) and then leaves
// ASettings exactly as it was.
void ApplyConnectString(TConnectSettings& ASettings, std::string_view AText);

// The provider string of a setting ("SQLOLEDB.1" for prAuto and prSQL).
std::string ProviderString(TOLEDBProvider AProvider, TNativeClientVersion ANativeClient,
                           TCompactVersion ACompact);

// What a provider string selects; none for a text that names no provider. A native client
// string without a version keeps nc2005 when ACurrent already holds it.
struct TProviderSelection {
  TOLEDBProvider Provider;
  std::optional<TNativeClientVersion> NativeClientVersion;
  std::optional<TCompactVersion> CompactVersion;
};
std::optional<TProviderSelection> ParseProviderString(std::string_view AText,
                                                      TNativeClientVersion ACurrent);

}  // namespace bunkmere
