#pragma once

// The hook a job's service unit runs around each run on the systemd engine (run_hook_main.cc): as
// the run starts, a note of when and why beside the run record, before it becomes the job's
// program; at its end, how it ended in the job folder and the whole run added to the run record.
// One small program, started directly by the manager, so that neither a job's start nor the
// stop that bootout asks for waits long on it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "run_history.h"

namespace launchctl {

/// The hook program, in the same folder as launchctl.
inline constexpr const char* kRunHookProgram = "launchctl-run-hook";

/// An exit code of a run as `list` and the run record show it: systemd's codes for a job it
/// could not set up or execute (EXIT_CHDIR, EXIT_EXEC, … from 200 to 243) as the built-in
/// engine exits then, EX_CONFIG; any other as it is.
int shownExitCode(int code);

/// The file beside a run record that holds why the next start happens, when the one who starts
/// it knows better than the unit ("load" for the start at bootstrap); the next start takes it.
std::filesystem::path nextCauseFile(const std::filesystem::path& runRecord);

/// The hook program beside the running launchctl.
std::filesystem::path runHookProgram();

/// The file beside a run record that notes the start and cause of the run under way.
std::filesystem::path startNoteFile(const std::filesystem::path& runRecord);

/// The text of a start note: the start as a run record gives it, and the cause's word.
std::string startNoteText(int64_t startedMicros, std::string_view cause);

/// The run a start note tells of, under way; nullopt when the text is none.
std::optional<morvane::Run> parseStartNote(std::string_view text);

/// The run that ended at `endedMicros`, from its start note (nullopt when there is none), how
/// systemd says it ended (`code` "exited", "killed" or "dumped", `status` a number or a signal's
/// name) and whether its unload ended it; nullopt when systemd's words tell no end.
std::optional<morvane::Run> endedRun(const std::optional<morvane::Run>& started,
                                     int64_t endedMicros, std::string_view code,
                                     std::string_view status, bool unloaded);

}  // namespace launchctl
