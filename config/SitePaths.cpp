#include "config/SitePaths.h"

#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

bool UsesDriveLetters(const TPlatform& APlatform) {
  return APlatform.PathDelimiter() == '\\';
}

bool IsQualifyingDrive(TDriveType AType) {
  return AType == TDriveType::dtFixed || AType == TDriveType::dtRemote;
}

bool HasDriveLetter(std::string_view APath) {
  return APath.size() >= 2 && IsAsciiLetter(APath[0]) && APath[1] == ':';
}

// The configuration folder's file under ARoot, which ends with the delimiter (or is empty for
// the candidate relative to the current directory).
std::string SiteFileUnder(std::string_view ARoot, char ADelimiter) {
  std::string path(ARoot);
  path.append(kCfgFolderName).append(1, ADelimiter).append(kSiteIniName);
  return path;
}

// Beside the family's application folder: a module anywhere below "...\VELTRANE.APP\" finds
// "...\Veltrane.Cfg\Veltrane.ini". The marker matches in any letter case, yet the kept
// prefix is spelled as the folder spells it.
std::string BesideAppFolder(std::string_view AModuleFolder, char ADelimiter) {
  std::string folder = StringReplace(TrimView(AModuleFolder), "/", std::string(1, ADelimiter));
  const std::size_t marker = FindText(folder, kAppFolderMarker);
  folder.resize(marker == std::string::npos ? 0 : marker);
  return SiteFileUnder(folder, ADelimiter);
}

std::string ModuleDriveRoot(const TPlatform& APlatform, std::string_view AModuleFolder) {
  if (!UsesDriveLetters(APlatform)) return APlatform.DriveRootOf(std::string(AModuleFolder));
  // Whatever the module's path starts with is taken as its drive letter.
  if (AModuleFolder.empty()) return {};
  return std::string(1, AModuleFolder[0]) + ":\\";
}

// Drives C to Z on Windows (A and B are floppy letters, never searched); every mount point on
// POSIX. Only fixed and network drives qualify.
std::vector<std::string> SearchedDriveRoots(const TPlatform& APlatform) {
  std::vector<std::string> roots;
  if (UsesDriveLetters(APlatform)) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      std::string root{letter, ':', '\\'};
      if (IsQualifyingDrive(APlatform.DriveType(root))) roots.push_back(std::move(root));
    }
  } else {
    for (std::string& root : APlatform.DriveRoots())
      if (IsQualifyingDrive(APlatform.DriveType(root))) roots.push_back(std::move(root));
  }
  return roots;
}

}  // namespace

std::string ModuleFolder(const TPlatform& APlatform) {
  return APlatform.ExtractFilePath(Trim(APlatform.ModuleFileName()));
}

std::vector<std::string> SiteFileCandidates(const TPlatform& APlatform) {
  const char delimiter = APlatform.PathDelimiter();
  const std::string module_folder = ModuleFolder(APlatform);
  std::vector<std::string> candidates{module_folder + std::string(kMobileIniName),
                                      BesideAppFolder(module_folder, delimiter)};
  const std::string drive_root = ModuleDriveRoot(APlatform, module_folder);
  if (!drive_root.empty()) candidates.push_back(SiteFileUnder(drive_root, delimiter));
  for (const std::string& root : SearchedDriveRoots(APlatform))
    candidates.push_back(SiteFileUnder(root, delimiter));
  return candidates;
}

std::string LocateSiteFile(const TPlatform& APlatform) {
  const std::vector<std::string> candidates = SiteFileCandidates(APlatform);
  // A mobile installation reads its own file and nothing else.
  const std::string& mobile = candidates.front();
  // A site file in a folder someone else could write may have been planted there to send the
  // password of the next connection elsewhere: it is passed over as if it were not there.
  auto usable = [&APlatform](const std::string& APath) {
    return APlatform.FileExists(APath) && APlatform.UntrustedFolderReason(APath).empty();
  };
  if (usable(mobile)) {
    // The file may be taken away between the two checks; say so rather than fall through to
    // a site file the mobile installation never meant to use.
    if (!APlatform.FileExists(mobile)) throw EIniFileException("Roveline.ini not found");
    return mobile;
  }
  for (std::size_t i = 1; i < candidates.size(); ++i)
    if (usable(candidates[i])) return candidates[i];
  throw EIniFileException("Veltrane.ini not found.");
}

std::string ExpandLibPath(const TPlatform& APlatform, std::string_view ALibPath,
                          std::string_view AIniPath) {
  const char delimiter = APlatform.PathDelimiter();
  const bool drives = UsesDriveLetters(APlatform);
  // Already absolute: a network path, or (on Windows) a path with a drive.
  if (ALibPath.size() >= 2 &&
      ((ALibPath[0] == delimiter && ALibPath[1] == delimiter) || (drives && ALibPath[1] == ':')))
    return std::string(ALibPath);
  // Rooted: on the site file's drive (on POSIX the drive part is empty, so it stays as is).
  if (!ALibPath.empty() && ALibPath[0] == delimiter)
    return APlatform.ExtractFileDrive(std::string(AIniPath)) + std::string(ALibPath);

  std::string full = APlatform.FullPathName(APlatform.ExtractFilePath(std::string(AIniPath)) +
                                            std::string(ALibPath));
  if (drives && HasDriveLetter(full)) {
    // Other workstations reach the library by its share, not by this one's drive letter.
    if (auto unc = APlatform.UniversalName(full)) return *unc;
  }
  return full;
}

}  // namespace bunkmere
