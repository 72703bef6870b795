#pragma once
// The site configuration: where the family's programs find their database.
//
// TVeltraneIni locates the site file (a mobile file beside the executable, a configuration
// folder beside the family's application folder, or one at the root of a fixed or network
// drive), reads the site-wide settings from it and lets the host set each of them by hand
// behind two switches. TVtCustomConfigInfo adds the per-program lookups (connection string,
// help and log paths) that a program library in the database answers; TVtConfigInfo
// (config/VtConfigInfo.h) implements them.
//
// Every file system question goes to the process's current platform (platform/Platform.h),
// asked at the time of each call, so tests can model a Windows workstation.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"

namespace bunkmere {

class Exception;

class TVeltraneIni : public TComponent {
 public:
  // Locates and reads the site file at once unless the component is being loaded from a
  // stored description, so the settings are usable when the constructor returns.
  explicit TVeltraneIni(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TVeltraneIni"; }

  // Locates (unless the file name is set by hand) and reads the site file afresh.
  void Loaded() override;

  // The switches come first: a stored description applies them before the values they unlock.
  bool OverrideIniFileName() const noexcept { return FOverrideIniFileName; }
  void SetOverrideIniFileName(bool AValue);
  bool OverrideSettings() const noexcept { return FOverrideSettings; }
  void SetOverrideSettings(bool AValue);

  bool PagingEnabled() const noexcept { return FPagingEnabled; }
  void SetPagingEnabled(bool AValue);
  bool IsMobile() const noexcept { return FIsMobile; }
  void SetIsMobile(bool AValue);
  // The site file in use; relative when found relative to the current directory.
  const std::string& VeltraneIni() const noexcept { return FVeltraneIni; }
  void SetVeltraneIni(const std::string& AValue);
  // The base connection string with the overlay merged in.
  std::string ConnectionString() const;
  void SetConnectionString(const std::string& AValue);
  const std::string& ConnectionStringOverlay() const noexcept { return FConnectionStringOverlay; }
  void SetConnectionStringOverlay(const std::string& AValue) { FConnectionStringOverlay = AValue; }
  const std::string& HelpFilePath() const noexcept { return FHelpFilePath; }
  void SetHelpFilePath(const std::string& AValue);
  const std::string& LogFilePath() const noexcept { return FLogFilePath; }
  void SetLogFilePath(const std::string& AValue);
  const std::string& ServerKey() const noexcept { return FServerKey; }
  void SetServerKey(const std::string& AValue);
  // LibPathUnexpanded made absolute against the site file's folder or drive.
  std::string LibPath() const;
  const std::string& LibPathUnexpanded() const noexcept { return FLibPathUnexpanded; }
  void SetLibPathUnexpanded(const std::string& AValue);

  // Uses no state of the instance; see config/ConnectionStringOverlay.h.
  static std::string ApplyConnectionStringOverlay(std::string_view Original,
                                                  std::string_view Overlay);

 protected:
  void DetectMobile();
  // The site file's path; fails with EIniFileException when there is none.
  std::string LocateIniFile() const;
  void ReadSettings();

 private:
  void CheckOverrideSettings(const char* AProperty) const;

  bool FOverrideSettings = false;
  bool FOverrideIniFileName = false;
  bool FPagingEnabled = false;
  std::string FLogFilePath;
  std::string FHelpFilePath;
  std::string FLibPathUnexpanded;
  std::string FVeltraneIni;
  bool FIsMobile = false;
  std::string FServerKey;
  std::string FBaseConnectionString;
  std::string FConnectionStringOverlay;
};

// The question put to the person at a form designer when a lookup fails there: the dialog's
// text in, true for Yes ("skip similar lookups") out. The window layer installs a message box;
// tests install their own answer. With none installed the answer is No.
using TLookupErrorPrompt = std::function<bool(const std::string& AText)>;
// Installs APrompt for the whole process and returns the one it replaces.
TLookupErrorPrompt SetLookupErrorPrompt(TLookupErrorPrompt APrompt);

// The per-program lookups against the site's program library.
class TVtCustomConfigInfo : public TVeltraneIni {
 public:
  explicit TVtCustomConfigInfo(TComponent* AOwner) : TVeltraneIni(AOwner) {}
  const char* ClassName() const noexcept override { return "TVtCustomConfigInfo"; }

  // The program's connection string with the overlay applied; empty without a base
  // connection string or a program identifier, or when the library has no value.
  virtual std::string GetConnectString(const std::string& AProgramID);
  virtual std::string GetHelpPath(const std::string& AProgramID);
  virtual std::string GetLogPath(const std::string& AProgramID);
  // Replaces APrograms by every program identifier of the library, in ascending order.
  virtual void GetProgramList(std::vector<std::string>& APrograms) = 0;

  // One flag for the whole process, seen and set only by components in a form designer: once
  // the person there chose to skip lookups, they stay skipped until someone sets it false.
  bool SkipLookups() const noexcept;
  void SetSkipLookups(bool AValue) noexcept;

 protected:
  // Column AFieldName of the program's row, ADefault when the row says to use the site
  // file's value, empty when there is no row.
  virtual std::string LookupProgramValue(const std::string& AProgramID,
                                         const std::string& AFieldName,
                                         const std::string& ADefault) = 0;
  // At run time false (the caller re-raises). In a form designer asks whether to skip similar
  // lookups and returns true, so the designer keeps working with an empty value.
  bool HandleLookupError(const Exception& E);
};

}  // namespace bunkmere
