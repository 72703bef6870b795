#include "platform/Platform.h"

#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"
#ifdef _WIN32
#include "platform/Win32Platform.h"
#else
#include "platform/PosixPlatform.h"
#endif

namespace bunkmere {

namespace {
// The platform a test put in place; none means the one the process runs on.
TPlatform* gPlatformOverride = nullptr;
}  // namespace

std::optional<TPlatform::TLeftTempFile> TPlatform::ParseTempName(std::string_view AName) {
  constexpr std::string_view kSuffix = ".tmp";
  if (AName.size() <= kSuffix.size() ||
      LowerCase(std::string(AName.substr(AName.size() - kSuffix.size()))) != kSuffix)
    return std::nullopt;
  AName.remove_suffix(kSuffix.size());
  // The attempt number, then the process id: digits only, each after a ".".
  const auto takeNumber = [&AName]() -> std::optional<unsigned long> {
    const std::size_t dot = AName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == AName.size() || AName.size() - dot > 11)
      return std::nullopt;
    unsigned long n = 0;
    for (char c : AName.substr(dot + 1)) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    AName = AName.substr(0, dot);
    return n;
  };
  if (!takeNumber()) return std::nullopt;
  const auto pid = takeNumber();
  if (!pid || AName.empty()) return std::nullopt;
  TLeftTempFile file;
  file.TargetName = std::string(AName);
  file.Pid = *pid;
  return file;
}

std::string TPlatform::ExecutableFileName() const {
  return ExtractFileName(ModuleFileName());
}

namespace {
// Position just after the folder part of APath.
std::size_t FileNameStart(const std::string& APath, char ADelimiter) {
  const std::size_t last = APath.find_last_of(ADelimiter == '\\' ? "\\:" : "/");
  return last == std::string::npos ? 0 : last + 1;
}
}  // namespace

std::string TPlatform::ExtractFilePath(const std::string& APath) const {
  return APath.substr(0, FileNameStart(APath, PathDelimiter()));
}

std::string TPlatform::ExtractFileName(const std::string& APath) const {
  return APath.substr(FileNameStart(APath, PathDelimiter()));
}

std::string TPlatform::ExtractFileDrive(const std::string& APath) const {
  if (PathDelimiter() != '\\') return {};
  if (APath.size() >= 2 && APath[1] == ':' && IsAsciiLetter(APath[0])) return APath.substr(0, 2);
  if (APath.size() >= 2 && APath[0] == '\\' && APath[1] == '\\') {
    // Both the server and the share must be named.
    const std::size_t server = APath.find('\\', 2);
    if (server == std::string::npos || server == 2) return {};
    const std::size_t share = APath.find('\\', server + 1);
    if (share == server + 1) return {};
    return APath.substr(0, share);
  }
  return {};
}

std::string TPlatform::DecodeFileText(std::string_view ABytes) const {
  return DecodeText(ABytes, AnsiCodePage());
}

std::string TPlatform::EncodeAnsiText(std::string_view AText) const {
  return EncodeAnsi(AText, AnsiCodePage());
}

std::string TPlatform::ReadFileBytes(const std::string& APath) const {
  if (auto bytes = ReadFileIfExists(APath)) return std::move(*bytes);
  throw EFileError("Cannot open file \"" + FullPathName(APath) + "\". " + FileNotFoundReason());
}

TPlatform& CurrentPlatform() {
  if (gPlatformOverride != nullptr) return *gPlatformOverride;
#ifdef _WIN32
  static TWin32Platform platform;
#else
  static TPosixPlatform platform;
#endif
  return platform;
}

TPlatformOverride::TPlatformOverride(TPlatform& APlatform) : FPrevious(gPlatformOverride) {
  gPlatformOverride = &APlatform;
}

TPlatformOverride::~TPlatformOverride() {
  gPlatformOverride = FPrevious;
}

}  // namespace bunkmere
