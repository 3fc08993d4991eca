#include "local_server.h"

#include <httplib.h>

#include <mutex>
#include <thread>

namespace morvane::testing {

struct LocalServer::State {
  struct Canned {
    int status = 200;
    std::string body;
    std::map<std::string, std::string> headers;
  };

  httplib::Server server;
  int port = 0;
  std::thread thread;
  mutable std::mutex mutex;
  std::map<std::string, Canned> answers;
  std::map<std::string, int> counts;
};

LocalServer::LocalServer() : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.server.Get(".*", [&state](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(state.mutex);
    ++state.counts[request.path];
    auto found = state.answers.find(request.path);
    if (found == state.answers.end()) {
      response.status = 404;
      response.set_content("not found", "text/plain");
      return;
    }
    response.status = found->second.status;
    for (const auto& [name, value] : found->second.headers)
      response.set_header(name, value);
    response.body = found->second.body;
  });
  state.port = state.server.bind_to_any_port("127.0.0.1");
  state.thread = std::thread([&state] { state.server.listen_after_bind(); });
  while (!state.server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalServer::~LocalServer() {
  state_->server.stop();
  state_->thread.join();
}

std::string LocalServer::url() const {
  return "http://127.0.0.1:" + std::to_string(state_->port);
}

void LocalServer::answer(const std::string& path, int status, std::string body,
                         std::map<std::string, std::string> headers) {
  std::lock_guard lock(state_->mutex);
  state_->answers[path] = {status, std::move(body), std::move(headers)};
}

void LocalServer::clear() {
  std::lock_guard lock(state_->mutex);
  state_->answers.clear();
}

int LocalServer::requestCount(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  auto found = state_->counts.find(path);
  return found == state_->counts.end() ? 0 : found->second;
}

}  // namespace morvane::testing
