#include "platform/FakeWindowsPlatform.h"

#include <stdexcept>

#include "core/Exceptions.h"
#include "core/StrUtils.h"

namespace bunkmere {

namespace {

bool IsDriveAbsolute(const std::string& P) {
  return P.size() >= 3 && IsAsciiLetter(P[0]) && P[1] == ':' && P[2] == '\\';
}

bool IsUnc(const std::string& P) {
  return P.size() >= 2 && P[0] == '\\' && P[1] == '\\';
}

// Length of the "\\server\share" part of a UNC path (without the "\" that follows it).
std::size_t UncPrefixLength(const std::string& P) {
  const std::size_t server = P.find('\\', 2);
  if (server == std::string::npos) return P.size();
  const std::size_t share = P.find('\\', server + 1);
  return share == std::string::npos ? P.size() : share;
}

// A key (full path, trailing "\" removed) that names a drive or share root.
bool IsRootKey(const std::string& AKey) {
  if (IsUnc(AKey)) return UncPrefixLength(AKey) == AKey.size();
  return AKey.size() == 2 && IsAsciiLetter(AKey[0]) && AKey[1] == ':';
}

std::string JoinResolved(const std::string& APrefix, const std::string& ARest) {
  std::vector<std::string> parts;
  for (const std::string& part : Split(ARest, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string r = APrefix + "\\" + Join(parts, "\\");
  if (!parts.empty() && !ARest.empty() && ARest.back() == '\\') r += '\\';
  return r;
}

EFileError OpenError(const std::string& AFullPath, const char* AReason) {
  return EFileError("Cannot open file \"" + AFullPath + "\". " + AReason);
}

EFileError CreateError(const std::string& AFullPath, const char* AReason) {
  return EFileError("Cannot create file \"" + AFullPath + "\". " + AReason);
}

constexpr const char* kAccessDenied = "Access is denied";
constexpr const char* kSharingViolation =
    "The process cannot access the file because it is being used by another process";
constexpr const char* kPathNotFound = "The system cannot find the path specified";

}  // namespace

std::string WindowsFullPathName(const std::string& APath, const std::string& ACurrentDirectory) {
  std::string p = StringReplace(APath, "/", "\\");
  if (p.empty()) return {};
  const std::string current = IsDriveAbsolute(ACurrentDirectory) || IsUnc(ACurrentDirectory)
                                  ? StringReplace(ACurrentDirectory, "/", "\\")
                                  : std::string("C:\\");
  if (IsUnc(p)) {
    const std::size_t prefix = UncPrefixLength(p);
    return JoinResolved(p.substr(0, prefix), p.substr(prefix));
  }
  if (p.size() >= 2 && IsAsciiLetter(p[0]) && p[1] == ':') {
    if (IsDriveAbsolute(p)) return JoinResolved(p.substr(0, 2), p.substr(2));
    // "D:x" is relative to the current directory of drive D:, which is only known for the
    // current drive; on any other drive it is the root.
    if (IsDriveAbsolute(current) && AsciiUpper(current[0]) == AsciiUpper(p[0]))
      return WindowsFullPathName(current + "\\" + p.substr(2), current);
    return JoinResolved(p.substr(0, 2), "\\" + p.substr(2));
  }
  if (p[0] == '\\') {
    const std::string root = WindowsPathRoot(current);
    return JoinResolved(root.substr(0, root.size() - 1), p);
  }
  const std::string absolute = current + "\\" + p;
  const std::size_t prefix = IsUnc(absolute) ? UncPrefixLength(absolute) : 2;
  return JoinResolved(absolute.substr(0, prefix), absolute.substr(prefix));
}

std::string WindowsPathRoot(const std::string& AFullPath) {
  if (IsDriveAbsolute(AFullPath)) return AFullPath.substr(0, 3);
  if (IsUnc(AFullPath)) return AFullPath.substr(0, UncPrefixLength(AFullPath)) + "\\";
  return {};
}

TFakeWindowsPlatform::TFakeWindowsPlatform() {
  SetDrive('C', TDriveType::dtFixed);
  FNow = EncodeDateTime({2026, 12, 10, 4, 43, 50, 0});
}

void TFakeWindowsPlatform::SetDrive(char ALetter, TDriveType AType) {
  const char letter = AsciiUpper(ALetter);
  if (letter < 'A' || letter > 'Z') throw std::invalid_argument("no such drive letter");
  if (AType != TDriveType::dtNoRootDir) {
    FDrives[letter] = AType;
    return;
  }
  FDrives.erase(letter);
  FMappedDrives.erase(letter);
  const std::string prefix = std::string(1, letter) + ":";
  std::erase_if(FFolders, [&](const std::string& k) { return k.starts_with(prefix); });
  std::erase_if(FFiles, [&](const auto& f) { return f.first.starts_with(prefix); });
}

void TFakeWindowsPlatform::MapDrive(char ALetter, const std::string& ANetworkPath) {
  SetDrive(ALetter, TDriveType::dtRemote);
  FMappedDrives[AsciiUpper(ALetter)] = StringReplace(ANetworkPath, "/", "\\");
}

void TFakeWindowsPlatform::AddShare(const std::string& AShare) {
  const std::string full = WindowsFullPathName(AShare, FCurrentDirectory);
  if (!IsUnc(full)) throw std::invalid_argument("not a network share: " + AShare);
  FShares.insert(UpperCase(full.substr(0, UncPrefixLength(full))));
}

std::string TFakeWindowsPlatform::Key(const std::string& APath) const {
  std::string key = UpperCase(FullPathName(APath));
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

bool TFakeWindowsPlatform::RootExists(const std::string& AKey) const {
  if (IsUnc(AKey)) return FShares.count(AKey.substr(0, UncPrefixLength(AKey))) != 0;
  return !AKey.empty() && FDrives.count(AKey[0]) != 0;
}

bool TFakeWindowsPlatform::ParentExists(const std::string& AKey) const {
  const std::size_t slash = AKey.rfind('\\');
  if (slash == std::string::npos || IsRootKey(AKey) || !RootExists(AKey)) return false;
  const std::string parent = AKey.substr(0, slash);
  return IsRootKey(parent) || FFolders.count(parent) != 0;
}

void TFakeWindowsPlatform::AddFolder(const std::string& APath) {
  const std::string key = Key(APath);
  if (!RootExists(key)) throw std::invalid_argument("no such drive or share: " + APath);
  if (FFiles.count(key) != 0) throw std::invalid_argument("a file is in the way: " + APath);
  const std::size_t rootLength = WindowsPathRoot(key).size();
  for (std::size_t pos = key.find('\\', rootLength); pos != std::string::npos;
       pos = key.find('\\', pos + 1))
    FFolders.insert(key.substr(0, pos));
  if (key.size() >= rootLength) FFolders.insert(key);
}

void TFakeWindowsPlatform::AddFile(const std::string& APath, const std::string& ABytes) {
  const std::string key = Key(APath);
  if (FFolders.count(key) != 0) throw std::invalid_argument("a folder is in the way: " + APath);
  const std::size_t slash = key.rfind('\\');
  if (slash + 1 > WindowsPathRoot(key).size()) AddFolder(key.substr(0, slash));
  if (!RootExists(key)) throw std::invalid_argument("no such drive or share: " + APath);
  FFiles[key] = TFile{ABytes, false};
}

bool TFakeWindowsPlatform::RemoveFile(const std::string& APath) const {
  const auto it = FFiles.find(Key(APath));
  if (it == FFiles.end() || it->second.Locked) return false;
  FFiles.erase(it);
  return true;
}

void TFakeWindowsPlatform::SetProcessAlive(unsigned long APid, bool AAlive) {
  if (AAlive)
    FAlive.insert(APid);
  else
    FAlive.erase(APid);
}

void TFakeWindowsPlatform::SetFileLocked(const std::string& APath, bool ALocked) {
  const auto it = FFiles.find(Key(APath));
  if (it == FFiles.end()) throw std::invalid_argument("no such file: " + APath);
  it->second.Locked = ALocked;
}

std::optional<std::string> TFakeWindowsPlatform::FileBytes(const std::string& APath) const {
  const auto it = FFiles.find(Key(APath));
  if (it == FFiles.end()) return std::nullopt;
  return it->second.Bytes;
}

void TFakeWindowsPlatform::SetCurrentDirectory(const std::string& APath) {
  FCurrentDirectory = FullPathName(APath);
}

std::vector<std::string> TFakeWindowsPlatform::DriveRoots() const {
  std::vector<std::string> roots;
  for (const auto& [letter, type] : FDrives) roots.push_back(std::string(1, letter) + ":\\");
  return roots;
}

TDriveType TFakeWindowsPlatform::DriveType(const std::string& ARoot) const {
  std::string root = StringReplace(ARoot, "/", "\\");
  if (root.empty()) root = WindowsPathRoot(FCurrentDirectory);
  if ((root.size() == 2 || root.size() == 3) && IsAsciiLetter(root[0]) && root[1] == ':' &&
      (root.size() == 2 || root[2] == '\\')) {
    const auto it = FDrives.find(AsciiUpper(root[0]));
    return it == FDrives.end() ? TDriveType::dtNoRootDir : it->second;
  }
  if (IsUnc(root)) {
    std::string key = UpperCase(root);
    if (!key.empty() && key.back() == '\\') key.pop_back();
    if (UncPrefixLength(key) == key.size() && FShares.count(key) != 0) return TDriveType::dtRemote;
  }
  return TDriveType::dtNoRootDir;
}

std::string TFakeWindowsPlatform::DriveRootOf(const std::string& APath) const {
  if (APath.empty()) return {};
  return WindowsPathRoot(FullPathName(APath));
}

bool TFakeWindowsPlatform::FileExists(const std::string& APath) const {
  // A trailing delimiter names a folder, never a file.
  if (APath.empty() || APath.back() == '\\' || APath.back() == '/') return false;
  const std::string key = Key(APath);
  return RootExists(key) && FFiles.count(key) != 0;
}

bool TFakeWindowsPlatform::DirectoryExists(const std::string& APath) const {
  if (APath.empty()) return false;
  const std::string key = Key(APath);
  if (!RootExists(key)) return false;
  return IsRootKey(key) || FFolders.count(key) != 0;
}

std::string TFakeWindowsPlatform::FullPathName(const std::string& APath) const {
  return WindowsFullPathName(APath, FCurrentDirectory);
}

std::optional<std::string> TFakeWindowsPlatform::UniversalName(const std::string& APath) const {
  const std::string full = FullPathName(APath);
  if (!IsDriveAbsolute(full)) return std::nullopt;
  const auto it = FMappedDrives.find(AsciiUpper(full[0]));
  if (it == FMappedDrives.end()) return std::nullopt;
  return it->second + full.substr(2);
}

std::optional<std::string> TFakeWindowsPlatform::ReadFileIfExists(const std::string& APath) const {
  if (APath.empty()) return std::nullopt;
  const std::string key = Key(APath);
  if (!RootExists(key)) return std::nullopt;
  if (DirectoryExists(APath)) throw OpenError(FullPathName(APath), kAccessDenied);
  if (!FileExists(APath)) return std::nullopt;
  const auto it = FFiles.find(key);
  if (it == FFiles.end()) return std::nullopt;
  if (it->second.Locked) throw OpenError(FullPathName(APath), kSharingViolation);
  return it->second.Bytes;
}

void TFakeWindowsPlatform::WriteFileBytes(const std::string& APath,
                                          const std::string& ABytes) const {
  const std::string full = FullPathName(APath);
  const std::string key = Key(APath);
  if (full.empty() || !ParentExists(key)) throw CreateError(full, kPathNotFound);
  if (DirectoryExists(APath) || full.back() == '\\') throw CreateError(full, kAccessDenied);
  const auto it = FFiles.find(key);
  if (it != FFiles.end() && it->second.Locked) throw CreateError(full, kSharingViolation);
  FFiles[key] = TFile{ABytes, false};
}

TPlatform::TPathKind TFakeWindowsPlatform::PathKind(const std::string& APath) const {
  if (DirectoryExists(APath)) return TPathKind::Folder;
  if (FileExists(APath)) return TPathKind::File;
  return TPathKind::None;
}

std::string TFakeWindowsPlatform::ReadFileHead(const std::string& APath,
                                               std::size_t AMaxBytes) const {
  const std::optional<std::string> bytes = ReadFileIfExists(APath);
  if (!bytes) throw OpenError(FullPathName(APath), FileNotFoundReason().c_str());
  return bytes->substr(0, AMaxBytes);
}

bool TFakeWindowsPlatform::CreateNewFile(const std::string& APath,
                                         const std::string& ABytes) const {
  if (PathKind(APath) != TPathKind::None) return false;
  WriteFileBytes(APath, ABytes);
  return true;
}

std::vector<TPlatform::TLeftTempFile> TFakeWindowsPlatform::TempFilesIn(
    const std::string& AFolder) const {
  std::vector<TLeftTempFile> found;
  std::string prefix = Key(AFolder);
  if (prefix.empty() || prefix.back() != '\\') prefix += '\\';
  prefix += '~';
  for (const auto& [key, file] : FFiles) {
    if (!key.starts_with(prefix) || key.find('\\', prefix.size()) != std::string::npos) continue;
    auto left = ParseTempName(std::string_view(key).substr(prefix.size()));
    if (!left) continue;
    left->Path = key;
    found.push_back(std::move(*left));
  }
  return found;
}

}  // namespace bunkmere
