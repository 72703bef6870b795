#pragma once
// The conflicts log on disk: the name Save Log gives a new log and its creation without ever
// replacing another saver's, what counts as a log Bunkmere wrote, the check of a file named
// with --log before a pass starts, and the removal of temporary files a killed save left.
// Everything goes through the current platform.

#include <optional>
#include <string>
#include <string_view>

namespace bunkmere {

// Saves ABytes as a new log "STEM.log" in AFolder, or "STEM_2.log", "STEM_3.log", ... when the
// name is taken (by a file, a folder, a link, or another saver this same second). Each name is
// claimed exclusively, so two savers never replace each other. AOwnLastLog, the path this
// window saved last, is the one name that is replaced: a second press in the same second
// rewrites its own log. First removes the temporary files of killed saves in AFolder. Returns
// the path written; fails with EFileError.
std::string SaveNewLog(const std::string& AFolder, const std::string& AStem,
                       const std::string& ABytes, const std::string& AOwnLastLog);

// Writes ABytes to the file --log names, replacing it, after removing the temporary files of
// killed saves in its folder.
void WriteNamedLog(const std::string& ALogFile, const std::string& ABytes);

// Removes the temporary files that saves of logs left in AFolder when their process was
// killed: only files named as the platform names its temporary files, for a log name Save Log
// gives (or AAlsoName), whose process no longer runs. Returns how many were removed.
int RemoveLeftLogTemps(const std::string& AFolder, const std::string& AAlsoName = {});

// Whether ALogFile can take the log: its folder exists and can be written, and what is there
// is a regular file that is a Bunkmere log (or AForce). A link, a FIFO or a device is refused
// (never followed, never opened), and only the first kMaxProbeBytes are read. Touches nothing
// that is there. The problem, one line, otherwise.
std::optional<std::string> LogFileProblem(const std::string& ALogFile, bool AForce);
inline constexpr std::size_t kMaxProbeBytes = 16 * 1024 * 1024;

// Whether ABytes hold only what the pass writes to the log, in the order it writes it: a
// conflict header, its listing's header, the listing's entries (a blank, then the booking
// number) or its note, and the listing's end. A log may stop anywhere (a pass that failed);
// an empty file is one (Save Log writes an empty log too).
bool IsBunkmereLog(std::string_view ABytes);

}  // namespace bunkmere
