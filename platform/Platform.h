#pragma once
// The operating system's services that the system uses, behind one interface, so that the
// algorithms above are written once and tested against a fake that models Windows.
//
// Paths and names are UTF-8 text. Drive types use the Windows numbering.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"

namespace bunkmere {

enum class TDriveType : int {
  dtUnknown = 0,
  dtNoRootDir = 1,
  dtRemovable = 2,
  dtFixed = 3,
  dtRemote = 4,
  dtCdRom = 5,
  dtRamDisk = 6,
};

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // Full path of the running module (the executable).
  virtual std::string ModuleFileName() const = 0;
  // The file name part of ModuleFileName: no folder.
  std::string ExecutableFileName() const;
  // "\" on Windows, "/" on POSIX.
  virtual char PathDelimiter() const = 0;

  // Path text taken apart without asking the file system. On Windows "\" and the drive's
  // ":" end a folder ("/" does not); on POSIX "/".
  // The folder part, with its trailing delimiter; empty when there is none.
  std::string ExtractFilePath(const std::string& APath) const;
  // What follows the folder part.
  std::string ExtractFileName(const std::string& APath) const;
  // "D:" or "\\server\share" on Windows; empty for any other path and on POSIX.
  std::string ExtractFileDrive(const std::string& APath) const;

  // Roots to search for site files, in order: "A:\" to "Z:\" for every existing drive on
  // Windows; the mount points of the mount table on POSIX.
  virtual std::vector<std::string> DriveRoots() const = 0;
  virtual TDriveType DriveType(const std::string& ARoot) const = 0;
  // The root APath lies on ("D:\", "\\server\share\", a mount point); empty when none.
  virtual std::string DriveRootOf(const std::string& APath) const = 0;

  // A file, not a folder.
  virtual bool FileExists(const std::string& APath) const = 0;
  virtual bool DirectoryExists(const std::string& APath) const = 0;
  // Why the folder holding the file APath cannot be trusted to hold settings (someone other
  // than the user or the administrator could have put the file there); empty when it can. Only
  // POSIX answers: a Windows site's folders are the administrator's to secure.
  virtual std::string UntrustedFolderReason(const std::string& APath) const {
    (void)APath;
    return {};
  }
  // APath made absolute against the current directory, "." and ".." resolved lexically; a
  // trailing delimiter is kept.
  virtual std::string FullPathName(const std::string& APath) const = 0;
  // The network path of a path on a mapped network drive; none otherwise.
  virtual std::optional<std::string> UniversalName(const std::string& APath) const = 0;
  virtual std::string CurrentDirectory() const = 0;
  // The folder a log is saved to when no one names one: the current directory, unless a
  // system says that is no place for a person's files (see Win32LogFolder.cpp).
  virtual std::string LogFolder() const { return CurrentDirectory(); }

  virtual std::string UserName() const = 0;
  virtual std::string ComputerName() const = 0;
  virtual TDateTime Now() const = 0;
  virtual TFormatSettings FormatSettings() const = 0;
  // The system's ANSI code page: 65001 (UTF-8) or 1252 here; on Windows whatever the
  // system uses (1250, 1251, 932, ...).
  virtual unsigned AnsiCodePage() const = 0;
  // The text of a file's bytes: a byte-order mark selects UTF-8 or UTF-16, otherwise the bytes
  // are in the ANSI code page (see DecodeText for UTF-8 and 1252).
  virtual std::string DecodeFileText(std::string_view ABytes) const;
  // AText in the ANSI code page, for files the workstation's other programs read: characters
  // the code page lacks become "?". No byte-order mark.
  virtual std::string EncodeAnsiText(std::string_view AText) const;

  // The file's bytes; none when no file exists at APath. A file that exists but cannot be
  // read fails with EFileError naming the full path and the system's reason.
  virtual std::optional<std::string> ReadFileIfExists(const std::string& APath) const = 0;
  // As ReadFileIfExists, but a missing file fails with EFileError too.
  std::string ReadFileBytes(const std::string& APath) const;
  // Creates or replaces the file. Fails with EFileError naming the full path and the reason;
  // a replaced file is left intact when writing fails.
  virtual void WriteFileBytes(const std::string& APath, const std::string& ABytes) const = 0;

  // What is at APath itself: a symbolic link (a reparse point on Windows) is not followed.
  // Other: a FIFO, a device, a socket.
  enum class TPathKind { None, File, Folder, Link, Other };
  virtual TPathKind PathKind(const std::string& APath) const = 0;
  // At most AMaxBytes of the regular file at APath. Never reads through a link and never opens
  // a FIFO or a device (those would block or never end): they fail with EFileError, as does a
  // file that cannot be read.
  virtual std::string ReadFileHead(const std::string& APath, std::size_t AMaxBytes) const = 0;
  // Writes ABytes to APath as WriteFileBytes does, but only when nothing at all has that name
  // (a dangling link counts): false, with nothing written, when the name is taken. Two
  // processes creating the same name at once: exactly one gets true. No partial file is ever
  // seen under APath. Fails with EFileError as WriteFileBytes does.
  virtual bool CreateNewFile(const std::string& APath, const std::string& ABytes) const = 0;

  // A temporary file WriteFileBytes or CreateNewFile writes beside its target and leaves
  // behind only when its process is killed mid-write.
  struct TLeftTempFile {
    std::string Path;        // the temporary file
    std::string TargetName;  // the name it was to be written to, without a folder
    unsigned long Pid = 0;   // the writing process
  };
  // The regular files in AFolder named as those temporary files are; empty when the folder
  // cannot be read.
  virtual std::vector<TLeftTempFile> TempFilesIn(const std::string& AFolder) const = 0;
  // Whether a process with that id runs (or may: one we may not look at counts as running).
  virtual bool ProcessAlive(unsigned long APid) const = 0;
  // Removes the file; false when it could not be removed (or was not there).
  virtual bool RemoveFile(const std::string& APath) const = 0;

 protected:
  // "NAME.PID.N.tmp", what follows a temporary file's prefix, taken apart; none when the text
  // is not of that form. Letter case of ".tmp" is ignored (Windows).
  static std::optional<TLeftTempFile> ParseTempName(std::string_view AName);
  // The system's words for a missing file, for ReadFileBytes's message.
  virtual std::string FileNotFoundReason() const = 0;
};

// The platform the process runs on, or the one a test has put in its place.
TPlatform& CurrentPlatform();

// Puts APlatform in place of the current platform for its lifetime (tests). Overrides nest.
class TPlatformOverride {
 public:
  explicit TPlatformOverride(TPlatform& APlatform);
  ~TPlatformOverride();
  TPlatformOverride(const TPlatformOverride&) = delete;
  TPlatformOverride& operator=(const TPlatformOverride&) = delete;

 private:
  TPlatform* FPrevious;
};

}  // namespace bunkmere
