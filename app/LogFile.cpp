#include "app/LogFile.h"

#include <cstddef>
#include <string>

#include "core/Exceptions.h"
#include "core/StrUtils.h"
#include "platform/Platform.h"

namespace bunkmere {
namespace {

// Names that far apart are not a saver racing us but a folder that refuses every name.
constexpr int kMaxSuffix = 10000;

bool AllDigits(std::string_view AText) {
  if (AText.empty()) return false;
  for (char c : AText)
    if (c < '0' || c > '9') return false;
  return true;
}

// Windows compares names without regard to letter case.
bool SameName(const TPlatform& APlatform, const std::string& A, const std::string& B) {
  return APlatform.PathDelimiter() == '\\' ? LowerCase(A) == LowerCase(B) : A == B;
}

// "ddhhnnss.log" or "ddhhnnss_N.log", the names Save Log gives.
bool IsSavedLogName(const std::string& AName) {
  const std::string name = LowerCase(AName);
  if (name.size() < 12 || !name.ends_with(".log")) return false;
  const std::string_view stem = std::string_view(name).substr(0, name.size() - 4);
  if (!AllDigits(stem.substr(0, 8))) return false;
  if (stem.size() == 8) return true;
  return stem[8] == '_' && AllDigits(stem.substr(9));
}

std::string WithDelimiter(const TPlatform& APlatform, std::string AFolder) {
  if (!AFolder.empty() && AFolder.back() != APlatform.PathDelimiter())
    AFolder += APlatform.PathDelimiter();
  return AFolder;
}

// The folder part of a path typed on the command line, with its trailing delimiter; Windows
// takes "/" as a delimiter too ("logs/night.log").
std::string FolderOf(const TPlatform& APlatform, const std::string& APath) {
  const std::size_t end =
      APlatform.PathDelimiter() == '\\' ? APath.find_last_of("\\/:") : APath.find_last_of('/');
  return end == std::string::npos ? std::string() : APath.substr(0, end + 1);
}

// A whole number, a minus sign allowed: the figures of a cell's conflict.
bool IsNumber(std::string_view AText) {
  if (AText.starts_with('-')) AText.remove_prefix(1);
  return AllDigits(AText);
}

enum class THeader { None, Cell, Bed };

// "Facility :F DormCode : D CellNo : C Allow A but N are assign to it" or
// "Facility :F DormCode : D CellNo : C Bed : E had more than one inmate assign to it".
THeader HeaderKind(std::string_view ALine) {
  constexpr std::string_view kCellEnd = " are assign to it";
  constexpr std::string_view kBedEnd = " had more than one inmate assign to it";
  if (!ALine.starts_with("Facility :")) return THeader::None;
  const std::size_t dorm = ALine.find(" DormCode : ");
  if (dorm == std::string_view::npos) return THeader::None;
  const std::size_t cell = ALine.find(" CellNo : ", dorm);
  if (cell == std::string_view::npos) return THeader::None;
  const std::string_view rest = ALine.substr(cell);
  if (rest.ends_with(kBedEnd))
    return rest.find(" Bed : ") != std::string_view::npos ? THeader::Bed : THeader::None;
  if (!rest.ends_with(kCellEnd)) return THeader::None;
  const std::string_view figures = rest.substr(0, rest.size() - kCellEnd.size());
  const std::size_t but = figures.rfind(" but ");
  if (but == std::string_view::npos || !IsNumber(figures.substr(but + 5))) return THeader::None;
  const std::size_t allow = figures.rfind(" Allow ", but);
  if (allow == std::string_view::npos || !IsNumber(figures.substr(allow + 7, but - (allow + 7))))
    return THeader::None;
  return THeader::Cell;
}

}  // namespace

int RemoveLeftLogTemps(const std::string& AFolder, const std::string& AAlsoName) {
  const TPlatform& platform = CurrentPlatform();
  int removed = 0;
  for (const TPlatform::TLeftTempFile& left : platform.TempFilesIn(AFolder)) {
    const bool ours = IsSavedLogName(left.TargetName) ||
                      (!AAlsoName.empty() && SameName(platform, left.TargetName, AAlsoName));
    if (ours && !platform.ProcessAlive(left.Pid) && platform.RemoveFile(left.Path)) ++removed;
  }
  return removed;
}

std::string SaveNewLog(const std::string& AFolder, const std::string& AStem,
                       const std::string& ABytes, const std::string& AOwnLastLog) {
  const TPlatform& platform = CurrentPlatform();
  const std::string folder = WithDelimiter(platform, AFolder);
  RemoveLeftLogTemps(folder.empty() ? "." : folder);
  // The name has no month: a log of the same day and time a month ago, or another window's,
  // must not be overwritten.
  std::string path = folder + AStem + ".log";
  for (int n = 2; n <= kMaxSuffix; ++n) {
    if (!AOwnLastLog.empty() && path == AOwnLastLog) {
      platform.WriteFileBytes(path, ABytes);
      return path;
    }
    if (platform.CreateNewFile(path, ABytes)) return path;
    path = folder + AStem + "_" + std::to_string(n) + ".log";
  }
  throw EFileError("Cannot create file \"" + platform.FullPathName(path) +
                   "\". Every name for this log is taken");
}

void WriteNamedLog(const std::string& ALogFile, const std::string& ABytes) {
  const TPlatform& platform = CurrentPlatform();
  const std::string folder = FolderOf(platform, ALogFile);
  RemoveLeftLogTemps(folder.empty() ? "." : folder, ALogFile.substr(folder.size()));
  platform.WriteFileBytes(ALogFile, ABytes);
}

std::optional<std::string> LogFileProblem(const std::string& ALogFile, bool AForce) {
  const TPlatform& platform = CurrentPlatform();
  std::string folder = FolderOf(platform, ALogFile);
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == platform.PathDelimiter()))
    folder.pop_back();
  if (folder.empty()) folder = ".";
  if (!platform.DirectoryExists(folder)) return "--log: the folder '" + folder + "' does not exist";
  const std::string quoted = "'" + ALogFile + "'";
  switch (platform.PathKind(ALogFile)) {
    case TPlatform::TPathKind::Folder:
      return "--log: " + quoted + " is a folder";
    case TPlatform::TPathKind::Link:
      return "--log: " + quoted + " is a symbolic link; name the file itself";
    case TPlatform::TPathKind::Other:
      return "--log: " + quoted + " is not a regular file";
    case TPlatform::TPathKind::File: {
      if (!AForce) {
        std::string head;
        try {
          head = platform.ReadFileHead(ALogFile, kMaxProbeBytes + 1);
        } catch (const Exception&) {
          return "--log: " + quoted + " cannot be read";
        }
        if (head.size() > kMaxProbeBytes || !IsBunkmereLog(head))
          return "--log: " + quoted + " exists and is not a Bunkmere log (--force replaces it)";
      }
      // Replaced through a new file beside it, or rewritten in place where the folder takes
      // no new file: which one works is known only by doing it, and the save reports it.
      return std::nullopt;
    }
    case TPlatform::TPathKind::None:
      break;
  }
  // Created exclusively, so a link put there meanwhile is never followed, and removed again.
  try {
    if (!platform.CreateNewFile(ALogFile, {}))
      return "--log: " + quoted + " appeared while it was checked; run again";
  } catch (const Exception&) {
    return "--log: " + quoted + " cannot be written";
  }
  platform.RemoveFile(ALogFile);
  return std::nullopt;
}

