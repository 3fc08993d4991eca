// "Did you mean" among 5,000 agents: a typo of a real label beside a 100,000-character name,
// which must cost about the same.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cpu_time.h"
#include "label_suggestions.h"

namespace {

const std::vector<morvane::Agent>& agents() {
  static const std::vector<morvane::Agent> made = [] {
    std::vector<morvane::Agent> list;
    for (int i = 0; i < 5000; ++i) {
      const std::string label =
          "com.example.team-" + std::to_string(i % 50) + ".agent-" + std::to_string(i);
      list.push_back(morvane::Agent{label + ".plist", "/agents/" + label + ".plist", label, false,
                                    std::nullopt, false});
    }
    return list;
  }();
  return made;
}

/// The fastest repetition: the least disturbed by other work on a shared machine.
double fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

void Suggestions(benchmark::State& state, std::string name) {
  CpuCounter cpu(state);
  for (auto _ : state)
    benchmark::DoNotOptimize(morvane::closestLabels(agents(), name));
}
BENCHMARK_CAPTURE(Suggestions, Typo, std::string("com.example.team-7.agnet-4007"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);
BENCHMARK_CAPTURE(Suggestions, HundredThousandCharacters, std::string(100000, 'e'))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1)
    ->Repetitions(6)
    ->ComputeStatistics("min", fastest);

}  // namespace
