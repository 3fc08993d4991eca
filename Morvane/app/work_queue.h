#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace morvane {

/// A serial queue on a thread of its own: jobs run one at a time, in the order submitted.
class WorkQueue {
 public:
  explicit WorkQueue(std::string label);
  /// Drops the jobs that have not started and waits for the one that runs.
  ~WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  const std::string& label() const { return label_; }

  void submit(std::function<void()> job);

 private:
  void run();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace morvane
