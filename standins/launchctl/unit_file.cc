#include "unit_file.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "agent_units.h"
#include "launch.h"
#include "run_history.h"
#include "utf8.h"
#include "utf8_repair.h"

extern char** environ;

namespace launchctl {
namespace {

namespace fs = std::filesystem;

/// Escapes the characters systemd reads specially in a quoted value; `$` only where variables
/// are expanded (a command's arguments, not its path nor an Environment= value).
std::string escapedQuoted(const std::string& text, bool expandsVariables) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '%') {
      out += "%%";
    } else if (c == '$' && expandsVariables) {
      out += "$$";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

/// Whether systemd takes `path` as it is wherever a unit names a file: absolute and normalised
/// (no "." or ".." parts, no empty ones, no "/" at the end), in printable characters and UTF-8,
/// and nothing it would unquote, unescape, expand or trim.
bool unitCanSpell(const std::string& path) {
  if (path.size() < 2 || path.front() != '/' || path.back() == '/' || !isUtf8(path)) {
    return false;
  }
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '\\' || c == '"' || c == '\'' || c == '$' ||
        c == '%') {
      return false;
    }
  }
  std::stringstream parts(path.substr(1));
  for (std::string part; std::getline(parts, part, '/');) {
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
  }
  return true;
}

/// A path as a unit names it: the path itself when systemd takes it as it is, else a link to it
/// in the job folder named `linkName`, which the kernel follows as it would the path itself
/// (".." included), just as the built-in engine opens it.
std::string pathValue(const std::string& written, const fs::path& jobFolder, const char* linkName) {
  // launchd takes relative paths from the root directory, where jobs start.
  const std::string path = written.front() == '/' ? written : "/" + written;
  if (unitCanSpell(path)) {
    return path;
  }
  const fs::path link = jobFolder / linkName;
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(path, link);
  return link.string();
}

/// The value of PATH the job's program is searched on: the job's own, else the invoker's.
std::string searchPath(const JobConfig& config) {
  if (const auto own = config.environment.find("PATH"); own != config.environment.end()) {
    return own->second;
  }
  const char* inherited = std::getenv("PATH");
  return inherited != nullptr ? inherited : "/usr/bin:/bin";
}

