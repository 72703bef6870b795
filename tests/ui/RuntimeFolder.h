#pragma once
// Qt keeps per-user runtime files in XDG_RUNTIME_DIR, which a desktop session provides and
// test runs (CI, a terminal without a session) do not; without it Qt warns on every start.
// Tests get a private folder of the user's own, as a session would give them.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace bunkmere::testing {

inline void ProvideRuntimeFolder() {
  if (const char* set = std::getenv("XDG_RUNTIME_DIR"); set != nullptr && *set != '\0') return;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                             "/bunkmere-runtime-" + std::to_string(getuid());
  mkdir(folder.c_str(), 0700);
  struct stat s {};
  if (stat(folder.c_str(), &s) == 0 && s.st_uid == getuid() && S_ISDIR(s.st_mode)) {
    chmod(folder.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  }
}

}  // namespace bunkmere::testing
