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
  std::string UserName() const override;
  std::string ComputerName() const override;
  TDateTime Now() const override;
  TFormatSettings FormatSettings() const override;
  // CP_UTF8 when the system's ANSI code page is UTF-8, else Windows-1252 (the code page the
  // site files of this family are written in).
  unsigned AnsiCodePage() const override;
  std::optional<std::string> ReadFileIfExists(const std::string& APath) const override;
  void WriteFileBytes(const std::string& APath, const std::string& ABytes) const override;

 protected:
  std::string FileNotFoundReason() const override;
};

// The system's text for a Win32 error code, without the trailing full stop and line break.
std::string Win32ErrorText(unsigned long AError);

}  // namespace bunkmere