/// The program to execute as an absolute path, found as execvp would find it from the job's
/// working directory. A name found nowhere goes under a path that cannot exist, so the job ends
/// with an exec failure.
std::string programPath(const JobConfig& config) {
  const std::string name = config.program.empty() ? config.arguments.front() : config.program;
  const std::string directory =
      config.workingDirectory.empty() || config.workingDirectory.front() != '/'
          ? "/" + config.workingDirectory
          : config.workingDirectory;
  if (name.find('/') != std::string::npos) {
    return name.front() == '/' ? name : (fs::path(directory) / name).string();
  }
  std::stringstream directories(searchPath(config));
  for (std::string entry; std::getline(directories, entry, ':');) {
    const fs::path candidate = fs::path(entry.empty() ? "." : entry) / name;
    if (candidate.is_absolute() && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  // Found nowhere: it fails to start as it does on the built-in engine, never found on the
  // manager's own search path.
  return "/dev/null/" + name;
}

/// The outcomes (exit codes and signals) after which the job must not be started again.
std::string restartPrevented(const KeepAlive& keepAlive) {
  std::string statuses;
  for (int code = 0; code <= 255; ++code) {
    if (!restartsAfter(keepAlive, code)) {
      statuses += (statuses.empty() ? "" : " ") + std::to_string(code);
    }
  }
  for (int signal = 1; signal < SIGRTMIN; ++signal) {
    const char* name = sigabbrev_np(signal);
    if (name != nullptr && !restartsAfter(keepAlive, -signal)) {
      statuses += std::string(statuses.empty() ? "" : " ") + "SIG" + name;
    }
  }
  return statuses;
}

/// Text for a human reader of the unit, on a line of its own: control characters would end the
/// line and an odd number of backslashes at its end would join the next line to it, so these
/// become '?' and one more backslash. Not exact (systemd also trims it); labels are kept exactly
/// in labelProperty.
std::string lineText(const std::string& text) {
  std::string out;
  for (const char c : morvane::repairUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7f ? '?' : c;
  }
  const size_t kept = out.find_last_not_of('\\');
  if ((out.size() - (kept == std::string::npos ? 0 : kept + 1)) % 2 != 0) {
    out += '\\';
  }
  return out;
}

/// A unit's Description: the label, which `systemctl status` shows beside the unit's name.
std::string description(const std::string& label) {
  std::string out;
  for (const char c : lineText(label)) {
    out += c == '%' ? std::string("%%") : std::string(1, c);
  }
  return out;
}

/// Where the unit keeps its label byte for byte: a property systemd ignores, with every byte
/// outside printable ASCII (and '%' and '\\') written %XX, so nothing can be trimmed or joined.
constexpr std::string_view kLabelProperty = "X-LaunchAgentLabel=";

/// Why the unit starts when nobody said otherwise: the one thing that starts it after its load.
std::string_view defaultCause(const JobConfig& config) {
  const KeepAlive& keepAlive = config.keepAlive;
  const bool restarts = keepAlive.always || keepAlive.successfulExit || keepAlive.crashed;
  const bool interval = config.startInterval > 0;
  const bool calendar = !config.calendar.empty();
  if (restarts + interval + calendar != 1) {
    return "-";
  }
  return restarts ? "keepalive" : interval ? "interval" : "calendar";
}

/// The command that runs the job's program, its start noted beside the run record with its
/// cause on the way: the hook (`hook`, as the unit names it), which then executes the program
/// with the job's whole argv.
std::string jobCommand(const JobConfig& config, const UnitSurroundings& surroundings,
                       const std::string& hook) {
  std::string command =
      hook + " start " + commandWord(surroundings.runRecord.string()) + " " +
      commandWord(std::string(defaultCause(config))) + " " +
      commandWord(pathValue(programPath(config), surroundings.jobFolder, "program"));
  for (const std::string& argument : config.arguments) {
    command += " " + commandWord(argument);
  }
  return command;
}

/// The hook that notes how each run ended in the job folder and adds the run to the run record;
/// "-" before it, as a note that cannot be written must not fail the run.
std::string runEndRecorder(const UnitSurroundings& surroundings, const std::string& hook) {
  return "-" + hook + " end " + commandWord(surroundings.runRecord.string()) + " " +
         commandWord(surroundings.unitFile.string()) + " " +
         commandWord(lastExitFile(surroundings.jobFolder).string());
}

}  // namespace

std::string labelProperty(const std::string& label) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(kLabelProperty);
  for (const char c : label) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f || c == '%' || c == '\\') {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> labelFromUnit(std::string_view unitText) {
  for (size_t start = 0; start < unitText.size();) {
    size_t end = unitText.find('\n', start);
    if (end == std::string_view::npos) {
      end = unitText.size();
    }
    const std::string_view line = unitText.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(kLabelProperty)) {
      continue;
    }
    std::string label;
    for (size_t i = kLabelProperty.size(); i < line.size(); ++i) {
      unsigned byte = static_cast<unsigned char>(line[i]);
      if (line[i] == '%') {
        const char* digits = line.data() + i + 1;
        if (i + 2 >= line.size() ||
            std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) {
          return std::nullopt;
        }
        i += 2;
      }
      label += static_cast<char>(byte);
    }
    return label;
  }
  return std::nullopt;
}

fs::path lastExitFile(const fs::path& jobFolder) {
  return jobFolder / "last-exit";
}

std::string commandWord(const std::string& word) {
  return escapedQuoted(word, true);
}

bool hasSchedule(const JobConfig& config) {
  return config.startInterval > 0 || !config.calendar.empty();
}

