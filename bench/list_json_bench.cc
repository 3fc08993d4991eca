// --list --json against --list at 1,000 agents, side by side: in-process over a launchctl that
// prints a 1,000-row listing (every agent loaded, a third without a process), and as whole runs
// of the bundled executable.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli.h"
#include "cpu_time.h"
#include "platform.h"
#include "shell.h"

namespace {

constexpr int kAgents = 1000;

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// A home of 1,000 agents, friendly names for some, and a launchctl script listing them.
struct Fixture {
  Fixture() {
    char pattern[] = "/tmp/morvane-bench-json-XXXXXX";
    home = ::mkdtemp(pattern);
    const std::filesystem::path agents = home / "Library/LaunchAgents";
    std::filesystem::create_directories(agents);
    std::filesystem::create_directories(home / "data");
    std::string list = "PID\tStatus\tLabel\n", names;
    for (int i = 0; i < kAgents; ++i) {
      const std::string label = "com.bench.agent-" + std::to_string(i);
      write(agents / (label + ".plist"),
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
                "</string><key>ProgramArguments</key><array><string>/bin/true</string></array>"
                "</dict></plist>");
      list += (i % 3 ? std::to_string(1000 + i) : "-") + "\t" + std::to_string(i % 5) + "\t" +
              label + "\n";
      if (i % 10 == 0)
        names += std::string(names.empty() ? "" : ",") + "\"" + label + "\":\"Agent " +
                 std::to_string(i) + "\"";
    }
    write(home / "list", list);
    write(home / "data/settings.json", "{\"friendlyNames\":{" + names + "}}");
    write(home / "launchctl",
          "#!/bin/sh\ncase $1 in list) exec cat '" + (home / "list").string() + "';; esac\n");
    std::filesystem::permissions(home / "launchctl", std::filesystem::perms::owner_all);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("MORVANE_HOME", (home / "data").c_str(), 1);
    ::setenv("MORVANE_LANG", "en", 1);
    morvane::platform::overrideToolPath(morvane::platform::Tool::launchctl, home / "launchctl");
  }
  ~Fixture() { std::filesystem::remove_all(home); }

  std::filesystem::path home;
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

/// Counts what a mode prints and throws it away.
class CountingBuffer : public std::streambuf {
 public:
  size_t count = 0;

 protected:
  int_type overflow(int_type c) override {
    ++count;
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += static_cast<size_t>(n);
    return n;
  }
};

/// The fastest repetition: the least disturbed by other work on a shared machine.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

template <int32_t (*Mode)(std::ostream&, std::ostream&)>
void InProcess(benchmark::State& state) {
  fixture();
  CpuCounter cpu(state);
  for (auto _ : state) {
    CountingBuffer buffer;
    std::ostream out(&buffer);
    Mode(out, out);
    if (buffer.count < kAgents * 20)
      state.SkipWithError("too little output");
  }
}
BENCHMARK(InProcess<morvane::CLI::list>)
    ->Name("ListInProcess")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);
BENCHMARK(InProcess<morvane::CLI::listJson>)
    ->Name("ListJsonInProcess")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);

void WholeRun(benchmark::State& state, std::vector<std::string> arguments) {
  fixture();
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result = morvane::Shell::run(MORVANE_EXECUTABLE, arguments, 60);
    if (!result.ok() || result.standardOutput.size() < kAgents * 20)
      state.SkipWithError("listing failed");
  }
}
BENCHMARK_CAPTURE(WholeRun, List, {"--list"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);
BENCHMARK_CAPTURE(WholeRun, ListJson, {"--list", "--json"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(10)
    ->ComputeStatistics("min", fastest);

}  // namespace
