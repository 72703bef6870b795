#pragma once
// A warning of the site check on Windows: the program's folder, or the site file's, that
// ordinary users can write in. Whoever can write there can replace the program that
// administrators and scheduled tasks run, or put a Roveline.ini or a site file in front of the
// real one. Only a warning: many sites' C:\Veltrane.Cfg folders carry the rights inherited
// from C:\, and refusing them would stop those sites.

#include <optional>
#include <string>
#include <vector>

namespace bunkmere {

class TPlatform;

// Lines to show, each naming a folder, who may write in it and the icacls line that fixes it;
// none where the folders are the administrators' or the system tells nothing (elsewhere than
// Windows, or a folder whose permissions cannot be read).
std::vector<std::string> WritableFolderWarnings(const TPlatform& APlatform,
                                                const std::optional<std::string>& ASiteFile);

// Who of Users, Authenticated Users, Everyone and Interactive may create, change or delete
// files in a folder with the DACL of ASddl (a security descriptor in SDDL), by name, or empty
// when none may. Windows only: empty elsewhere.
std::string OrdinaryWriters(const std::string& ASddl);

// The icacls command that gives AFolder the permissions the installer gives its own folders.
std::string FolderFixCommand(const std::string& AFolder);

}  // namespace bunkmere
