#include "systemd_engine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "agent_units.h"
#include "file_io.h"
#include "login_unit.h"
#include "run_hook.h"
#include "run_record.h"
#include "service_runtimes.h"
#include "state_lock.h"
#include "unique_fd.h"
#include "unit_file.h"

namespace launchctl {
namespace {

namespace fs = std::filesystem;
using morvane::AgentUnits::labelOf;
using morvane::AgentUnits::unitName;

/// The name of the folder, under the runtime directory's "launchagents", that belongs to the
/// service `serviceName`. A unit file names paths in the folder, and systemd runs no program
/// whose path holds a backslash: the ones of the unit name's escapes become '+', which no unit
/// name holds.
std::string jobFolderName(std::string serviceName) {
  std::ranges::replace(serviceName, '\\', '+');
  return serviceName;
}

/// How a run ended, from the manager's record of the main process; nullopt when none has
/// ended since the last start.
std::optional<int> statusFromRuntime(const user_manager::ServiceRuntime& runtime) {
  switch (runtime.execMainCode) {
    case CLD_EXITED:
      return shownExitCode(runtime.execMainStatus);
    case CLD_KILLED:
    case CLD_DUMPED:
      return -runtime.execMainStatus;
    default:
      return std::nullopt;
  }
}

/// The number of a signal named without "SIG" ("TERM"), or 0.
int signalNumber(const std::string& name) {
  for (int signal = 1; signal < SIGRTMIN; ++signal) {
    const char* abbreviation = sigabbrev_np(signal);
    if (abbreviation != nullptr && name == abbreviation) {
      return signal;
    }
  }
  return 0;
}

/// How the last run ended, from the note the job's ExecStopPost wrote ("exited 3", "killed TERM").
std::optional<int> statusFromNote(const std::string& text) {
  std::istringstream in(text);
  std::string code;
  std::string status;
  if (!(in >> code >> status)) {
    return std::nullopt;
  }
  if (code == "exited") {
    try {
      return shownExitCode(std::stoi(status));
    } catch (...) {
      return std::nullopt;
    }
  }
  const int signal = signalNumber(status);
  return signal > 0 ? std::optional(-signal) : std::nullopt;
}

/// The note of how the last run of `serviceName` ended, read through `folders`, the open folder
/// of every job's folder, which spares each read a walk down the whole path; `bytes` is the
/// buffer a caller reading many reuses. The reading is non-blocking and bounded, whatever may
/// have taken the note's name.
std::optional<int> notedStatus(int folders, const std::string& serviceName, std::string& bytes) {
  if (folders < 0) {
    return std::nullopt;
  }
  const fs::path note = lastExitFile(jobFolderName(serviceName));
  if (!morvane::readListedRegularFile(folders, note.c_str(), bytes)) {
    return std::nullopt;
  }
  return statusFromNote(bytes);
}

/// Writes `text` to `path` atomically.
void writeUnitFile(const fs::path& path, const std::string& text) {
  if (const morvane::Outcome written = morvane::writeFileAtomically(path, text); !written) {
    throw std::runtime_error(written.error().text);
  }
}

/// The label a job's unit file keeps, or its job folder while the unit stops after bootout
/// removed the file; for names that only carry a digest of it.
std::optional<std::string> keptLabel(const fs::path& unitFile, const fs::path& jobFolder) {
  if (const auto text = morvane::readRegularFile(unitFile)) {
    if (std::optional<std::string> label = labelFromUnit(*text)) {
      return label;
    }
  }
  if (auto label = morvane::readRegularFile(jobFolder / "label")) {
    return std::move(*label);
  }
  return std::nullopt;
}

/// Whether a service in `subState` may have a main process; those in which it never has one are
/// listed, every other (and any systemd adds later) is asked about.
bool mayHaveMainProcess(const std::string& subState) {
  static const std::set<std::string, std::less<>> kWithout = {
      "dead",      "failed",         "auto-restart",  "exited",        "condition", "start-pre",
      "stop-post", "final-watchdog", "final-sigterm", "final-sigkill", "cleaning"};
  return !kWithout.contains(subState);
}

/// Whether ExecStopPost's note of how the last run ended may lag behind the manager's in
/// `subState`: while the service is being stopped, and in any state this does not know.
bool noteMayLag(const std::string& subState) {
  static const std::set<std::string, std::less<>> kNoted = {
      "running",  "start",          "start-post",    "reload",       "dead",
      "failed",   "auto-restart",   "exited",        "condition",    "start-pre",
      "cleaning", "final-watchdog", "final-sigterm", "final-sigkill"};
  return !kNoted.contains(subState);
}

/// The start hook's note of the run under way: its start and cause.
std::optional<morvane::Run> startNote(const fs::path& runRecord) {
  const auto text = morvane::readRegularFile(startNoteFile(runRecord));
  return text ? parseStartNote(*text) : std::nullopt;
}

bool isAgentService(const std::string& name) {
  return name.starts_with(morvane::AgentUnits::kPrefix) && name.ends_with(".service");
}

}  // namespace

SystemdEngine::SystemdEngine(user_manager::Connection connection,
                             std::filesystem::path stateDirectory)
    : connection_(std::move(connection)), stateDirectory_(std::move(stateDirectory)) {}

fs::path SystemdEngine::unitDirectory() const {
  return connection_.runtimeDirectory() / "systemd" / "user";
}

fs::path SystemdEngine::jobFolder(const std::string& serviceName) const {
  return connection_.runtimeDirectory() / "launchagents" / jobFolderName(serviceName);
}

std::vector<ListedJob> SystemdEngine::jobs() {
  // Loaded: a unit file, or a unit still stopping after bootout removed its file.
  std::map<std::string, std::optional<user_manager::UnitStatus>> units;  // by service name
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(unitDirectory(), ignored)) {
    const std::string name = entry.path().filename().string();
    if (isAgentService(name)) {
      units[name];
    }
  }
  for (user_manager::UnitStatus& unit :
       connection_.listUnits({std::string(morvane::AgentUnits::kPrefix) + "*.service"})) {
    if (units.contains(unit.name) || user_manager::isLive(unit.activeState)) {
      units[unit.name] = std::move(unit);
    }
  }
  // The manager is asked only for what it alone knows: the main process of a service that may
  // have one. How the last run ended is in the job folder, noted by ExecStopPost; the manager
  // is asked for it only while that note may lag behind, or when there is none for a service
  // that is not running (a running one's is reset at its start). The files are read while the
  // manager answers.
  std::vector<user_manager::RuntimeRequest> asked;
  std::vector<size_t> askedRows;  // the row of `list` each request is for
  std::vector<user_manager::RuntimeRequest> unnoted;
  std::vector<size_t> unnotedRows;
  size_t row = 0;
  for (const auto& [name, status] : units) {
    if (status && (mayHaveMainProcess(status->subState) || noteMayLag(status->subState))) {
      asked.push_back({name, mayHaveMainProcess(status->subState), noteMayLag(status->subState)});
      askedRows.push_back(row);
    }
    ++row;
  }
  user_manager::PendingRuntimes pending(connection_, asked);
  const morvane::UniqueFd folders(::open((connection_.runtimeDirectory() / "launchagents").c_str(),
                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string note;
  std::vector<ListedJob> jobs;
  for (const auto& [name, status] : units) {
    std::optional<std::string> label = labelOf(name);
    if (!label) {
      label = keptLabel(unitDirectory() / name, jobFolder(name)).value_or(name);
    }
    const std::optional<int> noted = notedStatus(folders.get(), name, note);
    if (status && !noted && !mayHaveMainProcess(status->subState) &&
        !noteMayLag(status->subState)) {
      unnoted.push_back({name, false, true});
      unnotedRows.push_back(jobs.size());
    }
    jobs.push_back({*label, std::nullopt, noted.value_or(0)});
  }
  const auto apply = [&](const std::vector<user_manager::ServiceRuntime>& runtimes,
                         const std::vector<size_t>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
      ListedJob& job = jobs[rows[i]];
      if (runtimes[i].mainPid > 0) {
        job.pid = runtimes[i].mainPid;
      }
      if (const std::optional<int> ended = statusFromRuntime(runtimes[i])) {
        job.lastStatus = *ended;
      }
    }
  };
  apply(pending.await(), askedRows);
  apply(user_manager::serviceRuntimes(connection_, unnoted), unnotedRows);
  return jobs;
}

bool SystemdEngine::isLoaded(const std::string& label) {
  const std::string service = unitName(label, ".service");
  std::error_code ignored;
  if (fs::exists(unitDirectory() / service, ignored)) {
    return true;
  }
  const std::optional<user_manager::UnitStatus> unit = connection_.unit(service);
  return unit && user_manager::isLive(unit->activeState);
}

morvane::Runs SystemdEngine::runs(const std::string& label, const fs::path& runRecords) {
  morvane::Runs runs = readRunRecord(runRecords, label);
  for (morvane::Run& run : runs) {
    if (run.status && *run.status > 0) {
      run.status = shownExitCode(static_cast<int>(*run.status));
    }
  }
  const std::string service = unitName(label, ".service");
  const std::optional<user_manager::UnitStatus> unit = connection_.unit(service);
  if (!unit || unit->activeState != "active") {
    return runs;
  }
  const user_manager::ServiceRuntime runtime =
      user_manager::serviceRuntimes(connection_, {{service, true, false}}).front();
  if (runtime.mainPid <= 0) {
    return runs;
  }
  morvane::Run current =
      startNote(runRecords / morvane::runRecordName(label)).value_or(morvane::Run{});
  if (!current.started) {
    const std::uint64_t started =
        connection_.unitProperty(service, "Service", "ExecMainStartTimestamp");
    if (started != 0 && started != UINT64_MAX) {
      current.started = static_cast<std::int64_t>(started);
    }
  }
  runs.push_back(current);
  return runs;
}

std::optional<std::time_t> SystemdEngine::nextRun(const std::string& label) {
  const std::string timer = unitName(label, ".timer");
  const std::optional<user_manager::UnitStatus> unit = connection_.unit(timer);
  if (!unit || unit->activeState != "active") {
    return std::nullopt;
  }
  // The calendar's next elapse is on the real-time clock, the interval's on the monotonic one;
  // 0 and "infinity" mean none.
  const auto isSet = [](std::uint64_t usec) { return usec != 0 && usec != UINT64_MAX; };
  std::optional<std::uint64_t> next;
  const std::uint64_t calendar = connection_.unitProperty(timer, "Timer", "NextElapseUSecRealtime");
  if (isSet(calendar)) {
    next = calendar;
  }
  const std::uint64_t interval =
      connection_.unitProperty(timer, "Timer", "NextElapseUSecMonotonic");
  if (isSet(interval)) {
    timespec monotonic{};
    timespec realtime{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    clock_gettime(CLOCK_REALTIME, &realtime);
    const auto usec = [](const timespec& at) {
      return static_cast<std::int64_t>(at.tv_sec) * 1'000'000 + at.tv_nsec / 1000;
    };
    const std::int64_t shifted =
        usec(realtime) + (static_cast<std::int64_t>(interval) - usec(monotonic));
    if (shifted > 0 && (!next || static_cast<std::uint64_t>(shifted) < *next)) {
      next = static_cast<std::uint64_t>(shifted);
    }
  }
  if (!next) {
    return std::nullopt;
  }
  return static_cast<std::time_t>(*next / 1'000'000);
}

void SystemdEngine::removeUnits(const std::string& label) {
  std::error_code ignored;
  fs::remove(unitDirectory() / unitName(label, ".service"), ignored);
  fs::remove(unitDirectory() / unitName(label, ".timer"), ignored);
}

void SystemdEngine::load(const JobConfig& config, const std::string& plistPath) {
  const std::string service = unitName(config.label, ".service");
  const std::string timer = unitName(config.label, ".timer");
  // A unit left failed in memory by an earlier load would shadow the new unit file.
  connection_.resetFailed(service);
  connection_.resetFailed(timer);
  const fs::path folder = jobFolder(service);
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::create_directories(unitDirectory());
  const fs::path runRecords = prepareRunRecordFolder(stateDirectory_);
  const fs::path runRecord = runRecords / morvane::runRecordName(config.label);
  std::error_code ignored;
  try {
    const fs::path absolute = fs::absolute(plistPath, ignored);
    if (startsAtLoad(config)) {
      // Like the run record it is for, worth less than the wait for the disk.
      if (const morvane::Outcome written =
              morvane::writeFileAtomicallyUnflushed(nextCauseFile(runRecord), "load");
          !written) {
        throw std::runtime_error(written.error().text);
      }
    } else {
      fs::remove(nextCauseFile(runRecord), ignored);
    }
    writeUnitFile(folder / "label", config.label);
    if (hasSchedule(config)) {
      writeUnitFile(unitDirectory() / timer, timerUnitText(config));
    }
    writeUnitFile(unitDirectory() / service,
                  serviceUnitText(config, {folder, absolute.string(), runRecord,
                                           unitDirectory() / service, runHookProgram()}));
    std::set<std::string> jobs;
    if (hasSchedule(config)) {
      jobs.insert(connection_.startUnit(timer));
    }
    if (startsAtLoad(config)) {
      jobs.insert(connection_.startUnit(service));
    }
    connection_.awaitJobs(jobs, std::chrono::steady_clock::now() + kBootoutPatience);
  } catch (...) {
    // Nothing half-registered: without its unit files the job is not loaded.
    removeUnits(config.label);
    fs::remove_all(folder, ignored);
    throw;
  }
}

int SystemdEngine::unload(const std::string& label, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const std::string service = unitName(label, ".service");
  const std::string timer = unitName(label, ".timer");
  std::error_code ignored;
  const bool hasFile = fs::exists(unitDirectory() / service, ignored);
  const std::optional<user_manager::UnitStatus> unit = connection_.unit(service);
  if (!hasFile && !(unit && user_manager::isLive(unit->activeState))) {
    return kNotLoaded;
  }
  // Without its files the job is no longer wanted; it stays listed while its unit stops.
  removeUnits(label);
  std::set<std::string> jobs;
  for (const std::string& name : {service, timer}) {
    if (const std::optional<std::string> job = connection_.stopUnit(name)) {
      jobs.insert(*job);
    }
  }
  std::set<std::string> stopping = connection_.awaitJobs(jobs, deadline);
  // A stop the manager did not carry out (it was going away, or something started the unit
  // again) has ended nothing: ask the manager, which fails when it is gone.
  const bool allDone = std::ranges::all_of(
      jobs, [&](const std::string& job) { return connection_.jobResult(job) == "done"; });
  if (stopping.empty() && !allDone) {
    if (const auto now = connection_.unit(service); now && user_manager::isLive(now->activeState)) {
      stopping.insert(service);
    }
  }
  if (!stopping.empty()) {
    const pid_t pid =
        user_manager::serviceRuntimes(connection_, {{service, true, false}}).front().mainPid;
    const std::uint64_t timeout = connection_.unitProperty(service, "Service", "TimeoutStopUSec");
    std::optional<std::chrono::seconds> killIn;
    if (timeout != UINT64_MAX) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const std::int64_t nowUsec = now.tv_sec * 1'000'000LL + now.tv_nsec / 1000;
      const std::uint64_t since =
          connection_.unitProperty(service, "Unit", "StateChangeTimestampMonotonic");
      const std::int64_t left = static_cast<std::int64_t>(since + timeout) - nowUsec;
      killIn = std::chrono::seconds(std::max<std::int64_t>(left, 0) / 1'000'000);
    }
    printStillStopping(label, pid, killIn);
    return kStillStopping;
  }
  // A bootstrap may have loaded the label afresh meanwhile; its folder is its own then.
  const StateLock lock(stateDirectory_);
  if (!fs::exists(unitDirectory() / service, ignored)) {
    connection_.resetFailed(service);
    connection_.resetFailed(timer);
    fs::remove_all(jobFolder(service), ignored);
    // Where a job loaded by an earlier version keeps its folder.
    fs::remove_all(connection_.runtimeDirectory() / "launchagents" / service, ignored);
  }
  return 0;
}

void SystemdEngine::ensureLoginUnit() {
  try {
    installLoginUnit(connection_);
  } catch (const user_manager::ManagerError&) {
    throw;  // the manager itself failed: the command cannot go on either
  } catch (const std::exception& error) {
    std::fprintf(stderr, "launchctl: the login unit could not be installed: %s\n", error.what());
  }
}

}  // namespace launchctl
