// Jobs that end by themselves or by signals, KeepAlive restarts and timed starts.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <thread>

#include "harness.h"
#include "run_history.h"

namespace launchctl_test {
namespace {

using JobLifecycleTest = LaunchctlTest;
using morvane::RunCause;
using morvane::Runs;

/// Counts the lines of a file.
std::size_t lineCount(const std::filesystem::path& path) {
  std::istringstream text(readFile(path));
  std::size_t count = 0;
  for (std::string line; std::getline(text, line);) {
    ++count;
  }
  return count;
}

TEST_P(JobLifecycleTest, ExitStatusesAreShownAfterTheJobEnds) {
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"/bin/sh", "-c", "exit 0"}, 0},
      {{"/bin/sh", "-c", "exit 3"}, 3},
      {{"/bin/sh", "-c", "kill -9 $$"}, -9},
      {{"/bin/sh", "-c", "kill -TERM $$"}, -15},
      // A program that is not there, as every engine shows one it could not start.
      {{"/nonexistent/program"}, 78},
  };
  // What a killed writer of a run record left beside it goes at the next load, not before: the
  // records' own writes never read the folder.
  const std::filesystem::path records = home_ / ".launchd-standin/runs";
  const pid_t killedWriter = fork();
  if (killedWriter == 0) {
    _exit(0);
  }
  waitpid(killedWriter, nullptr, 0);
  const std::filesystem::path left = records / ("." + morvane::runRecordName("org.example.exit0") +
                                                ".tmp-" + std::to_string(killedWriter) + "-0");
  std::filesystem::create_directories(records);
  writeFile(left, "1 -");
  int index = 0;
  for (const auto& [arguments, expected] : cases) {
    const std::string& script = arguments.back();
    const std::string label = "org.example.exit" + std::to_string(index++);
    load(label, arguments);
    EXPECT_FALSE(std::filesystem::exists(left)) << script;
    // Ended, with its status: a manager under load may show the end a moment before the status.
    std::optional<ListRow> row;
    eventually([&] {
      row = rowOf(label);
      return row && row->pid == "-" && row->status == expected;
    });
    ASSERT_TRUE(row.has_value()) << script;
    EXPECT_EQ(row->pid, "-") << script;
    EXPECT_EQ(row->status, expected) << script;
    // print keeps the run: started at load, ended as list says (the systemd engine's hook may
    // note the end a moment after the manager shows it).
    Runs runs;
    eventually([&] {
      runs = runsOf(label);
      return !runs.empty() && runs.back().ended;
    });
    ASSERT_EQ(runs.size(), 1u) << script;
    EXPECT_EQ(runs[0].status, expected) << script;
    EXPECT_EQ(runs[0].cause, RunCause::load) << script;
    EXPECT_FALSE(runs[0].unloaded) << script;
    ASSERT_TRUE(runs[0].started && runs[0].ended) << script;
    EXPECT_LE(*runs[0].started, *runs[0].ended) << script;
    // The run record that others watch says the same.
    const Runs recorded = morvane::parseRuns(
        readFile(home_ / ".launchd-standin/runs" / morvane::runRecordName(label)));
    ASSERT_EQ(recorded.size(), 1u) << script;
    EXPECT_EQ(recorded[0].status, expected) << script;
  }
  const Result unknown = run({"print", service("org.example.never")});
  EXPECT_EQ(unknown.status, 113);
  EXPECT_NE(unknown.err.find("Could not find service \"org.example.never\""), std::string::npos)
      << unknown.err;
}

TEST_P(JobLifecycleTest, KilledJobIsReapedAndShowsSignal) {
  load("org.example.victim", {"sleep", "30"});
  const pid_t pid = pidOf("org.example.victim");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(waitForExit("org.example.victim"), -9);
  EXPECT_TRUE(pidIsGone(pid)) << "an exited job must not stay a zombie";
}

/// `<key>name</key><integer>value</integer>`
std::string xmlInteger(const std::string& key, long value) {
  return "<key>" + key + "</key><integer>" + std::to_string(value) + "</integer>\n";
}

/// The times, in seconds, that a job wrote into `path` (one `date +%s.%N` a line).
std::vector<double> startTimes(const std::filesystem::path& path) {
  std::istringstream text(readFile(path));
  std::vector<double> times;
  for (double time = 0; text >> time;) {
    times.push_back(time);
  }
  return times;
}

/// A shell job that notes the time of each start in `runs`, then runs `rest`.
std::vector<std::string> notingJob(const std::filesystem::path& runs, const std::string& rest) {
  return {"/bin/sh", "-c", "date +%s.%N >> " + runs.string() + "; " + rest};
}

