#include "run_hook.h"

#include <charconv>

#include "launch.h"
#include "signal_names.h"

namespace launchctl {
namespace {

/// systemd's exit codes for a job it could not set up or execute.
constexpr int kFirstSetupFailure = 200;
constexpr int kLastSetupFailure = 243;

/// The whole of `word` as a number; nullopt when it is not one.
std::optional<int> number(std::string_view word) {
  int value = 0;
  if (word.empty() || std::from_chars(word.data(), word.data() + word.size(), value).ptr !=
                          word.data() + word.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int shownExitCode(int code) {
  return code >= kFirstSetupFailure && code <= kLastSetupFailure ? kExitCannotRun : code;
}

std::filesystem::path runHookProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::path("/proc/self/exe") : self).parent_path() / kRunHookProgram;
}

std::filesystem::path nextCauseFile(const std::filesystem::path& runRecord) {
  return runRecord.string() + ".cause";
}

std::filesystem::path startNoteFile(const std::filesystem::path& runRecord) {
  return runRecord.string() + ".start";
}

std::string startNoteText(int64_t startedMicros, std::string_view cause) {
  morvane::Run run;
  run.started = startedMicros;
  const std::string line = morvane::runLine(run);
  return line.substr(0, line.find(' ')) + " " + std::string(cause) + "\n";
}

std::optional<morvane::Run> parseStartNote(std::string_view text) {
  // The note is a run line's start and cause; the rest is that of a run under way.
  const size_t space = text.find(' ');
  if (space == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view cause = text.substr(space + 1);
  while (!cause.empty() && (cause.back() == '\n' || cause.back() == ' ')) {
    cause.remove_suffix(1);
  }
  return morvane::parseRunLine(std::string(text.substr(0, space)) + " - - - " + std::string(cause));
}

std::optional<morvane::Run> endedRun(const std::optional<morvane::Run>& started,
                                     int64_t endedMicros, std::string_view code,
                                     std::string_view status, bool unloaded) {
  morvane::Run run = started.value_or(morvane::Run{});
  if (code == "exited") {
    const std::optional<int> exitCode = number(status);
    if (!exitCode) {
      return std::nullopt;
    }
    run.status = shownExitCode(*exitCode);
  } else if (code == "killed" || code == "dumped") {
    const std::optional<int> signal =
        number(status) ? number(status) : morvane::signalNumber(status);
    if (!signal || *signal <= 0) {
      return std::nullopt;
    }
    run.status = -*signal;
  } else {
    return std::nullopt;
  }
  run.ended = endedMicros;
  run.unloaded = unloaded;
  return run;
}

}  // namespace launchctl
