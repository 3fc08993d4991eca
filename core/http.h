#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "failure.h"

namespace morvane {

/// One HTTP request as the caller built it.
struct HTTPRequest {
  std::string url;
  std::string method = "GET";
  std::map<std::string, std::string> headers;
  std::string body;
  /// The request's own limit, in seconds, on waiting for the next bytes.
  double timeout = 60;
  /// Bodies longer than this many bytes are refused, at once when the server announces such a
  /// length; 0 accepts any size.
  size_t maximumBodySize = 0;
  /// When set, the body of a 200 answer is handed to it piece by piece as it arrives instead of
  /// being collected in the response's `data`; returning false abandons the transfer. It runs
  /// on the transfer's own thread, which may outlive the call when the deadline passes, so it
  /// must own whatever it writes to.
  std::function<bool(std::string_view)> receive = {};
};

/// A response as received; any status, 200 or not.
struct HTTPResponse {
  long status = 0;
  std::string data;
  std::map<std::string, std::string> headers;

  /// The value of the header named `name`, compared without regard to letter case.
  std::optional<std::string> header(std::string_view name) const;
};

namespace HTTP {

/// Through the given proxy, for http and https alike.
struct Proxy {
  std::string host;
  long port = 0;
};
/// The system's proxy settings (http_proxy, https_proxy, no_proxy, ALL_PROXY).
struct System {};
/// No proxy at all, whatever the system says.
struct Direct {};

/// How a request leaves the machine.
using Route = std::variant<Proxy, System, Direct>;

/// Sends one request and waits for the whole answer, for at most `timeout` + 2 seconds.
///
/// Nothing is cached, no cookies are kept and no connection is reused: every call starts
/// afresh. `timeout` limits both the waits for data and the whole transfer. A transport error
/// gives the networking library's own description; no answer by the deadline gives "The
/// request timed out" in the language current when the call began. Blocks the calling thread.
Result<HTTPResponse> send(const HTTPRequest& request, const Route& route, double timeout);

}  // namespace HTTP
}  // namespace morvane
