#include "config/VeltraneCfg.h"

#include <utility>

#include "config/ConnectionStringOverlay.h"
#include "config/IniText.h"
#include "config/SitePaths.h"
#include "core/Convert.h"
#include "core/Exceptions.h"
#include "core/SqlText.h"
#include "platform/Platform.h"

namespace bunkmere {

// ---------------------------------------------------------------------------------------------
// TVeltraneIni

TVeltraneIni::TVeltraneIni(TComponent* AOwner) : TComponent(AOwner) {
  if (!IsLoading()) Loaded();
}

void TVeltraneIni::Loaded() {
  TComponent::Loaded();
  DetectMobile();
  if (!FOverrideIniFileName) FVeltraneIni = LocateIniFile();
  ReadSettings();
}

void TVeltraneIni::DetectMobile() {
  if (FOverrideSettings) return;
  const TPlatform& platform = CurrentPlatform();
  FIsMobile = platform.FileExists(ModuleFolder(platform) + std::string(kMobileIniName));
}

std::string TVeltraneIni::LocateIniFile() const {
  return LocateSiteFile(CurrentPlatform());
}

void TVeltraneIni::ReadSettings() {
  if (FOverrideSettings) return;
  const TPlatform& platform = CurrentPlatform();
  // A missing file reads as empty and so ends in the connection-string message below, which
  // names the path that was tried.
  const std::optional<std::string> bytes = platform.ReadFileIfExists(FVeltraneIni);
  const TIniText ini = bytes ? TIniText(platform.DecodeFileText(*bytes)) : TIniText();

  FHelpFilePath = ini.ReadString("Paths", "HelpPath", "");
  FLogFilePath = ini.ReadString("Paths", "LogPath", "");
  const auto enabled = ini.Value("Paging", "Enabled");
  FPagingEnabled = enabled && IniStrToInt(*enabled).value_or(0) != 0;
  FServerKey = ini.ReadString("Server", "ServerKey", "");
  FLibPathUnexpanded = ini.ReadString("Paths", "LibPath", "");
  FBaseConnectionString = ini.ReadString("DataProvider", "ConnStr", "");

  if (FBaseConnectionString.empty() && !IsDesigning())
    throw EIniFileException("Database connection information not found in " + FVeltraneIni +
                            " (DataProvider.ConnStr)");
}

void TVeltraneIni::CheckOverrideSettings(const char* AProperty) const {
  if (!FOverrideSettings)
    throw Exception(std::string("Cannot set ") + AProperty + " when OverrideSettings is False");
}

void TVeltraneIni::SetOverrideIniFileName(bool AValue) {
  FOverrideIniFileName = AValue;
  DetectMobile();
  if (!AValue) {
    FVeltraneIni = LocateIniFile();
    ReadSettings();
  }
}

void TVeltraneIni::SetOverrideSettings(bool AValue) {
  FOverrideSettings = AValue;
  if (!AValue) ReadSettings();
}

void TVeltraneIni::SetVeltraneIni(const std::string& AValue) {
  if (!FOverrideIniFileName)
    throw Exception("Cannot set VeltraneIni when OverrideIniFileName is False");
  if (!CurrentPlatform().FileExists(AValue))
    throw EIniFileException("File not found: " + QuotedStr(AValue));
  FVeltraneIni = AValue;
  ReadSettings();
}

void TVeltraneIni::SetPagingEnabled(bool AValue) {
  CheckOverrideSettings("PagingEnabled");
  FPagingEnabled = AValue;
}

void TVeltraneIni::SetIsMobile(bool AValue) {
  CheckOverrideSettings("IsMobile");
  FIsMobile = AValue;
}

std::string TVeltraneIni::ConnectionString() const {
  return bunkmere::ApplyConnectionStringOverlay(FBaseConnectionString, FConnectionStringOverlay);
}

void TVeltraneIni::SetConnectionString(const std::string& AValue) {
  CheckOverrideSettings("ConnectionString");
  FBaseConnectionString = AValue;
}

void TVeltraneIni::SetHelpFilePath(const std::string& AValue) {
  CheckOverrideSettings("HelpFilePath");
  FHelpFilePath = AValue;
}

void TVeltraneIni::SetLogFilePath(const std::string& AValue) {
  CheckOverrideSettings("LogFilePath");
  FLogFilePath = AValue;
}

void TVeltraneIni::SetServerKey(const std::string& AValue) {
  CheckOverrideSettings("ServerKey");
  FServerKey = AValue;
}

void TVeltraneIni::SetLibPathUnexpanded(const std::string& AValue) {
  CheckOverrideSettings("LibPathUnexpanded");
  FLibPathUnexpanded = AValue;
}

std::string TVeltraneIni::LibPath() const {
  return ExpandLibPath(CurrentPlatform(), FLibPathUnexpanded, FVeltraneIni);
}

std::string TVeltraneIni::ApplyConnectionStringOverlay(std::string_view Original,
                                                       std::string_view Overlay) {
  return bunkmere::ApplyConnectionStringOverlay(Original, Overlay);
}

// ---------------------------------------------------------------------------------------------
// TVtCustomConfigInfo

namespace {

// Both are process-wide by design: a person at a form designer who chose to skip lookups
// means every configuration-info component there.
bool GSkipLookups = false;
TLookupErrorPrompt& LookupErrorPrompt() {
  static TLookupErrorPrompt prompt;
  return prompt;
}

}  // namespace

TLookupErrorPrompt SetLookupErrorPrompt(TLookupErrorPrompt APrompt) {
  return std::exchange(LookupErrorPrompt(), std::move(APrompt));
}

bool TVtCustomConfigInfo::SkipLookups() const noexcept {
  return IsDesigning() && GSkipLookups;
}

void TVtCustomConfigInfo::SetSkipLookups(bool AValue) noexcept {
  if (IsDesigning()) GSkipLookups = AValue;
}

std::string TVtCustomConfigInfo::GetConnectString(const std::string& AProgramID) {
  const std::string connection_string = ConnectionString();
  if (connection_string.empty() || AProgramID.empty()) return {};
  std::string result = LookupProgramValue(AProgramID, "ConnString", connection_string);
  // A string the library takes from the site file already carries the overlay and gets it
  // once more; the overlay's own pairs come out the same.
  if (!result.empty()) result = ApplyConnectionStringOverlay(result, ConnectionStringOverlay());
  return result;
}

std::string TVtCustomConfigInfo::GetHelpPath(const std::string& AProgramID) {
  if (ConnectionString().empty() || AProgramID.empty()) return {};
  return LookupProgramValue(AProgramID, "HelpFile", HelpFilePath());
}

std::string TVtCustomConfigInfo::GetLogPath(const std::string& AProgramID) {
  if (ConnectionString().empty() || AProgramID.empty()) return {};
  return LookupProgramValue(AProgramID, "LogFile", LogFilePath());
}

bool TVtCustomConfigInfo::HandleLookupError(const Exception& E) {
  if (!IsDesigning()) return false;
  // Always the base class's name, whatever E is: the person sees one kind of question.
  const std::string text =
      "Exception: " + E.Message() + "\r\n\r\nDo you want to skip similar lookup operations?";
  const TLookupErrorPrompt& prompt = LookupErrorPrompt();
  if (prompt && prompt(text)) GSkipLookups = true;
  return true;
}

}  // namespace bunkmere
