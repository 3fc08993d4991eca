#include <chrono>
#include <limits>

#include "agent_status.h"
#include "cli.h"
#include "failure_line.h"
#include "language.h"
#include "log_tail.h"
#include "mode_settings.h"
#include "platform.h"
#include "run_history.h"
#include "run_text.h"
#include "schedule_text.h"
#include "shell.h"
#include "signal_names.h"
#include "terminal_width.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

/// Every value starts in terminal column 13, in both languages.
constexpr size_t kLabelColumns = 12;

/// One fact; its value comes from the agent's files, so it is escaped for the terminal.
void fact(std::ostream& out, const std::string& label, const std::string& value) {
  out << padToWidth(label, kLabelColumns) << visibleControlCharacters(value) << "\n";
}

std::string loadedText(const Agent& agent) {
  if (!agent.loaded)
    return L("未加载", "no");
  if (!agent.pid)
    return L("已加载，未运行", "yes, not running");
  return L([&] { return "已加载，pid " + std::to_string(*agent.pid); },
           [&] { return "yes, pid " + std::to_string(*agent.pid); });
}

/// "3", or "-15 (SIGTERM)" for a job a signal ended; "-" when there is none.
std::string exitStatusText(std::optional<int64_t> status) {
  if (!status)
    return "-";
  const std::string number = std::to_string(*status);
  if (*status >= 0 || *status == std::numeric_limits<int64_t>::min())
    return number;
  std::optional<std::string> name = signalName(-*status);
  if (!name)
    return number;
  return L([&] { return number + "（" + *name + "）"; },
           [&] { return number + " (" + *name + ")"; });
}

/// An argument as a shell would need it typed: plain when that is safe, else quoted.
std::string shellWord(const std::string& argument) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  if (!argument.empty() && argument.find_first_not_of(kPlain) == std::string::npos)
    return argument;
  return Shell::quote(argument);
}

std::string argumentsText(const std::vector<std::string>& arguments) {
  if (arguments.empty())
    return "-";
  std::string text;
  for (const std::string& argument : arguments)
    text += (text.empty() ? "" : " ") + shellWord(argument);
  return text;
}

/// A log's last lines (or why there are none) under the value column.
void tailFacts(std::ostream& out, const Result<std::vector<std::string>>& tail) {
  const std::string indent(kLabelColumns, ' ');
  if (!tail) {
    const std::string reason = visibleControlCharacters(tail.error().text);
    out << indent << L([&] { return "（" + reason + "）"; }, [&] { return "(" + reason + ")"; })
        << "\n";
  } else if (tail->empty()) {
    out << indent << L("（空）", "(empty)") << "\n";
  }
  // A log's lines keep their text and tabs; only what would drive the terminal is escaped.
  for (const std::string& line : tail.value_or(std::vector<std::string>{}))
    out << indent << visibleControlCharacters(line, Layout::lines) << "\n";
}

/// The log's path, then its last lines.
void logFacts(std::ostream& out, const std::string& label, const std::optional<std::string>& path,
              size_t lines) {
  if (!path)
    return;
  fact(out, label, *path);
  if (lines > 0)
    tailFacts(out, lastLines(resolvedLogPath(*path), lines));
}

/// Where the service manager logged what the agent wrote without a file of its own, and its
/// last lines, like a file's.
void serviceLogFacts(std::ostream& out, const std::string& agentLabel, size_t lines) {
  const std::optional<platform::ServiceLog> log = platform::agentServiceLog(agentLabel, lines);
  if (!log)
    return;
  fact(out, L("日志", "Journal"), log->name);
  if (lines > 0)
    tailFacts(out, log->lines);
}

void jobFacts(std::ostream& out, const std::string& agentLabel, const Result<JobDescription>& job,
              size_t lines) {
  if (!job) {
    fact(out, L("程序", "Program"), "✗ " + job.error().text);
    return;
  }
  fact(out, L("程序", "Program"), job->program.value_or("-"));
  fact(out, L("参数", "Arguments"), argumentsText(job->arguments));
  logFacts(out, L("标准输出", "Stdout"), job->standardOutPath, lines);
  logFacts(out, L("标准错误", "Stderr"), job->standardErrorPath, lines);
  if (!job->standardOutPath || !job->standardErrorPath)
    serviceLogFacts(out, agentLabel, lines);
}

/// When the agent runs and when next: for a calendar, or where the service manager tells (its
/// timer on the systemd engine, which also knows an interval's); nothing for an agent without
/// a schedule.
void scheduleFacts(std::ostream& out, const AgentStatus& status) {
  Result<Schedule> schedule = readScheduleFile(status.agent.path);
  if (!schedule || schedule->empty())
    return;
  fact(out, L("计划", "Schedule"), ScheduleText::summary(*schedule));
  for (const std::string& line : ScheduleText::entryLines(*schedule))
    out << std::string(kLabelColumns, ' ') << "· " << line << "\n";
  const std::optional<std::time_t> next = nextStart(status, *schedule, std::time(nullptr));
  if (schedule->calendar.empty() && !next)
    return;
  fact(out, L("下次运行", "Next run"),
       !status.agent.loaded ? "-"
       : next               ? ScheduleText::nextRunFull(*next)
                            : ScheduleText::never());
}

/// How many runs the report shows; `--json` carries all the manager keeps.
constexpr size_t kShownRuns = 5;

/// The loaded agent's last runs, newest first, or why they could not be read.
void runFacts(std::ostream& out, const AgentStatus& status) {
  if (!status.printed)
    return;
  const Result<Agents::PrintedJob>& printed = *status.printed;
  const std::string indent(kLabelColumns, ' ');
  std::string first = padToWidth(RunText::heading(), kLabelColumns);
  if (!printed) {
    const std::string reason = visibleControlCharacters(printed.error().text);
    out << first << L([&] { return "（" + reason + "）"; }, [&] { return "(" + reason + ")"; })
        << "\n";
    return;
  }
  const Runs& runs = printed->runs;
  if (runs.empty()) {
    out << first << RunText::none() << "\n";
    return;
  }
  const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  size_t shown = 0;
  for (auto run = runs.rbegin(); run != runs.rend() && shown < kShownRuns; ++run, ++shown) {
    out << (shown == 0 ? first : indent) << RunText::line(*run, now) << "\n";
  }
}

}  // namespace

int32_t status(std::ostream& out, const std::string& name, size_t lines, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  if (scanned.problem)
    return printFailure(err, *scanned.problem);
  Result<AgentStatus> found = agentStatus(scanned, name, store.value().friendlyNames);
  if (!found)
    return printFailure(out, found.error());
  const AgentStatus& status = *found;
  fact(out, L("标签", "Label"), status.agent.label);
  if (status.friendlyName)
    fact(out, L("名称", "Name"), *status.friendlyName);
  fact(out, L("文件", "File"), status.agent.path);
  fact(out, L("加载", "Loaded"), loadedText(status.agent));
  fact(out, L("上次退出", "Last exit"), exitStatusText(status.lastExitStatus));
  fact(out, L("停用", "Disabled"), status.agent.disabled ? L("是", "yes") : L("否", "no"));
  scheduleFacts(out, status);
  jobFacts(out, status.agent.label, status.job, lines);
  runFacts(out, status);
  out.flush();
  return 0;
}

}  // namespace morvane::CLI
