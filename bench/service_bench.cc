// The service manager round trips: a load/unload cycle of one agent through setLoaded, and a
// whole --selftest run of the bundled executable, both against the bundled launchctl.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "agents.h"
#include "platform.h"
#include "shell.h"

namespace {

/// A private home for the service manager, removed at the end.
struct Home {
  Home() {
    char pattern[] = "/tmp/morvane-bench-home-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~Home() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

void LoadUnloadCycle(benchmark::State& state) {
  Home home;
  std::string previousHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", home.path.c_str(), 1);
  morvane::platform::overrideToolPath(morvane::platform::Tool::launchctl, LAUNCHCTL_STANDIN);
  const std::filesystem::path plist = home.path / "bench.cycle.plist";
  std::ofstream(plist) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                          "<key>Label</key><string>bench.cycle</string>"
                          "<key>ProgramArguments</key><array><string>/bin/sleep</string>"
                          "<string>300</string></array><key>RunAtLoad</key><true/></dict></plist>";
  morvane::Agent agent{plist.filename(), plist, "bench.cycle", false, std::nullopt, false};
  for (auto _ : state) {
    if (!morvane::Agents::setLoaded(agent, true) || !morvane::Agents::setLoaded(agent, false))
      state.SkipWithError("load or unload failed");
  }
  morvane::platform::resetToolPaths();
  ::setenv("HOME", previousHome.c_str(), 1);
}
BENCHMARK(LoadUnloadCycle)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void SelfTestRun(benchmark::State& state) {
  Home home;
  for (auto _ : state) {
    morvane::ShellResult result =
        morvane::Shell::run(MORVANE_EXECUTABLE, {"--selftest"}, 120,
                            {{"HOME", home.path}, {"TMPDIR", home.path}, {"MORVANE_LANG", "en"}});
    if (!result.ok())
      state.SkipWithError("self-test failed");
  }
}
BENCHMARK(SelfTestRun)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
