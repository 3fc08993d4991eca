#pragma once

// Each job's last runs, kept beside the state in a folder of their own, one record per label
// (run_history.h gives the format). A record is replaced whole on every change, so a reader
// never sees half of one, and the folder's change is the sign that a run started or ended.

#include <chrono>
#include <filesystem>
#include <string>

#include "run_history.h"

namespace launchctl {

/// The folder in `stateDir` that holds the run records.
std::filesystem::path runRecordFolder(const std::filesystem::path& stateDir);

/// The folder in `stateDir` that holds the run records, made when missing and rid of what writers
/// that were killed left in it (the records' writes do not look, being many). For a job's load.
/// Throws, with one line, when it cannot be made.
std::filesystem::path prepareRunRecordFolder(const std::filesystem::path& stateDir);

/// The runs recorded for `label`; none when there is no record or it cannot be read.
morvane::Runs readRunRecord(const std::filesystem::path& folder, const std::string& label);

/// The current time in the records' unit, microseconds since the epoch.
int64_t nowMicros();

/// Records that a run of `label` started at `startedMicros` (nowMicros()'s unit) for `cause`.
/// Throws, with one line, when the record cannot be written.
void recordRunStart(const std::filesystem::path& folder, const std::string& label,
                    morvane::RunCause cause, int64_t startedMicros = nowMicros());

/// Records that the run of `label` under way ended now with `status` (`list`'s form), by itself
/// or, with `unloaded`, because it was booted out; with no run under way, a run whose start is
/// unknown. Throws, with one line, when the record cannot be written.
void recordRunEnd(const std::filesystem::path& folder, const std::string& label, int status,
                  bool unloaded);

}  // namespace launchctl
