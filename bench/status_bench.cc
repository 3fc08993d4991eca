// --status with a 1 GB log, side by side with `tail -n 10` on the same file: the whole --status
// run, the same run with a one-line log (so the difference is what the big log costs), the
// in-process tail, and tail(1) itself.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cpu_time.h"
#include "log_tail.h"
#include "shell.h"

namespace {

/// The fastest repetition: the least disturbed by other work on a shared machine.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

constexpr off_t kLogSize = 1LL << 30;

/// A home with one agent whose standard output is a 1 GB log and whose standard error holds one
/// line. The log is sparse except for its last megabyte of text lines, and is removed at exit.
struct Fixture {
  Fixture() {
    char pattern[] = "/tmp/morvane-bench-status-XXXXXX";
    home = ::mkdtemp(pattern);
    bigLog = home / "big.log";
    smallLog = home / "small.log";
    std::string lines;
    for (int i = 0; lines.size() < (1 << 20); ++i)
      lines += "2026-12-08 10:00:00 worker[812] processed batch " + std::to_string(i) + "\n";
    int fd = ::open(bigLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, kLogSize - static_cast<off_t>(lines.size())) != 0 ||
        ::pwrite(fd, lines.data(), lines.size(), kLogSize - static_cast<off_t>(lines.size())) !=
            static_cast<ssize_t>(lines.size()))
      std::abort();
    ::close(fd);
    std::ofstream(smallLog) << "one line\n";
    writeAgent("big.plist", "com.bench.big", bigLog);
    writeAgent("small.plist", "com.bench.small", smallLog);
  }
  ~Fixture() { std::filesystem::remove_all(home); }

  void writeAgent(const std::string& file, const std::string& label,
                  const std::filesystem::path& log) {
    std::filesystem::create_directories(home / "Library/LaunchAgents");
    std::ofstream(home / "Library/LaunchAgents" / file)
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" << label
        << "</string><key>ProgramArguments</key><array><string>/bin/true</string></array>"
           "<key>StandardOutPath</key><string>"
        << log.string() << "</string></dict></plist>";
  }

  morvane::ShellResult status(const std::string& label) const {
    return morvane::Shell::run(
        MORVANE_EXECUTABLE, {"--status", label}, 60,
        {{"HOME", home}, {"MORVANE_HOME", home / "data"}, {"MORVANE_LANG", "en"}});
  }

  std::filesystem::path home, bigLog, smallLog;
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void TailCommandOnTheGigabyteLog(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result =
        morvane::Shell::run("/usr/bin/tail", {"-n", "10", fixture().bigLog.string()}, 60);
    if (!result.ok() || result.standardOutput.empty())
      state.SkipWithError("tail failed");
  }
}
BENCHMARK(TailCommandOnTheGigabyteLog)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

void LastLinesOfTheGigabyteLog(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    auto lines = morvane::lastLines(fixture().bigLog, 10);
    if (!lines || lines->size() != 10)
      state.SkipWithError("tail failed");
    benchmark::DoNotOptimize(lines);
  }
}
BENCHMARK(LastLinesOfTheGigabyteLog)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

void StatusWithTheGigabyteLog(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result = fixture().status("com.bench.big");
    if (!result.ok() || result.standardOutput.find("processed batch") == std::string::npos)
      state.SkipWithError("status failed");
  }
}
BENCHMARK(StatusWithTheGigabyteLog)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

void StatusWithAOneLineLog(benchmark::State& state) {
  CpuCounter cpu(state);
  for (auto _ : state) {
    morvane::ShellResult result = fixture().status("com.bench.small");
    if (!result.ok() || result.standardOutput.find("one line") == std::string::npos)
      state.SkipWithError("status failed");
  }
}
BENCHMARK(StatusWithAOneLineLog)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

}  // namespace