bool IsBunkmereLog(std::string_view ABytes) {
  enum class TState { Top, ListingHeader, FirstEntry, Entries, AfterNote } state = TState::Top;
  THeader header = THeader::None;
  std::size_t at = 0;
  while (at < ABytes.size()) {
    std::size_t end = ABytes.find('\n', at);
    if (end == std::string_view::npos) end = ABytes.size();
    std::string_view line = ABytes.substr(at, end - at);
    at = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const bool cellListing = header == THeader::Cell;
    switch (state) {
      case TState::Top:
        header = HeaderKind(line);
        if (header == THeader::None) return false;
        state = TState::ListingHeader;
        break;
      case TState::ListingHeader:
        if (line != (cellListing ? "----Inmates On Cell----" : "----Inmates On Bed----"))
          return false;
        state = TState::FirstEntry;
        break;
      case TState::FirstEntry:
        if (line == (cellListing ? "NOTE: No Inmates Currently Assign To Cell"
                                 : "NOTE: No Inmate Currently Assign To Bed")) {
          state = TState::AfterNote;
          break;
        }
        [[fallthrough]];
      case TState::Entries:
        if (state == TState::Entries && line == "----End----") {
          state = TState::Top;
          break;
        }
        if (!line.starts_with(' ')) return false;
        state = TState::Entries;
        break;
      case TState::AfterNote:
        if (line != "----End----") return false;
        state = TState::Top;
        break;
    }
  }
  return true;
}

}  // namespace bunkmere
