#pragma once
// The platform services on Windows, from the system's own calls: drive letters and their
// types, mapped network drives, the user's regional formats and the ANSI code page.
// Text crosses to the system as UTF-16 (the "W" calls), so any file name works whatever the
// code page.

#include "platform/Platform.h"

namespace bunkmere {

class TWin32Platform : public TPlatform {
 public:
  std::string ModuleFileName() const override;
  char PathDelimiter() const override { return '\\'; }
  std::vector<std::string> DriveRoots() const override;
  TDriveType DriveType(const std::string& ARoot) const override;
  std::string DriveRootOf(const std::string& APath) const override;
  bool FileExists(const std::string& APath) const override;
  bool DirectoryExists(const std::string& APath) const override;
  std::string FullPathName(const std::string& APath) const override;
  std::optional<std::string> UniversalName(const std::string& APath) const override;
  std::string CurrentDirectory() const override;
  std::string LogFolder() const override;
  std::string UserName() const override;
  std::string ComputerName() const override;
  TDateTime Now() const override;
  TFormatSettings FormatSettings() const override;
  // GetACP(): files without a byte-order mark are read and written in it by the system's
  // own conversions, so a workstation on 1250, 1251 or 932 reads its site file right.
  unsigned AnsiCodePage() const override;
  std::string DecodeFileText(std::string_view ABytes) const override;
  std::string EncodeAnsiText(std::string_view AText) const override;
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
};

// The folder LogFolder chooses, from what it found: the current directory; the Windows folder
// and the program's (full paths); whether a file can be made in the current directory; the
// user's Documents folder (empty when the system has none).
std::string ChooseLogFolder(const std::string& ACurrent, const std::string& AWindows,
                            const std::string& AProgram, bool ACurrentWritable,
                            const std::string& ADocuments);

// The system's text for a Win32 error code, without the trailing full stop and line break.
std::string Win32ErrorText(unsigned long AError);

}  // namespace bunkmere
