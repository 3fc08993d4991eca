// Shell::run against a child writing 64 MiB to each stream, and the same child with both
// streams sent to /dev/null: the difference is what draining the pipes costs.
#include <benchmark/benchmark.h>

#include "shell.h"

namespace {

void ShellRunCapturingBothStreams(benchmark::State& state) {
  for (auto _ : state) {
    morvane::ShellResult result =
        morvane::Shell::run("/bin/sh", {"-c", "exec \"$0\" 64", STREAM_WRITER}, 120);
    if (result.standardOutput.size() != 64u << 20 || result.standardError.size() != 64u << 20)
      state.SkipWithError("short output");
  }
}
BENCHMARK(ShellRunCapturingBothStreams)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void SameChildWritingToDevNull(benchmark::State& state) {
  for (auto _ : state) {
    morvane::ShellResult result = morvane::Shell::run(
        "/bin/sh", {"-c", "exec \"$0\" 64 >/dev/null 2>/dev/null", STREAM_WRITER}, 120);
    if (!result.ok())
      state.SkipWithError("child failed");
  }
}
BENCHMARK(SameChildWritingToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
