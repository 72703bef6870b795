#include "platform/PosixMounts.h"

#include <array>
#include <fstream>
#include <sstream>

#include "core/StrUtils.h"

namespace bunkmere {

namespace {

// The table writes blanks, tabs, line breaks and backslashes in names as "\ooo".
std::string Unescape(std::string_view S) {
  std::string r;
  r.reserve(S.size());
  for (std::size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\\' && S.size() - i >= 4 && S[i + 1] >= '0' && S[i + 1] <= '3' &&
        S[i + 2] >= '0' && S[i + 2] <= '7' && S[i + 3] >= '0' && S[i + 3] <= '7') {
      r += static_cast<char>((S[i + 1] - '0') * 64 + (S[i + 2] - '0') * 8 + (S[i + 3] - '0'));
      i += 3;
    } else {
      r += S[i];
    }
  }
  return r;
}

std::vector<std::string_view> Fields(std::string_view ALine) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < ALine.size()) {
    while (i < ALine.size() && ALine[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < ALine.size() && ALine[i] != ' ') ++i;
    if (i > start) fields.push_back(ALine.substr(start, i - start));
  }
  return fields;
}

bool ParseDevice(std::string_view S, unsigned& AMajor, unsigned& AMinor) {
  const std::size_t colon = S.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == S.size()) return false;
  unsigned parts[2] = {0, 0};
  const std::string_view texts[2] = {S.substr(0, colon), S.substr(colon + 1)};
  for (int k = 0; k < 2; ++k) {
    if (texts[k].size() > 9) return false;
    for (char c : texts[k]) {
      if (!IsAsciiDigit(c)) return false;
      parts[k] = parts[k] * 10 + static_cast<unsigned>(c - '0');
    }
  }
  AMajor = parts[0];
  AMinor = parts[1];
  return true;
}

bool OneOf(std::string_view AValue, std::initializer_list<std::string_view> AList) {
  for (std::string_view v : AList)
    if (AValue == v) return true;
  return false;
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view AText) {
  std::vector<TMountEntry> entries;
  for (const std::string& line : Split(AText, '\n')) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() < 7) continue;
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 2 >= f.size()) continue;
    TMountEntry e;
    if (!ParseDevice(f[2], e.Major, e.Minor)) continue;
    e.MountPoint = Unescape(f[4]);
    e.FsType = Unescape(f[dash + 1]);
    e.Source = Unescape(f[dash + 2]);
    if (e.MountPoint.empty() || e.MountPoint[0] != '/') continue;
    entries.push_back(std::move(e));
  }
  return entries;
}

TDriveType ClassifyMount(const TMountEntry& AEntry, bool ARemovableDevice) {
  const std::string_view type = AEntry.FsType;
  if (OneOf(type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs",
                   "9p", "davfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.gcsfuse",
                   "fuse.davfs2", "fuse.glusterfs", "fuse.cephfs"}))
    return TDriveType::dtRemote;
  if (OneOf(type, {"iso9660", "udf"})) return TDriveType::dtCdRom;
  if (OneOf(type, {"tmpfs", "ramfs"})) return TDriveType::dtRamDisk;
  if (OneOf(type, {"ext2", "ext3", "ext4", "xfs", "btrfs", "zfs", "f2fs", "jfs", "reiserfs",
                   "overlay", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk", "hfsplus",
                   "nilfs2", "bcachefs"}))
    return ARemovableDevice ? TDriveType::dtRemovable : TDriveType::dtFixed;
  return TDriveType::dtUnknown;
}

std::vector<TMountEntry> ReadMountTable() {
  std::ifstream in("/proc/self/mountinfo", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMountInfo(text.str());
}

bool IsRemovableBlockDevice(unsigned AMajor, unsigned AMinor) {
  if (AMajor == 0) return false;  // anonymous devices (overlay, btrfs subvolumes) have none
  const std::string dev = "/sys/dev/block/" + std::to_string(AMajor) + ":" + std::to_string(AMinor);
  // A partition carries no flag of its own; the disk that holds it is its parent folder.
  for (const std::string& path : {dev + "/removable", dev + "/../removable"}) {
    std::ifstream in(path);
    char flag = 0;
    if (in >> flag) return flag == '1';
  }
  return false;
}

}  // namespace bunkmere