TEST_P(JobLifecycleTest, KeepAliveRestartsAtMostOncePerSecondUntilBootout) {
  const std::filesystem::path runs = home_ / "runs";
  load("org.example.phoenix", {"/bin/sh", "-c", "echo run >> " + runs.string() + "; exit 4"},
       xmlBool("KeepAlive", true) + xmlInteger("ThrottleInterval", 1));
  ASSERT_TRUE(eventually([&] { return lineCount(runs) >= 3; }, std::chrono::seconds(6)))
      << lineCount(runs);
  EXPECT_LE(lineCount(runs), 4u) << "restarts are not throttled";
  const std::optional<ListRow> row = rowOf("org.example.phoenix");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->status, 4);

  ASSERT_EQ(run({"bootout", service("org.example.phoenix")}).status, 0);
  const std::size_t afterBootout = lineCount(runs);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(lineCount(runs), afterBootout) << "restarted after bootout";
}

TEST_P(JobLifecycleTest, BootoutWhileWaitingToRestartPreventsTheRestart) {
  const std::filesystem::path runs = home_ / "runs";
  load("org.example.once", {"/bin/sh", "-c", "echo run >> " + runs.string()},
       xmlBool("KeepAlive", true) + xmlInteger("ThrottleInterval", 1));
  ASSERT_TRUE(eventually([&] { return lineCount(runs) == 1; }));
  // The next start is a second away; bootout now must cancel it.
  ASSERT_EQ(run({"bootout", service("org.example.once")}).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(lineCount(runs), 1u);
}

TEST_P(JobLifecycleTest, KeepAliveReplacesKilledProcess) {
  // KeepAlive alone starts the job at load, as RunAtLoad does.
  const std::filesystem::path path = home_ / "keeper.plist";
  writeFile(path, xmlPlist(xmlString("Label", "org.example.keeper") +
                           xmlStrings("ProgramArguments", {"sleep", "30"}) +
                           xmlBool("KeepAlive", true) + xmlInteger("ThrottleInterval", 1)));
  ASSERT_EQ(run({"bootstrap", domain(), path.string()}).status, 0);
  const pid_t first = pidOf("org.example.keeper");
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  pid_t second = 0;
  ASSERT_TRUE(eventually(
      [&] {
        second = pidOf("org.example.keeper");
        return second > 0 && second != first;
      },
      std::chrono::seconds(4)));
  EXPECT_TRUE(isRunning(second));
  EXPECT_TRUE(pidIsGone(first));
  EXPECT_EQ(rowOf("org.example.keeper")->status, -9);

  // The first run, killed, then the restart under way.
  Runs runs;
  eventually([&] {
    runs = runsOf("org.example.keeper");
    return runs.size() == 2 && !runs.back().ended;
  });
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].status, -SIGKILL);
  EXPECT_EQ(runs[0].cause, RunCause::load);
  EXPECT_FALSE(runs[1].ended);
  EXPECT_EQ(runs[1].cause, RunCause::keepAlive);
  ASSERT_TRUE(runs[0].ended && runs[1].started);
  EXPECT_LE(*runs[0].ended, *runs[1].started);

  // Bootout ends the second run; its record says so, so nobody takes that end for a failure.
  ASSERT_EQ(run({"bootout", service("org.example.keeper")}).status, 0);
  Runs recorded;
  eventually([&] {
    recorded = morvane::parseRuns(readFile(home_ / ".launchd-standin" / "runs" /
                                           morvane::runRecordName("org.example.keeper")));
    return recorded.size() == 2 && recorded.back().ended;
  });
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_TRUE(recorded[1].unloaded);
  EXPECT_FALSE(recorded[1].failed());
  EXPECT_TRUE(recorded[0].failed());
}

TEST_P(JobLifecycleTest, LeftoverProcessesOfTheJobAreEnded) {
  const std::filesystem::path childPid = home_ / "child";
  load("org.example.parent",
       {"/bin/sh", "-c", "sleep 30 & echo $! > " + childPid.string() + "; exit 0"});
  ASSERT_EQ(waitForExit("org.example.parent"), 0);
  const std::string text = readFile(childPid);
  ASSERT_FALSE(text.empty());
  const pid_t child = static_cast<pid_t>(std::stol(text));
  // The supervisor ends the rest of the job's process group and, as its subreaper, reaps it.
  EXPECT_TRUE(eventually([&] { return pidIsGone(child); }));
}

