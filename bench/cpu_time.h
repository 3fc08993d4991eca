#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

// CPU time of this process and of every child it has waited for: on a machine shared with other
// work it varies far less than wall time, and it counts the programs a benchmark runs.

inline double cpuSecondsWithChildren() {
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
         seconds(children.ru_stime);
}

/// Adds the counter "cpu_ms": CPU milliseconds per iteration, children included. Construct it
/// before the benchmark loop.
class CpuCounter {
 public:
  explicit CpuCounter(benchmark::State& state) : state_(state), start_(cpuSecondsWithChildren()) {}
  ~CpuCounter() {
    state_.counters["cpu_ms"] = benchmark::Counter((cpuSecondsWithChildren() - start_) * 1e3,
                                                   benchmark::Counter::kAvgIterations);
  }
  CpuCounter(const CpuCounter&) = delete;
  CpuCounter& operator=(const CpuCounter&) = delete;

 private:
  benchmark::State& state_;
  double start_;
};
