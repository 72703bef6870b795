#include "app/CommandLine.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/StrUtils.h"

namespace bunkmere {
namespace {

namespace fs = std::filesystem;

// "/name" on Windows means "--name"; "-h" and "/?" ask for help.
std::string SwitchName(const std::string& AArgument, bool ASlashSwitches) {
  if (AArgument == "-h" || (ASlashSwitches && AArgument == "/?")) return "help";
  if (AArgument.starts_with("--") && AArgument.size() > 2) return LowerCase(AArgument.substr(2));
  if (ASlashSwitches && AArgument.starts_with("/") && AArgument.size() > 1)
    return LowerCase(AArgument.substr(1));
  return {};
}

}  // namespace

std::optional<TCommandLine> ParseCommandLine(const std::vector<std::string>& AArguments,
                                             bool ASlashSwitches, std::string& AProblem) {
  TCommandLine line;
  bool sync = false;
  bool help = false;
  bool logGiven = false;
  for (std::size_t i = 0; i < AArguments.size(); ++i) {
    const std::string& argument = AArguments[i];
    std::string name = SwitchName(argument, ASlashSwitches);
    std::optional<std::string> value;
    if (const auto eq = name.find('='); eq != std::string::npos) {
      value = argument.substr(argument.find('=') + 1);
      name.resize(eq);
    }
    if (name.empty()) {
      AProblem = "unexpected argument '" + argument + "'";
      return std::nullopt;
    }
    if (name != "log" && value) {
      AProblem = "switch '" + argument.substr(0, argument.find('=')) + "' takes no value";
      return std::nullopt;
    }
    if (name == "sync") {
      sync = true;
    } else if (name == "preview") {
      line.Preview = true;
    } else if (name == "force") {
      line.Force = true;
    } else if (name == "help") {
      help = true;
    } else if (name == "log") {
      if (!value) {
        if (i + 1 >= AArguments.size()) {
          AProblem = "'" + argument + "' needs a file name";
          return std::nullopt;
        }
        value = AArguments[++i];
      }
      if (value->empty()) {
        AProblem = "'" + argument + "' needs a file name";
        return std::nullopt;
      }
      if (logGiven) {
        AProblem = "the log file is given twice";
        return std::nullopt;
      }
      logGiven = true;
      line.LogFile = *value;
    } else {
      AProblem = "unknown switch '" + argument + "'";
      return std::nullopt;
    }
  }
  if (help) {
    line.Mode = TCommandLine::TMode::Help;
    return line;
  }
  if (!sync && (line.Preview || logGiven || line.Force)) {
    AProblem = line.Preview ? "--preview needs --sync"
               : logGiven   ? "--log needs --sync"
                            : "--force needs --sync";
    return std::nullopt;
  }
  if (line.Force && !logGiven) {
    AProblem = "--force needs --log";
    return std::nullopt;
  }
  if (sync) line.Mode = TCommandLine::TMode::Sync;
  return line;
}

std::optional<std::string> LogFileProblem(const std::string& ALogFile, bool AForce) {
  std::error_code ec;
  // The name is UTF-8 on every system; a narrow path on Windows would be the ANSI code page's.
  const fs::path path(std::u8string(ALogFile.begin(), ALogFile.end()));
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    const std::u8string name = folder.u8string();
    return "--log: the folder '" + std::string(name.begin(), name.end()) + "' does not exist";
  }
  const bool existed = fs::exists(path, ec);
  if (existed) {
    if (fs::is_directory(path, ec)) return "--log: '" + ALogFile + "' is a folder";
    if (!AForce) {
      std::ifstream in(path, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      if (!in || !IsBunkmereLog(text.str()))
        return "--log: '" + ALogFile + "' exists and is not a Bunkmere log (--force replaces it)";
    }
  }
  // Opened for appending: a file that is there keeps every byte until the run writes it.
  {
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    if (!probe) return "--log: '" + ALogFile + "' cannot be written";
  }
  if (!existed) fs::remove(path, ec);
  return std::nullopt;
}

bool IsBunkmereLog(const std::string& ABytes) {
  // Every line the pass writes: a conflict ("Facility :..."), a listing's header, an entry
  // (a blank, then the booking number), its note or its end.
  std::istringstream lines(ABytes);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool known = line.empty() || line.starts_with("Facility :") || line.starts_with(" ") ||
                       line == "----Inmates On Cell----" || line == "----Inmates On Bed----" ||
                       line == "----End----" ||
                       line == "NOTE: No Inmates Currently Assign To Cell" ||
                       line == "NOTE: No Inmate Currently Assign To Bed";
    if (!known) return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: Bunkmere                      open the window (the operator's way)\n"
         "       Bunkmere --sync [--log FILE [--force]]\n"
         "       Bunkmere --sync --preview [--log FILE [--force]]\n"
         "\n"
         "  --sync      run one synchronisation pass with no window and no display, as a press\n"
         "              of the start button does, then end\n"
         "  --preview   with --sync: read and count as the pass does, take no lock, write\n"
         "              nothing, and list every value the pass would change\n"
         "  --log FILE  save the conflicts log to FILE (default: ddhhnnss.log where Save Log\n"
         "              writes it: the current folder; on Windows the Documents folder when\n"
         "              that is the Windows folder, the program's own, or not writable)\n"
         "  --force     let --log replace a file that is not a Bunkmere log\n"
         "  --help      show this text\n"
         "On Windows each switch may also be written with a slash: /sync, /preview, /log FILE.\n"
         "\n"
         "Exit status of --sync:\n"
         "  0   completed, no conflict\n"
         "  1   failed (start-up included: no site file, no connection, ...)\n"
         "  2   stopped at a row another program is editing (the holder is named on standard\n"
         "      error); rows before it are written: run again later\n"
         "  3   completed, with conflicts listed in the log\n"
         "  64  bad arguments\n";
}

}  // namespace bunkmere
