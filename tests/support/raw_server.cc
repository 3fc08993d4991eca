#include "raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane::testing {
namespace {

/// Reads up to the blank line that ends a request head, for at most two seconds.
std::string readHead(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 20)) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 2000) <= 0)
      break;
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0)
      break;
    head.append(buffer, static_cast<size_t>(count));
  }
  return head;
}

}  // namespace

RawServer::RawServer(Reply reply) : reply_(std::move(reply)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener_, 16);
  socklen_t size = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
  stopping_ = true;
  thread_.join();
  for (int fd : held_)
    ::close(fd);
  ::close(listener_);
}

std::string RawServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> RawServer::requestLines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

RawServer::Reply RawServer::fixed(std::string response) {
  return [response](int fd, const std::string&) {
    [[maybe_unused]] ssize_t written = ::write(fd, response.data(), response.size());
  };
}

void RawServer::serve() {
  while (!stopping_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0)
      continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    const std::string head = readHead(fd);
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(head.substr(0, head.find("\r\n")));
    }
    if (!reply_) {
      held_.push_back(fd);
      continue;
    }
    reply_(fd, head);
    ::close(fd);
  }
}

}  // namespace morvane::testing
