#pragma once
// Where the site file is looked for, and how a library path in it is made absolute.
//
// On Windows the search runs over drive letters; on POSIX a mount point stands in for a drive
// root. The rules are written once over the platform's path delimiter: "\" in the Windows
// rules is the delimiter, and drive letters, colons and UNC shares only count on a platform
// whose delimiter is "\".

#include <string>
#include <string_view>
#include <vector>

namespace bunkmere {

class TPlatform;

inline constexpr std::string_view kMobileIniName = "Roveline.ini";
inline constexpr std::string_view kAppFolderMarker = "VELTRANE.APP";
inline constexpr std::string_view kCfgFolderName = "Veltrane.Cfg";
inline constexpr std::string_view kSiteIniName = "Veltrane.ini";

// The module's folder with its trailing delimiter.
std::string ModuleFolder(const TPlatform& APlatform);

// Every place the site file is looked for, in the order of the search: the mobile file beside
// the module; the configuration folder beside the family's application folder (or relative
// to the current directory when the module does not live under one); the root of the
// module's drive; every fixed or network drive from C to Z (mount points on POSIX). A place
// may be listed twice (the module's drive is one of the searched drives too); the search
// then simply finds it missing twice.
std::vector<std::string> SiteFileCandidates(const TPlatform& APlatform);

// The first of SiteFileCandidates that names an existing file; a mobile installation (the
// first candidate exists) looks no further. Fails with EIniFileException.
std::string LocateSiteFile(const TPlatform& APlatform);

// ALibPath made absolute against the site file AIniPath: kept when already absolute, put on
// the site file's drive when rooted, else resolved against the site file's folder with a
// mapped network drive replaced by its network path.
std::string ExpandLibPath(const TPlatform& APlatform, std::string_view ALibPath,
                          std::string_view AIniPath);

}  // namespace bunkmere