TEST_P(JobLifecycleTest, ThrottleIntervalSpacesTheRestarts) {
  const std::filesystem::path runs = home_ / "runs";
  load("org.example.throttled", notingJob(runs, "exit 1"),
       xmlBool("KeepAlive", true) + xmlInteger("ThrottleInterval", 2));
  ASSERT_TRUE(eventually([&] { return startTimes(runs).size() >= 3; }, std::chrono::seconds(9)))
      << startTimes(runs).size();
  const std::vector<double> times = startTimes(runs);
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 1.9) << "restart " << i << " came too soon";
  }
}

TEST_P(JobLifecycleTest, KeepAliveConditionsRestartOnlyTheExitsTheyName) {
  struct Case {
    std::string label;
    std::string condition;  // the KeepAlive dictionary's entries
    std::string ending;     // how each run ends
    bool restarts;
  };
  // A crash signal must leave no core file behind.
  const std::string crash = "ulimit -c 0; kill -SEGV $$";
  const std::vector<Case> cases = {
      {"org.example.ok-once", xmlBool("SuccessfulExit", false), "exit 0", false},
      {"org.example.failing", xmlBool("SuccessfulExit", false), "exit 3", true},
      {"org.example.ok-again", xmlBool("SuccessfulExit", true), "exit 0", true},
      {"org.example.crashing", xmlBool("Crashed", true), crash, true},
      {"org.example.exiting", xmlBool("Crashed", true), "exit 1", false},
      {"org.example.calm", xmlBool("Crashed", false), "exit 1", true},
  };
  for (const Case& job : cases) {
    // SuccessfulExit needs a first run and so starts the job at load; RunAtLoad starts the rest.
    const bool needsRunAtLoad = job.condition.find("SuccessfulExit") == std::string::npos;
    loadEntries(job.label,
                xmlStrings("ProgramArguments", notingJob(home_ / job.label, job.ending)) +
                    "<key>KeepAlive</key><dict>" + job.condition + "</dict>\n" +
                    xmlInteger("ThrottleInterval", 1) + xmlBool("RunAtLoad", needsRunAtLoad));
  }
  for (const Case& job : cases) {
    if (job.restarts) {
      EXPECT_TRUE(eventually([&] { return startTimes(home_ / job.label).size() >= 2; }))
          << job.label;
    }
  }
  for (const Case& job : cases) {
    if (!job.restarts) {
      EXPECT_EQ(startTimes(home_ / job.label).size(), 1u) << job.label;
    }
  }
  EXPECT_EQ(rowOf("org.example.crashing")->status, -SIGSEGV);
}

TEST_P(JobLifecycleTest, StartIntervalRepeatsAndNeverRunsTwoAtOnce) {
  const std::filesystem::path quick = home_ / "quick";
  const std::filesystem::path slow = home_ / "slow";
  loadEntries("org.example.interval", xmlStrings("ProgramArguments", notingJob(quick, "exit 0")) +
                                          xmlInteger("StartInterval", 1));
  loadEntries("org.example.long", xmlStrings("ProgramArguments", notingJob(slow, "exec sleep 30")) +
                                      xmlInteger("StartInterval", 1));
  // Without RunAtLoad the first start waits for the interval.
  const std::optional<ListRow> idle = rowOf("org.example.interval");
  ASSERT_TRUE(idle);
  EXPECT_EQ(idle->pid, "-");
  ASSERT_TRUE(eventually([&] { return startTimes(quick).size() >= 3; }, std::chrono::seconds(8)))
      << startTimes(quick).size();
  EXPECT_EQ(startTimes(slow).size(), 1u) << "started again while still running";
  EXPECT_EQ(rowOf("org.example.interval")->status, 0);
}

TEST_P(JobLifecycleTest, StartCalendarIntervalFiresAtTheNextMatchingMinute) {
  // A dictionary without fields matches every minute; the second entry matches none.
  const std::filesystem::path runs = home_ / "runs";
  loadEntries("org.example.calendar", xmlStrings("ProgramArguments", notingJob(runs, "exit 0")) +
                                          xmlString("StandardErrorPath", home_ / "err.log") +
                                          "<key>StartCalendarInterval</key><array><dict/><dict>" +
                                          xmlInteger("Day", 31) + xmlInteger("Month", 2) +
                                          "</dict></array>\n");
  EXPECT_EQ(rowOf("org.example.calendar")->pid, "-");
  ASSERT_TRUE(eventually([&] { return !startTimes(runs).empty(); }, std::chrono::seconds(70)));
  const double started = startTimes(runs).front();
  const double intoMinute = std::fmod(started, 60.0);
  EXPECT_LT(intoMinute, 3.0) << "fired " << intoMinute << " s into the minute";
}

LAUNCHCTL_ON_BOTH_ENGINES(JobLifecycleTest);

}  // namespace
}  // namespace launchctl_test
