// Invocations racing each other are serialised by the state lock.

#include <atomic>
#include <thread>

#include "harness.h"

namespace launchctl_test {
namespace {

using ConcurrencyTest = LaunchctlTest;

constexpr int kRacers = 8;

TEST_F(ConcurrencyTest, ParallelBootstrapsOfDifferentLabelsAllLoad) {
  std::vector<std::string> paths;
  for (int i = 0; i < kRacers; ++i) {
    paths.push_back(WriteJob("org.example.racer" + std::to_string(i), {"sleep", "30"}));
  }
  std::vector<Result> results(kRacers);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&, i] { results[i] = Run({"bootstrap", Domain(), paths[i]}); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const Result& result : results) {
    EXPECT_EQ(result.status, 0) << result.err;
  }
  const auto rows = List();
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kRacers));
  for (const auto& [label, row] : rows) {
    ASSERT_NE(row.pid, "-") << label;
    EXPECT_TRUE(IsRunning(static_cast<pid_t>(std::stol(row.pid)))) << label;
  }
}

TEST_F(ConcurrencyTest, ParallelBootstrapsOfOneLabelLoadItOnce) {
  const std::string path = WriteJob("org.example.contended", {"sleep", "30"});
  std::atomic<int> loaded = 0;
  std::atomic<int> refused = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&] {
      const Result result = Run({"bootstrap", Domain(), path});
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
  EXPECT_EQ(List().size(), 1u);
  EXPECT_GT(PidOf("org.example.contended"), 0);
}

TEST_F(ConcurrencyTest, BootoutsRacingBootstrapsLeaveConsistentState) {
  for (int i = 0; i < kRacers; ++i) {
    Load("org.example.churn" + std::to_string(i), {"sleep", "30"});
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kRacers; ++i) {
    threads.emplace_back([&, i] {
      const std::string label = "org.example.churn" + std::to_string(i);
      EXPECT_EQ(Run({"bootout", Service(label)}).status, 0) << label;
      EXPECT_EQ(Run({"bootstrap", Domain(), (home_ / (label + ".plist")).string()}).status, 0);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const auto rows = List();
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kRacers));
  for (const auto& [label, row] : rows) {
    EXPECT_NE(row.pid, "-") << label;
  }
}

}  // namespace
}  // namespace launchctl_test
