#include "app/CommandLine.h"

#include <cstdio>
#include <utility>

#include "core/StrUtils.h"

namespace bunkmere {
namespace {

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
  // The switches that take a file name, and where each puts it.
  const std::pair<const char*, std::string*> files[] = {
      {"log", &line.LogFile}, {"report", &line.ReportFile}, {"summary", &line.SummaryFile}};
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
    std::string* file = nullptr;
    for (const auto& [switchName, target] : files)
      if (name == switchName) file = target;
    if (file == nullptr && value) {
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
    } else if (file != nullptr) {
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
      if (!file->empty()) {
        AProblem = "the " + std::string(name == "log" ? "log" : name) + " file is given twice";
        return std::nullopt;
      }
      if (name == "log") logGiven = true;
      *file = *value;
    } else {
      AProblem = "unknown switch '" + argument + "'";
      return std::nullopt;
    }
  }
  if (help) {
    line.Mode = TCommandLine::TMode::Help;
    return line;
  }
  if (!sync && (line.Preview || logGiven || line.Force || !line.ReportFile.empty() ||
                !line.SummaryFile.empty())) {
    AProblem = line.Preview                ? "--preview needs --sync"
               : logGiven                  ? "--log needs --sync"
               : !line.ReportFile.empty()  ? "--report needs --sync"
               : !line.SummaryFile.empty() ? "--summary needs --sync"
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

std::string UsageText() {
  return "Usage: Bunkmere                      open the window (the operator's way)\n"
         "       Bunkmere --sync [--log FILE [--force]] [--report FILE.html] [--summary "
         "FILE.json]\n"
         "       Bunkmere --sync --preview [--log FILE [--force]] [--report FILE.html]\n"
         "                [--summary FILE.json]\n"
         "\n"
         "  --sync      run one synchronisation pass with no window and no display, as a press\n"
         "              of the start button does, then end\n"
         "  --preview   with --sync: read and count as the pass does, take no lock, write\n"
         "              nothing, and list every value the pass would change\n"
         "  --log FILE  save the conflicts log to FILE (default: ddhhnnss.log where Save Log\n"
         "              writes it: the current folder; on Windows the Documents folder when\n"
         "              that is the Windows folder, the program's own, or not writable)\n"
         "  --force     let --log replace a file that is not a Bunkmere log\n"
         "  --report FILE.html\n"
         "              write the occupancy the pass found to FILE.html (replaced): a page\n"
         "              with a bar per facility, its dorms, the totals, the conflicts and\n"
         "              the rows changed; marked partial when the pass did not complete\n"
         "  --summary FILE.json\n"
         "              the same figures as JSON (schema bunkmere-occupancy/1), replaced\n"
         "  --help      show this text\n"
         "On Windows each switch may also be written with a slash: /sync, /preview, /log FILE.\n"
         "\n"
         "Exit status of --sync:\n"
         "  0   completed, no conflict\n"
         "  1   failed (start-up included: no site file, no connection, ...)\n"
         "  2   stopped at a row another program is editing or keeps locked, or another pass\n"
         "      runs (the holder is named on standard error); rows before it are written: run\n"
         "      again later\n"
         "  3   completed, with conflicts listed in the log\n"
         "  4   stopped by SIGTERM or SIGINT (Ctrl+C) with its log saved and no lock left\n"
         "  64  bad arguments\n";
}

}  // namespace bunkmere
