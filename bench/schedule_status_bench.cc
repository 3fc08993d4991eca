// --status among 1,000 agents, side by side: of an agent with several calendar entries (its
// schedule described and its next run computed) and of one with no schedule at all, so the
// difference is what the schedule lines cost.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cpu_time.h"
#include "shell.h"

namespace {

double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

struct Agents1000 {
  Agents1000() {
    char pattern[] = "/tmp/morvane-bench-schedule-XXXXXX";
    home = ::mkdtemp(pattern);
    std::filesystem::create_directories(home / "Library/LaunchAgents");
    for (int i = 0; i < 1000; ++i) {
      std::string calendar;
      if (i % 2 == 0)
        calendar = "<key>StartCalendarInterval</key><array><dict><key>Hour</key><integer>" +
                   std::to_string(i % 24) + "</integer><key>Minute</key><integer>" +
                   std::to_string(i % 60) + "</integer></dict><dict><key>Day</key><integer>29" +
                   "</integer><key>Month</key><integer>2</integer></dict></array>";
      const std::string label = "com.bench.agent-" + std::to_string(i);
      std::ofstream(home / "Library/LaunchAgents" / (label + ".plist"))
          << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" << label
          << "</string><key>ProgramArguments</key><array><string>/bin/true</string>"
          << "</array>" << calendar << "</dict></plist>";
    }
  }
  ~Agents1000() { std::filesystem::remove_all(home); }

  morvane::ShellResult status(const std::string& label) const {
    return morvane::Shell::run(
        MORVANE_EXECUTABLE, {"--status", label}, 60,
        {{"HOME", home}, {"MORVANE_HOME", home / "data"}, {"MORVANE_LANG", "en"}});
  }

  std::filesystem::path home;
};

Agents1000& agents() {
  static Agents1000 instance;
  return instance;
}

void StatusOfAScheduledAgent(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result = agents().status("com.bench.agent-500");
    if (!result.ok() || result.standardOutput.find("Schedule") == std::string::npos)
      state.SkipWithError("status failed");
  }
}

void StatusOfAnUnscheduledAgent(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result = agents().status("com.bench.agent-501");
    if (!result.ok() || result.standardOutput.find("Schedule") != std::string::npos)
      state.SkipWithError("status failed");
  }
}

// Interleaved repetitions, so that both see the same load on a shared machine.
BENCHMARK(StatusOfAnUnscheduledAgent)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);
BENCHMARK(StatusOfAScheduledAgent)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

}  // namespace
