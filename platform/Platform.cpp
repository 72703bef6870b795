#include "platform/Platform.h"

#include "core/Exceptions.h"
#include "platform/PosixPlatform.h"

namespace bunkmere {

namespace {
// The platform a test put in place; none means the one the process runs on.
TPlatform* gPlatformOverride = nullptr;
}  // namespace

std::string TPlatform::ExecutableFileName() const {
  const std::string path = ModuleFileName();
  const std::size_t slash = path.find_last_of(std::string("/") + PathDelimiter());
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TPlatform::ReadFileBytes(const std::string& APath) const {
  if (auto bytes = ReadFileIfExists(APath)) return std::move(*bytes);
  throw EFileError("Cannot open file \"" + FullPathName(APath) + "\". " + FileNotFoundReason());
}

TPlatform& CurrentPlatform() {
  if (gPlatformOverride != nullptr) return *gPlatformOverride;
  static TPosixPlatform platform;
  return platform;
}

TPlatformOverride::TPlatformOverride(TPlatform& APlatform) : FPrevious(gPlatformOverride) {
  gPlatformOverride = &APlatform;
}

TPlatformOverride::~TPlatformOverride() {
  gPlatformOverride = FPrevious;
}

}  // namespace bunkmere
