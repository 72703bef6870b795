#include "platform/PosixMounts.h"

#include <gtest/gtest.h>

#include "platform/PosixFormats.h"

namespace bunkmere {
namespace {

TEST(PosixMounts, ParsesTheMountTable) {
  const std::string table =
      "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 shared:2 - vfat /dev/sdb1 rw\n"
      "40 28 0:44 / /srv/share rw - nfs4 server:/export rw,vers=4.2\n"
      "garbage line\n"
      "41 28 x:y / /bad rw - ext4 /dev/sdc rw\n"
      "42 28 8:1 / /no-dash rw ext4 /dev/sdc rw\n"
      "43 28 8:1 / relative rw - ext4 /dev/sdc rw\n"
      "\n"
      "44 28 0:45 / /tab\\011and\\134slash rw - tmpfs tmpfs rw";
  const std::vector<TMountEntry> e = ParseMountInfo(table);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].MountPoint, "/");
  EXPECT_EQ(e[0].FsType, "ext4");
  EXPECT_EQ(e[0].Major, 254u);
  EXPECT_EQ(e[1].MountPoint, "/mnt/my disk");  // optional fields before "-" skipped
  EXPECT_EQ(e[1].FsType, "vfat");
  EXPECT_EQ(e[1].Source, "/dev/sdb1");
  EXPECT_EQ(e[1].Minor, 0u);
  EXPECT_EQ(e[2].Source, "server:/export");
  EXPECT_EQ(e[3].MountPoint, "/tab\tand\\slash");
}

TEST(PosixMounts, ParsesTruncatedAndHostileLinesWithoutFailing) {
  const std::string lines[] = {"1 2 3:4 / /x - ", "1 2 3:4 / /x\\", "1 2 3:4 / /x\\77 - a b",
                               "1 2 99999999999:1 / /x - ext4 /dev/x", std::string(5, '\0')};
  for (const std::string& line : lines) {
    for (const TMountEntry& e : ParseMountInfo(line)) EXPECT_EQ(e.MountPoint.front(), '/');
  }
  EXPECT_EQ(ParseMountInfo("1 2 3:4 / /x\\77 rw - ext4 s o")[0].MountPoint, "/x\\77");
}

TEST(PosixMounts, Classification) {
  struct Case {
    const char* fsType;
    bool removable;
    TDriveType type;
  };
  const Case cases[] = {
      {"ext4", false, TDriveType::dtFixed},      {"xfs", false, TDriveType::dtFixed},
      {"overlay", false, TDriveType::dtFixed},   {"vfat", true, TDriveType::dtRemovable},
      {"nfs4", false, TDriveType::dtRemote},     {"cifs", false, TDriveType::dtRemote},
      {"smb3", false, TDriveType::dtRemote},     {"fuse.sshfs", false, TDriveType::dtRemote},
      {"iso9660", true, TDriveType::dtCdRom},    {"tmpfs", false, TDriveType::dtRamDisk},
      {"proc", false, TDriveType::dtUnknown},    {"sysfs", false, TDriveType::dtUnknown},
      {"cgroup2", false, TDriveType::dtUnknown}, {"fuse.portal", false, TDriveType::dtUnknown},
  };
  for (const Case& c : cases) {
    TMountEntry e;
    e.FsType = c.fsType;
    EXPECT_EQ(ClassifyMount(e, c.removable), c.type) << c.fsType;
  }
}

TEST(PosixFormats, StrftimeFormatsBecomePatterns) {
  struct Case {
    const char* format;
    char token;
    const char* pattern;
    const char* separator;
  };
  const Case cases[] = {
      {"%m/%d/%y", '/', "mm/dd/yy", "/"},
      {"%d.%m.%Y", '/', "dd/mm/yyyy", "."},
      {"%Y-%m-%d", '/', "yyyy/mm/dd", "-"},
      {"%D", '/', "mm/dd/yy", "/"},
      {"%e/%m/%Y", '/', "d/mm/yyyy", "/"},
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", '/',
       "yyyy/mm\"\xE6\x9C\x88\"dd\"\xE6\x97\xA5\"", "\xE5\xB9\xB4"},
      {"%H:%M:%S", ':', "hh:nn:ss", ":"},
      {"%T", ':', "hh:nn:ss", ":"},
      {"%r", ':', "hh:nn:ss\" \"ampm", ":"},
      {"%I.%M.%S %p", ':', "hh:nn:ss\" \"ampm", "."},
      {"%Hh%M", ':', "hh:nn", "h"},
      {"%-d/%-m %%", '/', "d/m\" %\"", "/"},
      {"%", '/', "\"%\"", "/"},
      {"%Q%d", '/', "dd", "/"},  // unknown fields are dropped
      {"\"%d\"", '/', "'\"'dd'\"'", "/"},
  };
  for (const Case& c : cases) {
    std::string separator = "/";
    EXPECT_EQ(StrftimeToPattern(c.format, c.token, separator), c.pattern) << c.format;
    EXPECT_EQ(separator, c.separator) << c.format;
  }
}

TEST(PosixFormats, LocaleSettings) {
  const TFormatSettings c = LocaleFormatSettings("C");
  EXPECT_EQ(c.ShortDateFormat, "mm/dd/yy");
  EXPECT_EQ(c.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(c.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(c.TimeAMString, "AM");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2026, 12, 10, 16, 5, 0, 0}), c), "12/10/26 16:05:00");
  // A locale this machine lacks leaves the built-in defaults.
  const TFormatSettings missing = LocaleFormatSettings("xx_NOWHERE.UTF-8");
  EXPECT_EQ(missing.ShortDateFormat, TFormatSettings().ShortDateFormat);
}

}  // namespace
}  // namespace bunkmere
