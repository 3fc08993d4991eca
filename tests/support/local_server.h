#pragma once

#include <map>
#include <memory>
#include <string>

namespace morvane::testing {

/// An HTTP server on 127.0.0.1 with a free port, answering GET requests from a table that tests
/// fill; paths not in the table get 404. Serves on a thread of its own until destroyed.
class LocalServer {
 public:
  LocalServer();
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  /// "http://127.0.0.1:<port>"
  std::string url() const;

  /// Answers GET `path` with this status, body and header fields from now on.
  void answer(const std::string& path, int status, std::string body,
              std::map<std::string, std::string> headers = {});

  /// Forgets every answer.
  void clear();

  /// How many requests reached `path`.
  int requestCount(const std::string& path) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace morvane::testing
