#include "platform/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <system_error>
#include <type_traits>

#include "core/Encoding.h"
#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "platform/PosixFormats.h"
#include "platform/PosixMounts.h"

namespace bunkmere {

namespace {

std::string SystemReason(int AErrno) {
  return std::system_category().message(AErrno);
}

std::string WithTrailingSlash(std::string APath) {
  if (APath.empty() || APath.back() != '/') APath += '/';
  return APath;
}

// A file descriptor that closes itself.
class TFileHandle {
 public:
  explicit TFileHandle(int AFd) : FFd(AFd) {}
  ~TFileHandle() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int Get() const { return FFd; }
  // Closes now and reports the result, so a failed final write-back is not missed.
  int Close() {
    const int r = ::close(FFd);
    FFd = -1;
    return r;
  }

 private:
  int FFd;
};

bool WriteAll(int AFd, const std::string& ABytes) {
  for (std::size_t done = 0; done < ABytes.size();) {
    const ssize_t n = ::write(AFd, ABytes.data() + done, ABytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void WriteInPlace(const std::string& AFullPath, const std::string& ABytes) {
  const auto fail = [&](int AErrno) {
    return EFileError("Cannot create file \"" + AFullPath + "\". " + SystemReason(AErrno));
  };
  TFileHandle fd(::open(AFullPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (fd.Get() < 0 || !WriteAll(fd.Get(), ABytes)) throw fail(errno);
  if (fd.Close() != 0) throw fail(errno);
}

// Temporary files are ".NAME.PID.N.tmp": hidden, and named for the file and the process, so
// the next save in the folder can tell which were left by a process that died.
constexpr const char* kTempPrefix = ".";

// A new temporary file beside AFullPath, open for writing; -1 with errno set when none can be
// made. Its path in ATemp.
int CreateTempBeside(const std::string& AFullPath, std::string& ATemp) {
  const std::size_t slash = AFullPath.rfind('/');
  const std::string stem = AFullPath.substr(0, slash + 1) + kTempPrefix +
                           AFullPath.substr(slash + 1) + "." + std::to_string(::getpid()) + ".";
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    ATemp = stem + std::to_string(attempt) + ".tmp";
    fd = ::open(ATemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

}  // namespace

std::string NormalizePosixPath(const std::string& AAbsolutePath) {
  std::vector<std::string> parts;
  for (const std::string& part : Split(AAbsolutePath, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string r = "/" + Join(parts, "/");
  const bool trailing = AAbsolutePath.size() > 1 && AAbsolutePath.back() == '/';
  if (trailing && !parts.empty()) r += '/';
  return r;
}

namespace {

std::string ReadModuleFileName() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::vector<std::string> TPosixPlatform::DriveRoots() const {
  std::vector<std::string> roots;
  for (const TMountEntry& e : ReadMountTable()) {
    std::string root = WithTrailingSlash(e.MountPoint);
    bool seen = false;
    for (const std::string& r : roots) seen = seen || r == root;
    if (!seen) roots.push_back(std::move(root));
  }
  return roots;
}

TDriveType TPosixPlatform::DriveType(const std::string& ARoot) const {
  if (ARoot.empty() || ARoot[0] != '/') return TDriveType::dtNoRootDir;
  const std::string root = WithTrailingSlash(NormalizePosixPath(ARoot));
  // A later mount on the same point hides the earlier ones, so the last entry counts.
  const std::vector<TMountEntry> table = ReadMountTable();
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    if (WithTrailingSlash(it->MountPoint) == root)
      return ClassifyMount(*it, IsRemovableBlockDevice(it->Major, it->Minor));
  }
  return TDriveType::dtNoRootDir;
}

std::string TPosixPlatform::DriveRootOf(const std::string& APath) const {
  if (APath.empty()) return {};
  const std::string path = WithTrailingSlash(FullPathName(APath));
  std::string best;
  for (const TMountEntry& e : ReadMountTable()) {
    const std::string root = WithTrailingSlash(e.MountPoint);
    if (path.compare(0, root.size(), root) == 0 && root.size() > best.size()) best = root;
  }
  return best;
}

bool TPosixPlatform::FileExists(const std::string& APath) const {
  struct stat st {};
  return !APath.empty() && ::stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string TPosixPlatform::UntrustedFolderReason(const std::string& APath) const {
  const std::size_t slash = APath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : APath.substr(0, slash);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return {};  // nothing there to trust or not
  const uid_t user = ::geteuid();
  const bool ownedByUs = st.st_uid == 0 || st.st_uid == user;
  if (!ownedByUs)
    return "folder " + folder + " belongs to user " + std::to_string(st.st_uid) +
           ", neither root nor this user";
  // A folder others may write is one where they could have put the file, unless the sticky
  // bit keeps them to their own files in a folder of root's or ours.
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
    return "folder " + folder + " can be written by " +
           ((st.st_mode & S_IWOTH) != 0 ? "every user" : "its group");
  return {};
}

bool TPosixPlatform::DirectoryExists(const std::string& APath) const {
  struct stat st {};
  return !APath.empty() && ::stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TPosixPlatform::FullPathName(const std::string& APath) const {
  if (APath.empty()) return {};
  if (APath[0] == '/') return NormalizePosixPath(APath);
  return NormalizePosixPath(CurrentDirectory() + "/" + APath);
}

std::optional<std::string> TPosixPlatform::UniversalName(const std::string&) const {
  return std::nullopt;  // mounts already show their network source in place
}

std::string TPosixPlatform::CurrentDirectory() const {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::char_traits<char>::length(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
}

namespace {

std::string ReadUserName() {
  const uid_t uid = ::geteuid();
  std::string buf(1024, '\0');
  for (;;) {
    passwd pw{};
    passwd* result = nullptr;
    const int rc = ::getpwuid_r(uid, &pw, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc == 0 && result != nullptr && result->pw_name != nullptr) return result->pw_name;
    return std::to_string(uid);  // a user without an entry in the user database
  }
}

std::string ReadComputerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

}  // namespace

const TPosixPlatform::TIdentity& TPosixPlatform::Identity() const {
  std::call_once(FIdentityOnce, [this] {
    FIdentity = TIdentity{ReadModuleFileName(), ReadUserName(), ReadComputerName()};
  });
  return FIdentity;
}

std::string TPosixPlatform::ModuleFileName() const {
  return Identity().ModuleFileName;
}

std::string TPosixPlatform::UserName() const {
  return Identity().UserName;
}

std::string TPosixPlatform::ComputerName() const {
  return Identity().ComputerName;
}

TDateTime TPosixPlatform::Now() const {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  ::localtime_r(&ts.tv_sec, &local);
  TDecodedDateTime d;
  d.Year = local.tm_year + 1900;
  d.Month = local.tm_mon + 1;
  d.Day = local.tm_mday;
  d.Hour = local.tm_hour;
  d.Minute = local.tm_min;
  d.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  d.MilliSecond = static_cast<int>(ts.tv_nsec / 1000000);
  return EncodeDateTime(d);
}

std::string TPosixPlatform::FileNotFoundReason() const {
  return SystemReason(ENOENT);
}

TFormatSettings TPosixPlatform::FormatSettings() const {
  return LocaleFormatSettings("");
}

unsigned TPosixPlatform::AnsiCodePage() const {
  const std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)> loc(
      newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr)), &freelocale);
  if (!loc) return CP_UTF8;  // the environment names a locale this machine lacks
  const char* codeset = nl_langinfo_l(CODESET, loc.get());
  if (codeset != nullptr && (SameText(codeset, "UTF-8") || SameText(codeset, "UTF8")))
    return CP_UTF8;
  return CP_WINDOWS1252;
}

std::optional<std::string> TPosixPlatform::ReadFileIfExists(const std::string& APath) const {
  const auto fail = [&](int AErrno) {
    return EFileError("Cannot open file \"" + FullPathName(APath) + "\". " + SystemReason(AErrno));
  };
  if (APath.empty()) return std::nullopt;
  TFileHandle fd(::open(APath.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw fail(errno);
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw fail(errno);
  if (S_ISDIR(st.st_mode)) throw fail(EISDIR);
  std::string bytes;
  if (S_ISREG(st.st_mode)) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

void TPosixPlatform::WriteFileBytes(const std::string& APath, const std::string& ABytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](int AErrno) {
    return EFileError("Cannot create file \"" + full + "\". " + SystemReason(AErrno));
  };
  if (full.empty() || full.back() == '/') throw fail(EISDIR);
  if (DirectoryExists(full)) throw fail(EISDIR);
  // Written beside the target and renamed over it, so a failed write leaves the old file.
  std::string temp;
  const int tempFd = CreateTempBeside(full, temp);
  if (tempFd < 0) {
    // A folder where new files cannot be made may still hold a file that may be rewritten.
    if ((errno == EACCES || errno == EPERM) && FileExists(full)) {
      WriteInPlace(full, ABytes);
      return;
    }
    throw fail(errno);
  }
  TFileHandle fd(tempFd);
  const auto abandon = [&](int AErrno) {
    ::unlink(temp.c_str());
    return fail(AErrno);
  };
  if (!WriteAll(fd.Get(), ABytes)) throw abandon(errno);
  if (fd.Close() != 0) throw abandon(errno);
  if (::rename(temp.c_str(), full.c_str()) != 0) throw abandon(errno);
}

TPlatform::TPathKind TPosixPlatform::PathKind(const std::string& APath) const {
  struct stat st {};
  if (APath.empty() || ::lstat(APath.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR || APath.empty() ? TPathKind::None
                                                                : TPathKind::Other;
  if (S_ISLNK(st.st_mode)) return TPathKind::Link;
  if (S_ISDIR(st.st_mode)) return TPathKind::Folder;
  if (S_ISREG(st.st_mode)) return TPathKind::File;
  return TPathKind::Other;
}

std::string TPosixPlatform::ReadFileHead(const std::string& APath, std::size_t AMaxBytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](int AErrno) {
    return EFileError("Cannot open file \"" + full + "\". " + SystemReason(AErrno));
  };
  // Even opening some devices acts on them (a tape rewinds, a modem line is raised): only a
  // regular file is opened, and what was opened is checked again, since the name can be
  // swapped between the two looks.
  const TPathKind kind = PathKind(full);
  if (kind == TPathKind::None) throw fail(ENOENT);
  if (kind == TPathKind::Link) throw fail(ELOOP);
  if (kind == TPathKind::Folder) throw fail(EISDIR);
  if (kind != TPathKind::File) throw fail(EINVAL);
  TFileHandle fd(::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.Get() < 0) throw fail(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw fail(errno);
  if (!S_ISREG(st.st_mode)) throw fail(EINVAL);
  std::string bytes;
  char chunk[65536];
  while (bytes.size() < AMaxBytes) {
    const ssize_t n = ::read(fd.Get(), chunk, std::min(sizeof chunk, AMaxBytes - bytes.size()));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

bool TPosixPlatform::CreateNewFile(const std::string& APath, const std::string& ABytes) const {
  const std::string full = FullPathName(APath);
  const auto fail = [&](int AErrno) {
    return EFileError("Cannot create file \"" + full + "\". " + SystemReason(AErrno));
  };
  if (full.empty() || full.back() == '/') throw fail(EISDIR);
  if (PathKind(full) != TPathKind::None) return false;
  // Written in full under a temporary name, then linked to the new name: link never replaces
  // anything (a dangling symbolic link included), and a reader never sees half a file.
  std::string temp;
  const int tempFd = CreateTempBeside(full, temp);
  if (tempFd < 0) throw fail(errno);
  TFileHandle fd(tempFd);
  const auto abandon = [&](int AErrno) {
    ::unlink(temp.c_str());
    return fail(AErrno);
  };
  if (!WriteAll(fd.Get(), ABytes)) throw abandon(errno);
  if (fd.Close() != 0) throw abandon(errno);
  if (::link(temp.c_str(), full.c_str()) == 0) {
    ::unlink(temp.c_str());
    return true;
  }
  int error = errno;
  // File systems without hard links (FAT, some network shares): a rename that refuses to
  // replace does the same.
  if (error != EEXIST &&
      ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, full.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (error != EEXIST) error = errno;
  ::unlink(temp.c_str());
  if (error == EEXIST) return false;
  if (error != EINVAL && error != ENOSYS && error != ENOTSUP && error != EPERM) throw fail(error);
  // Neither (some FUSE and SMB mounts): the name itself is created exclusively and written;
  // a failed write removes it again.
  TFileHandle direct(::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (direct.Get() < 0) {
    if (errno == EEXIST) return false;
    throw fail(errno);
  }
  if (!WriteAll(direct.Get(), ABytes) || direct.Close() != 0) {
    const int e = errno;
    ::unlink(full.c_str());
    throw fail(e);
  }
  return true;
}

std::vector<TPlatform::TLeftTempFile> TPosixPlatform::TempFilesIn(
    const std::string& AFolder) const {
  std::vector<TLeftTempFile> found;
  const std::string folder = WithTrailingSlash(FullPathName(AFolder));
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!name.starts_with(kTempPrefix)) continue;
    auto left = ParseTempName(name.substr(std::string_view(kTempPrefix).size()));
    if (!left) continue;
    left->Path = folder + name;
    if (PathKind(left->Path) != TPathKind::File) continue;
    found.push_back(std::move(*left));
  }
  return found;
}

bool TPosixPlatform::ProcessAlive(unsigned long APid) const {
  if (APid == 0 || APid > static_cast<unsigned long>(std::numeric_limits<pid_t>::max()))
    return false;
  return ::kill(static_cast<pid_t>(APid), 0) == 0 || errno == EPERM;
}

bool TPosixPlatform::RemoveFile(const std::string& APath) const {
  return !APath.empty() && ::unlink(APath.c_str()) == 0;
}

}  // namespace bunkmere
