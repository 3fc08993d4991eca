#include <nlohmann/json.hpp>

#include "agent_status.h"
#include "cli.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "run_history.h"
#include "schedule_text.h"
#include "signal_names.h"

namespace morvane::CLI {
namespace {

// Keys keep the order they are written in, which is the documented one.
using Json = nlohmann::ordered_json;

Json orNull(const std::optional<int64_t>& number) {
  return number ? Json(*number) : Json(nullptr);
}

Json orNull(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

/// Sets the facts the listing and the status share. Setting them on an object that already
/// has the keys reuses its nodes, which matters at a thousand agents.
void setAgentFacts(Json& object, const Agent& agent, std::optional<int64_t> lastExitStatus,
                   const std::optional<std::string>& friendlyName) {
  object["label"] = agent.label;
  object["file"] = agent.file;
  object["path"] = agent.path;
  object["loaded"] = agent.loaded;
  object["pid"] = orNull(agent.pid);
  object["lastExitStatus"] = orNull(lastExitStatus);
  object["disabled"] = agent.disabled;
  object["friendlyName"] = orNull(friendlyName);
}

void addJob(Json& object, const Result<JobDescription>& job) {
  object["program"] = job ? orNull(job->program) : Json(nullptr);
  object["arguments"] = job ? Json(job->arguments) : Json::array();
  object["standardOutPath"] = job ? orNull(job->standardOutPath) : Json(nullptr);
  object["standardErrorPath"] = job ? orNull(job->standardErrorPath) : Json(nullptr);
}

/// "2026-12-10T09:00:00+01:00", in local time.
std::string isoTime(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  return iso.insert(iso.size() - 2, ":");
}

/// The schedule as the status shows it (null without one), the loaded agent's next start (null
/// when there is none; see nextStart), and the calendar's entries.
void addSchedule(Json& object, const AgentStatus& status) {
  Result<Schedule> schedule = readScheduleFile(status.agent.path);
  const bool some = schedule && !schedule->empty();
  object["schedule"] = some ? Json(ScheduleText::summary(*schedule)) : Json(nullptr);
  std::optional<std::time_t> next;
  if (some)
    next = nextStart(status, *schedule, std::time(nullptr));
  object["nextRun"] = next ? Json(isoTime(*next)) : Json(nullptr);
  Json entries = Json::array();
  for (const CalendarEntry& entry : schedule ? schedule->calendar : std::vector<CalendarEntry>{})
    entries.push_back(ScheduleText::entry(entry));
  object["calendar"] = entries;
}

/// "2026-12-09T15:01:02.120+01:00", in local time, from microseconds since the epoch.
std::string isoMoment(int64_t micros) {
  std::string iso = isoTime(static_cast<std::time_t>(micros / 1'000'000));
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(micros % 1'000'000 / 1000));
  return iso.insert(iso.size() - 6, fraction);
}

Json moment(const std::optional<int64_t>& micros) {
  return micros ? Json(isoMoment(*micros)) : Json(nullptr);
}

Json causeWord(RunCause cause) {
  switch (cause) {
    case RunCause::load:
      return "load";
    case RunCause::keepAlive:
      return "keepAlive";
    case RunCause::interval:
      return "interval";
    case RunCause::calendar:
      return "calendar";
    case RunCause::unknown:
      break;
  }
  return nullptr;
}

/// Every run the service manager keeps of a loaded agent, newest first: an empty list when it
/// is not loaded, null (and the reason under "runsProblem") when they could not be read.
void addRuns(Json& object, const AgentStatus& status) {
  Json runs = Json::array();
  object["runs"] = nullptr;
  object["runsProblem"] = nullptr;
  if (status.printed) {
    const Result<Agents::PrintedJob>& read = *status.printed;
    if (!read) {
      object["runs"] = nullptr;
      object["runsProblem"] = read.error().text;
      return;
    }
    for (auto run = read->runs.rbegin(); run != read->runs.rend(); ++run) {
      Json entry = Json::object();
      entry["started"] = moment(run->started);
      entry["ended"] = moment(run->ended);
      entry["durationSeconds"] =
          run->started && run->ended
              ? Json(static_cast<double>(*run->ended - *run->started) / 1'000'000)
              : Json(nullptr);
      const bool signalled = run->status && *run->status < 0;
      entry["exitCode"] = run->status && !signalled ? Json(*run->status) : Json(nullptr);
      entry["signal"] = signalled ? orNull(signalName(-*run->status)) : Json(nullptr);
      entry["cause"] = causeWord(run->cause);
      entry["endedByUnload"] = run->unloaded;
      runs.push_back(entry);
    }
  }
  object["runs"] = runs;
}

/// UTF-8 with control characters escaped; bytes that are no UTF-8 become U+FFFD rather than
/// failing the output. `indent` < 0 writes everything on one line.
std::string text(const Json& json, int indent) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

int32_t listJson(std::ostream& out, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Agents::ScannedAgents scan = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  // One agent per line, so that line tools work on the array too.
  std::string array = "[";
  Json object = Json::object();
  for (const Agent& agent : scan.agents) {
    setAgentFacts(object, agent, lastExitStatus(scan, agent),
                  friendlyName(agent.label, store.value().friendlyNames));
    array += array.size() == 1 ? "\n  " : ",\n  ";
    array += text(object, -1);
  }
  array += scan.agents.empty() ? "]\n" : "\n]\n";
  out << array << std::flush;
  return reportProblem(err, scan.problem);
}

int32_t statusJson(std::ostream& out, const std::string& name, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  if (scanned.problem)
    return printFailure(err, *scanned.problem);
  Result<AgentStatus> status = agentStatus(scanned, name, store.value().friendlyNames);
  if (!status)
    return printFailure(out, status.error());
  Json object = Json::object();
  setAgentFacts(object, status->agent, status->lastExitStatus, status->friendlyName);
  addJob(object, status->job);
  addSchedule(object, *status);
  addRuns(object, *status);
  out << text(object, 2) << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
