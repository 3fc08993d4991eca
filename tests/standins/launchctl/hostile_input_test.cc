// Races, kills and hostile files that must never cost a job its record or its process.

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "harness.h"

extern char** environ;

namespace launchctl_test {
namespace {

using HostileInputTest = LaunchctlTest;
using BuiltinHostileInputTest = BuiltinLaunchctlTest;

/// Pids of running `sleep` processes whose argument is `marker`.
std::set<pid_t> sleepersWith(const std::string& marker) {
  std::set<pid_t> found;
  DIR* proc = opendir("/proc");
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0 || !isRunning(pid)) {
      continue;
    }
    std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    if (cmdline == std::string("sleep\0", 6) + marker + std::string(1, '\0')) {
      found.insert(pid);
    }
  }
  closedir(proc);
  return found;
}

void killAll(const std::set<pid_t>& pids) {
  for (pid_t pid : pids) {
    kill(pid, SIGKILL);
  }
}

TEST_F(BuiltinHostileInputTest, UnreadableStateFailsEveryCommandAndIsKeptForInspection) {
  const std::string job = writeJob("org.example.kept", {"sleep", "30"});
  for (const std::string& corrupt : std::vector<std::string>{
           "{not json", "[1, 2]", "{\"jobs\": []}", "{\"disabled\": {\"x\": \"yes\"}}",
           "{\"jobs\": {\"x\": {\"job\": {\"pid\": \"one\"}}}}", std::string("{}\0junk", 7)}) {
    std::filesystem::create_directories(home_ / ".launchd-standin");
    writeFile(home_ / ".launchd-standin" / "state.json", corrupt);
    for (const std::vector<std::string>& command : {std::vector<std::string>{"list"},
                                                    {"print-disabled", domain()},
                                                    {"disable", service("org.example.x")},
                                                    {"bootstrap", domain(), job},
                                                    {"bootout", service("x")}}) {
      const Result result = run(command);
      EXPECT_NE(result.status, 0) << corrupt << " " << command[0];
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
      EXPECT_NE(result.err.find("state.json"), std::string::npos) << result.err;
      EXPECT_EQ(readFile(home_ / ".launchd-standin" / "state.json"), corrupt) << command[0];
    }
  }
  std::filesystem::remove(home_ / ".launchd-standin" / "state.json");
}

TEST_P(HostileInputTest, LabelsWithControlCharactersAreRefused) {
  for (const std::string label :
       {"org.example.a\nforged", "org.example.b\tx", "org.example.\x1b"}) {
    const std::string path = (home_ / "control.plist").string();
    writeFile(path, xmlPlist(xmlString("Label", label) +
                             xmlStrings("ProgramArguments", {"sleep", "30"})));
    const Result result = run({"bootstrap", domain(), path});
    EXPECT_EQ(result.status, 5) << result.err;
  }
  EXPECT_TRUE(listRows().empty());
}

TEST_P(HostileInputTest, NamesThatAreNotUtf8AreKeptAsBytes) {
  // The file's name and an override's label are bytes, whatever the state file can spell.
  const std::filesystem::path path = home_ / "na\xffme\xc3(.plist";
  writeFile(path,
            xmlPlist(xmlString("Label", "org.example.bytes") +
                     xmlStrings("ProgramArguments", {"sleep", "30"}) + xmlBool("RunAtLoad", true)));
  const Result loaded = run({"bootstrap", domain(), path.string()});
  ASSERT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_GT(pidOf("org.example.bytes"), 0);
  const std::string label = "org.example.\xfe";
  ASSERT_EQ(run({"disable", service(label)}).status, 0);
  EXPECT_NE(run({"print-disabled", domain()}).out.find("\"" + label + "\" => disabled"),
            std::string::npos);
  EXPECT_EQ(run({"bootout", service("org.example.bytes")}).status, 0);
}

