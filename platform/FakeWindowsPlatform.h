#pragma once
// A platform that behaves as Windows does, for tests: drive letters A to Z each with a type,
// "\" separators ("/" accepted as one), paths compared without regard to letter case, UNC
// paths (\\server\share\...) on registered shares, drives mapped to network shares, and an
// in-memory file system of folders and files. Everything else (module file name, user and
// computer names, clock, regional formats, code page) is set by the test.
//
// A path is visible only on an existing drive or registered share. A file on a mapped drive
// is stored under the drive letter; the share's own UNC path does not alias it.
//
// Not thread-safe; a test owns its instance.

#include <map>
#include <set>
#include <string>

#include "platform/Platform.h"

namespace bunkmere {

class TFakeWindowsPlatform : public TPlatform {
 public:
  // Drive C: fixed and empty, current directory "C:\", module "C:\Bunkmere\Bunkmere.exe",
  // user "operator" on "WORKSTATION1", clock 2026-12-10 04:43:50, US formats, code page 1252.
  TFakeWindowsPlatform();

  // --- set-up ---
  // ALetter "A" to "Z"; dtNoRootDir removes the drive and everything on it.
  void SetDrive(char ALetter, TDriveType AType);
  // A remote drive whose network path is ANetworkPath ("\\server\share").
  void MapDrive(char ALetter, const std::string& ANetworkPath);
  // Makes \\server\share reachable (a remote root).
  void AddShare(const std::string& AShare);
  // Folders and files get every missing parent folder; their drive or share must exist.
  void AddFolder(const std::string& APath);
  void AddFile(const std::string& APath, const std::string& ABytes);
  // A locked file exists but can be neither read nor written (another process holds it).
  void SetFileLocked(const std::string& APath, bool ALocked);
  // The file's bytes as last written; none when no such file.
  std::optional<std::string> FileBytes(const std::string& APath) const;
  void SetModuleFileName(std::string AValue) { FModuleFileName = std::move(AValue); }
  void SetCurrentDirectory(const std::string& APath);
  void SetUserName(std::string AValue) { FUserName = std::move(AValue); }
  void SetComputerName(std::string AValue) { FComputerName = std::move(AValue); }
  void SetNow(TDateTime AValue) { FNow = AValue; }
  void SetFormatSettings(TFormatSettings AValue) { FFormatSettings = std::move(AValue); }
  void SetAnsiCodePage(unsigned AValue) { FAnsiCodePage = AValue; }
  // Processes ProcessAlive reports as running (none at first).
  void SetProcessAlive(unsigned long APid, bool AAlive);

  // --- TPlatform ---
  std::string ModuleFileName() const override { return FModuleFileName; }
  char PathDelimiter() const override { return '\\'; }
  std::vector<std::string> DriveRoots() const override;
  TDriveType DriveType(const std::string& ARoot) const override;
  std::string DriveRootOf(const std::string& APath) const override;
  bool FileExists(const std::string& APath) const override;
  bool DirectoryExists(const std::string& APath) const override;
  std::string FullPathName(const std::string& APath) const override;
  std::optional<std::string> UniversalName(const std::string& APath) const override;
  std::string CurrentDirectory() const override { return FCurrentDirectory; }
  std::string UserName() const override { return FUserName; }
  std::string ComputerName() const override { return FComputerName; }
  TDateTime Now() const override { return FNow; }
  TFormatSettings FormatSettings() const override { return FFormatSettings; }
  unsigned AnsiCodePage() const override { return FAnsiCodePage; }
  std::optional<std::string> ReadFileIfExists(const std::string& APath) const override;
  void WriteFileBytes(const std::string& APath, const std::string& ABytes) const override;
  // None, File or Folder: the fake has no links or devices.
  TPathKind PathKind(const std::string& APath) const override;
  std::string ReadFileHead(const std::string& APath, std::size_t AMaxBytes) const override;
  bool CreateNewFile(const std::string& APath, const std::string& ABytes) const override;
  // Files named "~NAME.PID.N.tmp", as the Windows build names them; their paths upper-case.
  std::vector<TLeftTempFile> TempFilesIn(const std::string& AFolder) const override;
  bool ProcessAlive(unsigned long APid) const override { return FAlive.count(APid) != 0; }
  // Also set-up: removes a file a test added.
  bool RemoveFile(const std::string& APath) const override;

 private:
  struct TFile {
    std::string Bytes;
    bool Locked = false;
  };
  // Upper-case full path without a trailing "\": the key of folders and files.
  std::string Key(const std::string& APath) const;
  bool RootExists(const std::string& AKey) const;
  bool ParentExists(const std::string& AKey) const;

 protected:
  std::string FileNotFoundReason() const override {
    return "The system cannot find the file specified";
  }

 private:
  std::map<char, TDriveType> FDrives;  // upper-case letter
  std::map<char, std::string> FMappedDrives;
  std::set<std::string> FShares;  // upper-case \\SERVER\SHARE
  std::set<std::string> FFolders;
  // Written by the const WriteFileBytes, as a real file system changes under a const handle.
  mutable std::map<std::string, TFile> FFiles;
  std::string FModuleFileName = "C:\\Bunkmere\\Bunkmere.exe";
  std::string FCurrentDirectory = "C:\\";
  std::string FUserName = "operator";
  std::string FComputerName = "WORKSTATION1";
  TDateTime FNow = 0;
  TFormatSettings FFormatSettings;
  unsigned FAnsiCodePage = 1252;
  std::set<unsigned long> FAlive;
};

// The full form of a Windows path against ACurrentDirectory (itself full): "/" read as "\",
// drive-relative ("D:x"), rooted ("\x"), relative and UNC paths resolved, "." and ".."
// applied lexically (never above the drive or share root), repeated "\" folded, a trailing
// "\" kept. Letter case is kept.
std::string WindowsFullPathName(const std::string& APath, const std::string& ACurrentDirectory);
// The root of a full Windows path: "D:\" or "\\server\share\"; empty when it has none.
std::string WindowsPathRoot(const std::string& AFullPath);

}  // namespace bunkmere
