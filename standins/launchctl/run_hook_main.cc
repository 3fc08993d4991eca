// launchctl-run-hook: what a job's service unit runs around each of its runs (run_hook.h).
//
//   launchctl-run-hook start RECORD DEFAULT-CAUSE PROGRAM [ARGV...]   (ExecStart)
//   launchctl-run-hook end RECORD UNIT-FILE LAST-EXIT                 (ExecStopPost)
//
// `start` notes the start of the run under way beside the run record, with the cause its starter
// left in the record's cause file, else DEFAULT-CAUSE, then becomes the job: it executes PROGRAM
// with ARGV as its whole argv, argv[0] included, or exits with the status of a job that cannot be
// run. The manager counts the service started once it has forked it, so no start waits for the
// note. `end` writes how the run ended, as systemd tells it in EXIT_CODE and EXIT_STATUS, to
// LAST-EXIT, and adds the run to the record, "unloaded" when UNIT-FILE is gone (bootout removes it
// before it stops the unit). A note that cannot be written costs the history of that run, never
// the run itself: the unit ignores the exit status of `end`, and `start` goes on to the job.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "file_io.h"
#include "launch.h"
#include "run_hook.h"
#include "run_record.h"

namespace {

namespace fs = std::filesystem;
using namespace launchctl;

/// The first word of `text`, or `fallback` when it has none.
std::string firstWord(std::string_view text, std::string_view fallback) {
  const size_t start = text.find_first_not_of(" \t\n");
  if (start == std::string_view::npos) {
    return std::string(fallback);
  }
  const size_t end = text.find_first_of(" \t\n", start);
  return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

bool write(const fs::path& file, std::string_view text) {
  if (const morvane::Outcome written = morvane::writeFileAtomicallyUnflushed(file, text);
      !written) {
    std::fprintf(stderr, "launchctl-run-hook: %s\n", written.error().text.c_str());
    return false;
  }
  return true;
}

[[noreturn]] void startJob(const fs::path& record, std::string_view defaultCause,
                           const char* program, char** argv) {
  std::string cause(defaultCause);
  const fs::path causeFile = nextCauseFile(record);
  if (const auto text = morvane::readRegularFile(causeFile)) {
    cause = firstWord(*text, defaultCause);
    ::unlink(causeFile.c_str());
  }
  write(startNoteFile(record), startNoteText(nowMicros(), cause));
  ::execv(program, argv);
  std::fprintf(stderr, "launchctl: %s: %s\n", program, std::strerror(errno));
  std::exit(kExitCannotRun);
}

int noteEnd(const fs::path& record, const fs::path& unitFile, const fs::path& lastExit) {
  const int64_t ended = nowMicros();
  const char* code = std::getenv("EXIT_CODE");
  const char* status = std::getenv("EXIT_STATUS");
  const std::string_view codeWord = code != nullptr ? code : "";
  const std::string_view statusWord = status != nullptr ? status : "";
  bool written = write(lastExit, std::string(codeWord) + " " + std::string(statusWord) + "\n");
  const fs::path note = startNoteFile(record);
  const auto noted = morvane::readRegularFile(note);
  std::optional<morvane::Run> started;
  if (noted) {
    started = parseStartNote(*noted);
  }
  const bool unloaded = ::access(unitFile.c_str(), F_OK) != 0;
  if (const std::optional<morvane::Run> run =
          endedRun(started, ended, codeWord, statusWord, unloaded)) {
    const auto text = morvane::readRegularFile(record);
    morvane::Runs runs = text ? morvane::parseRuns(*text) : morvane::Runs{};
    runs.push_back(*run);
    written = write(record, morvane::runsText(runs)) && written;
  }
  ::unlink(note.c_str());
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "start" && argc >= 5) {
    startJob(argv[2], argv[3], argv[4], argv + 5);
  }
  if (command == "end" && argc == 5) {
    return noteEnd(argv[2], argv[3], argv[4]);
  }
  std::fprintf(stderr, "%s is run by a job's unit, not by hand\n", argv[0]);
  return 64;
}