std::string serviceUnitText(const JobConfig& config, const UnitSurroundings& surroundings) {
  std::ostringstream unit;
  unit << "# Loaded by launchctl from " << lineText(surroundings.plistPath) << "\n"
       << "[Unit]\n"
       << "Description=" << description(config.label) << "\n"
       << labelProperty(config.label)
       << "\n"
       // launchd never gives up restarting a job.
       << "StartLimitIntervalSec=0\n\n"
       << "[Service]\n"
       << "Type=simple\n"
       << "Slice=" << morvane::AgentUnits::kSlice << "\n";
  const std::string hook =
      pathValue(surroundings.hookProgram.string(), surroundings.jobFolder, "run-hook");
  unit << "ExecStart=" << jobCommand(config, surroundings, hook) << "\n"
       << "ExecStopPost=" << runEndRecorder(surroundings, hook) << "\n"
       << "WorkingDirectory="
       << (config.workingDirectory.empty()
               ? "/"
               : pathValue(config.workingDirectory, surroundings.jobFolder, "working-directory"))
       << "\n";
  for (const auto& [name, value] : config.environment) {
    unit << "Environment=" << escapedQuoted(name + "=" + value, false) << "\n";
  }
  unit << "StandardInput="
       << (config.standardInPath.empty()
               ? "null"
               : "file:" + pathValue(config.standardInPath, surroundings.jobFolder, "stdin"))
       << "\n";
  unit << "StandardOutput="
       << (config.standardOutPath.empty()
               ? "journal"
               : "append:" + pathValue(config.standardOutPath, surroundings.jobFolder, "stdout"))
       << "\n";
  unit << "StandardError="
       << (config.standardErrorPath.empty()
               ? "journal"
               : "append:" + pathValue(config.standardErrorPath, surroundings.jobFolder, "stderr"))
       << "\n";
  // journald learns a line's unit from the writer's cgroup, which a process that has already
  // ended no longer shows; the stream's identifier stays, so the unit's name goes there.
  unit << "SyslogIdentifier=" << morvane::AgentUnits::unitName(config.label, ".service") << "\n";
  const KeepAlive& keepAlive = config.keepAlive;
  if (keepAlive.always || keepAlive.successfulExit || keepAlive.crashed) {
    unit << "Restart=always\n";
    if (const std::string prevented = restartPrevented(keepAlive); !prevented.empty()) {
      unit << "RestartPreventExitStatus=" << prevented << "\n";
    }
    unit << "RestartSec=" << config.throttleInterval << "\n";
  } else {
    unit << "Restart=no\n";
  }
  unit << "TimeoutStopSec="
       << (config.exitTimeout == 0 ? std::string("infinity") : std::to_string(config.exitTimeout))
       << "\n"
       // SIGTERM to every process of the job, SIGKILL when the exit timeout passes; with
       // AbandonProcessGroup only the program itself is signalled.
       << "KillMode=" << (config.abandonProcessGroup ? "process" : "control-group") << "\n";
  if (config.nice) {
    unit << "Nice=" << *config.nice << "\n";
  }
  if (config.umask) {
    char mask[8];
    std::snprintf(mask, sizeof mask, "%04o", static_cast<unsigned>(*config.umask));
    unit << "UMask=" << mask << "\n";
  }
  return unit.str();
}

std::string timerUnitText(const JobConfig& config) {
  std::ostringstream unit;
  unit << "[Unit]\n"
       << "Description=" << description(config.label) << "\n"
       << labelProperty(config.label) << "\n\n"
       << "[Timer]\n";
  if (config.startInterval > 0) {
    unit << "OnActiveSec=" << config.startInterval << "\n"
         << "OnUnitActiveSec=" << config.startInterval << "\n";
  }
  for (const CalendarEntry& entry : config.calendar) {
    for (const std::string& expression : calendarExpressions(entry)) {
      unit << "OnCalendar=" << expression << "\n";
    }
  }
  unit << "AccuracySec=1s\n";
  return unit.str();
}

}  // namespace launchctl