TEST_P(HostileInputTest, JobFilesThatAreNotRegularFilesAreRefusedAtOnce) {
  const std::filesystem::path fifo = home_ / "fifo.plist";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", home_ / "zero.plist");
  for (const std::filesystem::path& path : {fifo, home_ / "zero.plist"}) {
    const auto start = std::chrono::steady_clock::now();
    const Result result = run({"bootstrap", domain(), path.string()});
    EXPECT_NE(result.status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(BuiltinHostileInputTest, BinaryListThatExpandsWithoutBoundIsRefused) {
  // 40 arrays, each holding the next one twice: 2^40 objects once expanded.
  constexpr int kLevels = 40;
  std::string bytes = "bplist00";
  std::vector<uint8_t> offsets;
  for (int i = 0; i < kLevels; ++i) {
    offsets.push_back(static_cast<uint8_t>(bytes.size()));
    const char next = static_cast<char>(i + 1 < kLevels ? i + 1 : i);
    bytes += i + 1 < kLevels ? std::string{'\xA2', next, next} : std::string{'\xA0'};
  }
  const size_t table = bytes.size();
  for (uint8_t offset : offsets) {
    bytes += static_cast<char>(offset);
  }
  std::string trailer(32, '\0');
  trailer[6] = 1;  // offset size
  trailer[7] = 1;  // reference size
  trailer[15] = kLevels;
  trailer[31] = static_cast<char>(table);
  bytes += trailer;
  writeFile(home_ / "bomb.plist", bytes);
  const auto start = std::chrono::steady_clock::now();
  const Result result = run({"bootstrap", domain(), (home_ / "bomb.plist").string()});
  EXPECT_EQ(result.status, 5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(BuiltinHostileInputTest, SaveRemovesTemporaryFilesOfKilledInvocations) {
  ASSERT_EQ(run({"enable", service("org.example.first")}).status, 0);
  const pid_t dead = fork();
  if (dead == 0) {
    _exit(0);
  }
  waitpid(dead, nullptr, 0);
  const std::filesystem::path dir = home_ / ".launchd-standin";
  const std::string abandoned = "state.json." + std::to_string(dead);
  const std::string live = "state.json." + std::to_string(getpid());
  writeFile(dir / abandoned, "{}");
  writeFile(dir / live, "{}");
  ASSERT_EQ(run({"disable", service("org.example.first")}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / abandoned));
  EXPECT_TRUE(std::filesystem::exists(dir / live));
}

TEST_P(HostileInputTest, RacingBootoutsNeverForgetARunningJob) {
  const std::string marker = "31" + std::to_string(getpid() % 10000);
  const std::string path = writeJob("org.example.raced", {"sleep", marker});
  std::vector<std::thread> shells;
  for (int shell = 0; shell < 8; ++shell) {
    shells.emplace_back([&] {
      for (int round = 0; round < 20; ++round) {
        run({"bootstrap", domain(), path});
        run({"bootout", service("org.example.raced")});
      }
    });
  }
  for (std::thread& shell : shells) {
    shell.join();
  }
  // Whatever the order, a running job must be the one the record shows.
  const std::set<pid_t> running = sleepersWith(marker);
  const pid_t recorded = pidOf("org.example.raced");
  for (pid_t pid : running) {
    EXPECT_EQ(pid, recorded) << "a job runs without a record";
  }
  run({"bootout", service("org.example.raced")});
  EXPECT_TRUE(eventually([&] { return sleepersWith(marker).empty(); }));
  killAll(sleepersWith(marker));
}

TEST_P(HostileInputTest, KilledBootstrapLeavesNoJobWithoutARecord) {
  const std::string marker = "32" + std::to_string(getpid() % 10000);
  std::mt19937 random(12345);
  for (int i = 0; i < 40; ++i) {
    const std::string label = "org.example.killed" + std::to_string(i);
    const std::string path = writeJob(label, {"sleep", marker});
    std::vector<std::string> argv{LAUNCHCTL_PATH, "bootstrap", domain(), path};
    std::vector<char*> pointers;
    for (std::string& word : argv) {
      pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    std::vector<std::string> env{"PATH=/usr/bin:/bin"};
    for (const auto& [name, value] : engineEnvironment()) {
      env.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) {
      envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, pointers.data(), envp.data()),
              0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 6000));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  // Supervisors of unrecorded jobs end them as soon as they see the state.
  std::set<pid_t> recorded;
  const bool settled = eventually([&] {
    recorded.clear();
    for (const auto& [label, row] : listRows()) {
      if (row.pid != "-") {
        recorded.insert(static_cast<pid_t>(std::stol(row.pid)));
      }
    }
    return sleepersWith(marker) == recorded;
  });
  const std::set<pid_t> running = sleepersWith(marker);
  EXPECT_TRUE(settled) << running.size() << " running, " << recorded.size() << " recorded";
  killAll(running);
}

LAUNCHCTL_ON_BOTH_ENGINES(HostileInputTest);

}  // namespace
}  // namespace launchctl_test
