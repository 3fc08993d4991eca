#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "job_config.h"
#include "run_hook.h"

namespace launchctl {

/// Where a job's systemd units find what they need besides their own text.
struct UnitSurroundings {
  /// The job's own folder under the runtime directory: the status its last run ended with, and
  /// links to paths a unit file cannot spell.
  std::filesystem::path jobFolder;
  /// The property list the job was loaded from (named in a comment of the unit).
  std::string plistPath;
  /// The job's run record (run_record.h), which the unit's hooks keep.
  std::filesystem::path runRecord;
  /// Where the service unit's own file lies: once bootout has removed it, a run's end is its
  /// unload's doing.
  std::filesystem::path unitFile;
  /// The program the unit runs around each run to keep the run record (run_hook.h).
  std::filesystem::path hookProgram;
};

/// The file in the job folder that holds how the last run ended, as systemd reports it to
/// ExecStopPost: "exited 3", "killed TERM", "dumped SEGV".
std::filesystem::path lastExitFile(const std::filesystem::path& jobFolder);

/// The text of the job's service unit: launchd's keys as systemd settings with the same
/// meaning. Creates the links it refers to in the job folder (which must exist).
std::string serviceUnitText(const JobConfig& config, const UnitSurroundings& surroundings);

/// Whether the job starts on a schedule and so needs a timer unit.
bool hasSchedule(const JobConfig& config);

/// The text of the job's timer unit: StartInterval and StartCalendarInterval.
std::string timerUnitText(const JobConfig& config);

/// The line of a unit that keeps the job's label exactly (systemd trims and joins what it reads
/// itself, so the Description cannot).
std::string labelProperty(const std::string& label);

/// The label a unit's text keeps (labelProperty); nullopt when it keeps none.
std::optional<std::string> labelFromUnit(std::string_view unitText);

/// A word of a command line in a unit file (ExecStart=): quoted and escaped so systemd hands
/// the program exactly `word`.
std::string commandWord(const std::string& word);

}  // namespace launchctl
