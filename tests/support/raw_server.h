#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvane::testing {

/// A TCP listener on 127.0.0.1 that reads each request's head and hands the connection to a
/// reply of the test's choosing: for servers that misbehave on purpose, and for a recording
/// proxy. Connections are served one after the other on a thread of its own.
class RawServer {
 public:
  /// Answers one connection; `head` is the request up to its blank line. The connection is
  /// closed afterwards unless the reply keeps it (see silent()).
  using Reply = std::function<void(int fd, const std::string& head)>;

  explicit RawServer(Reply reply);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  /// "http://127.0.0.1:<port>"
  std::string url() const;
  /// The first line of every request received so far.
  std::vector<std::string> requestLines() const;

  /// Writes `response` and closes.
  static Reply fixed(std::string response);
  /// Never answers: keeps each connection open until the server is destroyed.
  static Reply silent() { return nullptr; }

 private:
  void serve();

  Reply reply_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<int> held_;
  std::thread thread_;
};

}  // namespace morvane::testing
