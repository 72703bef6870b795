#pragma once
// The platform services on Linux.
//
// Drive roots are the mount points of the process's mount table, each ending in "/". Their
// types: local disk file systems are fixed (removable when the block device says so),
// network file systems remote, optical media cdrom, tmpfs and ramfs ramdisk, everything
// else (proc, sysfs, devices, ...) unknown.
//
// Regional formats come from the locale the environment selects for LC_TIME, read without
// changing the process locale: the locale's date format becomes ShortDateFormat (its
// separator becomes DateSeparator), its time format LongTimeFormat, its AM/PM strings and
// month and day names the settings of the same meaning.

#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace bunkmere {

class TPosixPlatform : public TPlatform {
 public:
  std::string ModuleFileName() const override;
  char PathDelimiter() const override { return '/'; }
  std::vector<std::string> DriveRoots() const override;
  TDriveType DriveType(const std::string& ARoot) const override;
  std::string DriveRootOf(const std::string& APath) const override;
  bool FileExists(const std::string& APath) const override;
  std::string UntrustedFolderReason(const std::string& APath) const override;
  bool DirectoryExists(const std::string& APath) const override;
  std::string FullPathName(const std::string& APath) const override;
  std::optional<std::string> UniversalName(const std::string& APath) const override;
  std::string CurrentDirectory() const override;
  std::string UserName() const override;
  std::string ComputerName() const override;
  TDateTime Now() const override;
  TFormatSettings FormatSettings() const override;
  unsigned AnsiCodePage() const override;
  std::optional<std::string> ReadFileIfExists(const std::string& APath) const override;
  void WriteFileBytes(const std::string& APath, const std::string& ABytes) const override;
  TPathKind PathKind(const std::string& APath) const override;
  std::string ReadFileHead(const std::string& APath, std::size_t AMaxBytes) const override;
  bool CreateNewFile(const std::string& APath, const std::string& ABytes) const override;
  std::vector<TLeftTempFile> TempFilesIn(const std::string& AFolder) const override;
  bool ProcessAlive(unsigned long APid) const override;
  bool RemoveFile(const std::string& APath) const override;

 protected:
  std::string FileNotFoundReason() const override;

 private:
  // Who and where the process runs does not change while it runs, and the record lock names
  // them at every edit: reading the user database and the program's link each time cost more
  // client time than building the lock's statements. Looked up once.
  struct TIdentity {
    std::string ModuleFileName, UserName, ComputerName;
  };
  const TIdentity& Identity() const;
  mutable std::once_flag FIdentityOnce;
  mutable TIdentity FIdentity;
};

// "." and ".." resolved and repeated "/" folded in an absolute POSIX path, without asking the
// file system; ".." above the root stays at the root and a trailing "/" is kept.
std::string NormalizePosixPath(const std::string& AAbsolutePath);

}  // namespace bunkmere
