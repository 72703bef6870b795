#include "sitecheck/WritableFolders.h"

#include "config/SitePaths.h"
#include "core/Encoding.h"
#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#undef CP_UTF8
#endif

namespace bunkmere {

std::string FolderFixCommand(const std::string& AFolder) {
  // SIDs rather than names, which are translated on other languages' Windows: SYSTEM and
  // Administrators full control, Users read and execute; nothing inherited, and the rights
  // granted to Authenticated Users, Everyone and Interactive removed.
  return "icacls \"" + AFolder +
         "\" /inheritance:r /remove:g *S-1-5-11 *S-1-1-0 *S-1-5-4 /grant:r *S-1-5-18:(OI)(CI)F "
         "*S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX";
}

#ifdef _WIN32

namespace {

std::wstring Wide(std::string_view AText) {
  const std::u16string u = Utf8ToUtf16(AText);
  return std::wstring(u.begin(), u.end());
}

struct TLocalFree {
  void operator()(void* AMemory) const noexcept { LocalFree(AMemory); }
};

// The rights that let a person put or replace a file in a folder or change who may.
constexpr ACCESS_MASK kWriteRights = GENERIC_WRITE | GENERIC_ALL | FILE_ADD_FILE |
                                     FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                     WRITE_DAC | WRITE_OWNER;

std::string WritersIn(PACL AAcl) {
  if (AAcl == nullptr) return "Everyone (the folder has no access list at all)";
  struct TOrdinary {
    WELL_KNOWN_SID_TYPE Type;
    const char* Name;
  } const ordinary[] = {{WinBuiltinUsersSid, "Users"},
                        {WinAuthenticatedUserSid, "Authenticated Users"},
                        {WinWorldSid, "Everyone"},
                        {WinInteractiveSid, "Interactive"}};
  std::string writers;
  for (const TOrdinary& o : ordinary) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (!CreateWellKnownSid(o.Type, nullptr, sid, &size)) continue;
    for (DWORD i = 0; i < AAcl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(AAcl, i, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      // An entry only for what is made in the folder does not let anyone write in it.
      if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      if ((allowed->Mask & kWriteRights) == 0) continue;
      if (!EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid)) continue;
      writers += (writers.empty() ? "" : ", ") + std::string(o.Name);
      break;
    }
  }
  return writers;
}

// Who may write in AFolder; none when its permissions cannot be read.
std::string FolderWriters(const std::string& AFolder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring folder = Wide(AFolder);
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return {};
  const std::unique_ptr<void, TLocalFree> owner(descriptor);
  return WritersIn(dacl);
}

}  // namespace

std::string OrdinaryWriters(const std::string& ASddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(ASddl).c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return {};
  const std::unique_ptr<void, TLocalFree> owner(descriptor);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return {};
  return WritersIn(present ? dacl : nullptr);
}

std::vector<std::string> WritableFolderWarnings(const TPlatform& APlatform,
                                                const std::optional<std::string>& ASiteFile) {
  std::vector<std::string> folders{ModuleFolder(APlatform)};
  if (ASiteFile) {
    const std::string site = APlatform.ExtractFilePath(APlatform.FullPathName(*ASiteFile));
    if (site != folders.front()) folders.push_back(site);
  }
  std::vector<std::string> lines;
  for (std::string folder : folders) {
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    const std::string writers = FolderWriters(folder);
    if (writers.empty()) continue;
    lines.push_back("WARNING: " + writers + " may write in " + folder +
                    ": anyone of them can replace the program or put a site file in front of "
                    "the real one. As an administrator, run:");
    lines.push_back("  " + FolderFixCommand(folder));
  }
  return lines;
}

#else

std::string OrdinaryWriters(const std::string& /*ASddl*/) {
  return {};
}

std::vector<std::string> WritableFolderWarnings(const TPlatform& /*APlatform*/,
                                                const std::optional<std::string>& /*ASiteFile*/) {
  return {};
}

#endif

}  // namespace bunkmere
