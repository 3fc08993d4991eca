// Scanning 1,000 agents against a launchctl that prints a 1,000-row list. The scan's own work is
// the difference between the full scan and its two launchctl runs alone; the diagnosis the menu
// adds is measured beside them.
#include <benchmark/benchmark.h>
#include <plist/plist.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "agent_diagnosis.h"
#include "agents.h"
#include "platform.h"
#include "shell.h"

namespace {

constexpr int kAgents = 1000;

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string propertyList(int i) {
  plist_t root = plist_new_dict();
  std::string label = "com.bench.Agent-" + std::to_string(i);
  plist_dict_set_item(root, "Label", plist_new_string(label.c_str()));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments, plist_new_string("/usr/bin/true"));
  plist_dict_set_item(root, "ProgramArguments", arguments);
  plist_dict_set_item(root, "RunAtLoad", plist_new_bool(1));
  char* bytes = nullptr;
  uint32_t length = 0;
  if (i % 2 == 0) {
    plist_to_xml(root, &bytes, &length);
  } else {
    plist_to_bin(root, &bytes, &length);
  }
  std::string result(bytes, length);
  std::free(bytes);
  plist_free(root);
  return result;
}

/// A directory of agents and a launchctl script that lists every one of them.
struct Fixture {
  Fixture() {
    char pattern[] = "/tmp/morvane-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    std::filesystem::create_directories(root / "agents");
    std::string list = "PID\tStatus\tLabel\n", disabled = "\n\tdisabled services = {\n";
    for (int i = 0; i < kAgents; ++i) {
      write(root / "agents" / ("com.bench.agent-" + std::to_string(i) + ".plist"), propertyList(i));
      list += (i % 3 ? std::to_string(1000 + i) : "-") + "\t0\tcom.bench.Agent-" +
              std::to_string(i) + "\n";
      if (i % 10 == 0)
        disabled += "\t\t\"com.bench.Agent-" + std::to_string(i) + "\" => disabled\n";
    }
    write(root / "list", list);
    write(root / "disabled", disabled + "\t}\n\n\tlogin item associations = {\n\t}\n");
    write(root / "launchctl", "#!/bin/sh\ncase $1 in list) exec cat '" + (root / "list").string() +
                                  "';; print-disabled) exec cat '" + (root / "disabled").string() +
                                  "';; esac\n");
    std::filesystem::permissions(root / "launchctl", std::filesystem::perms::owner_all);
    morvane::platform::overrideToolPath(morvane::platform::Tool::launchctl, root / "launchctl");
  }
  ~Fixture() { std::filesystem::remove_all(root); }

  std::filesystem::path root;
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void ScanOfThousandAgents(benchmark::State& state) {
  for (auto _ : state) {
    auto agents = morvane::Agents::scan(fixture().root / "agents");
    if (agents.size() != kAgents || !agents.front().loaded)
      state.SkipWithError("wrong scan");
    benchmark::DoNotOptimize(agents);
  }
}
BENCHMARK(ScanOfThousandAgents)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// What the menu's refresh adds to a scan: every agent's file diagnosed, side by side with the
// scan above.
void DiagnosisOfThousandAgents(benchmark::State& state) {
  const auto agents = morvane::Agents::scan(fixture().root / "agents");
  for (auto _ : state) {
    auto invalid = morvane::invalidAgents(agents);
    if (!invalid.empty())
      state.SkipWithError("a sound agent was found invalid");
    benchmark::DoNotOptimize(invalid);
  }
}
BENCHMARK(DiagnosisOfThousandAgents)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void TheScansTwoLaunchctlRunsAlone(benchmark::State& state) {
  const std::filesystem::path launchctl = fixture().root / "launchctl";
  for (auto _ : state) {
    benchmark::DoNotOptimize(morvane::Shell::run(launchctl, {"list"}, 20));
    benchmark::DoNotOptimize(
        morvane::Shell::run(launchctl, {"print-disabled", morvane::Agents::guiDomain()}, 20));
  }
}
BENCHMARK(TheScansTwoLaunchctlRunsAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
