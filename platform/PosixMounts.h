#pragma once
// The mount table of a Linux process (/proc/self/mountinfo) and what each mount counts as
// when the system looks for drives.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace bunkmere {

struct TMountEntry {
  std::string MountPoint;  // octal escapes of the table decoded
  std::string FsType;      // "ext4", "nfs4", "fuse.sshfs"
  std::string Source;      // "/dev/sda1", "server:/export"
  unsigned Major = 0, Minor = 0;
};

// Lines that do not have the table's form are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view AText);

// ARemovableDevice: the kernel reports the entry's block device as removable.
TDriveType ClassifyMount(const TMountEntry& AEntry, bool ARemovableDevice);

// The current process's table, read afresh.
std::vector<TMountEntry> ReadMountTable();
// Whether /sys reports the block device (or the disk holding the partition) as removable.
bool IsRemovableBlockDevice(unsigned AMajor, unsigned AMinor);

}  // namespace bunkmere
