// Invocations racing each other are serialised by the state lock.

#include <atomic>
#include <thread>

#include "harness.h"

namespace launchctl_test {
namespace {

using ConcurrencyTest = LaunchctlTest;

constexpr int kRacers = 8;

TEST_P(ConcurrencyTest, ParallelBootstrapsOfDifferentLabelsAllLoad) {
  std::vector<std::string> paths;
  for (int i = 0; i < kRacers; ++i) {
    paths.push_back(writeJob("org.example.racer" + std::to_string(i), {"sleep", "30"}));
  }
  std::vector<Result> results(kRacers);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&, i] { results[i] = run({"bootstrap", domain(), paths[i]}); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const Result& result : results) {
    EXPECT_EQ(result.status, 0) << result.err;
  }
  const auto rows = listRows();
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kRacers));
  for (const auto& [label, row] : rows) {
    ASSERT_NE(row.pid, "-") << label;
    EXPECT_TRUE(isRunning(static_cast<pid_t>(std::stol(row.pid)))) << label;
  }
}

TEST_P(ConcurrencyTest, ParallelBootstrapsOfOneLabelLoadItOnce) {
  const std::string path = writeJob("org.example.contended", {"sleep", "30"});
  std::atomic<int> loaded = 0;
  std::atomic<int> refused = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&] {
      const Result result = run({"bootstrap", domain(), path});
      (result.status == 0 ? loaded : refused) += 1;
      if (result.status != 0) {
        EXPECT_EQ(result.status, 5) << result.err;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(refused, kRacers - 1);
  EXPECT_EQ(listRows().size(), 1u);
  EXPECT_GT(pidOf("org.example.contended"), 0);
}

TEST_P(ConcurrencyTest, BootoutsRacingBootstrapsLeaveConsistentState) {
  for (int i = 0; i < kRacers; ++i) {
    load("org.example.churn" + std::to_string(i), {"sleep", "30"});
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&, i] {
      const std::string label = "org.example.churn" + std::to_string(i);
      EXPECT_EQ(run({"bootout", service(label)}).status, 0) << label;
      EXPECT_EQ(run({"bootstrap", domain(), (home_ / (label + ".plist")).string()}).status, 0);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const auto rows = listRows();
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kRacers));
  for (const auto& [label, row] : rows) {
    EXPECT_NE(row.pid, "-") << label;
  }
}

LAUNCHCTL_ON_BOTH_ENGINES(ConcurrencyTest);

}  // namespace
}  // namespace launchctl_test
