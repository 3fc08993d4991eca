// HTTP over libcurl. Each call owns its easy handle and runs the transfer on a thread of its
// own, so the caller's wait can end at the deadline even if the library never returns.

#include <curl/curl.h>
#include <strings.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "http.h"
#include "language.h"

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

/// What the transfer thread hands back, guarded for the caller that may stop waiting early.
struct Cell {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  Result<HTTPResponse> result;

  explicit Cell(Failure timedOut) : result(std::unexpected(std::move(timedOut))) {}
};

/// What the transfer collects as it goes.
struct Transfer {
  CURL* curl = nullptr;
  HTTPResponse response;
  size_t maximumBodySize = 0;
  size_t received = 0;
  std::function<bool(std::string_view)> receive;
  bool tooLarge = false;
};

void ensureGlobalInit() {
  static const bool initialised = [] {
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }();
  (void)initialised;
}

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  if (transfer->maximumBodySize != 0 && transfer->received + bytes > transfer->maximumBodySize) {
    transfer->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  transfer->received += bytes;
  long status = 0;
  if (transfer->receive &&
      curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
      status == 200)
    return transfer->receive(std::string_view(data, bytes)) ? bytes : 0;
  transfer->response.data.append(data, bytes);
  return bytes;
}

std::string trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

/// Makes room for a body whose length the server announced, so a large body is not moved as it
/// grows; a length above the body limit is left to the limit to refuse.
void reserveAnnouncedLength(Transfer& transfer) {
  auto announced = transfer.response.header("Content-Length");
  if (!announced || !transfer.response.data.empty() || transfer.receive)
    return;
  size_t length = 0;
  auto [end, error] =
      std::from_chars(announced->data(), announced->data() + announced->size(), length);
  if (error != std::errc() || end != announced->data() + announced->size())
    return;
  const size_t ceiling = transfer.maximumBodySize != 0 ? transfer.maximumBodySize : size_t{1} << 30;
  if (length <= ceiling)
    transfer.response.data.reserve(length);
}

/// Collects "Name: value" lines; a new status line (after a 100 Continue, or a proxy's answer
/// to CONNECT) starts the fields afresh.
size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    transfer->response.headers.clear();
  } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
    transfer->response.headers[trimmed(line.substr(0, colon))] = trimmed(line.substr(colon + 1));
  } else if (trimmed(line).empty()) {
    reserveAnnouncedLength(*transfer);  // the blank line that ends the fields
  }
  return size * count;
}

void applyRoute(CURL* curl, const HTTP::Route& route) {
  if (const auto* proxy = std::get_if<HTTP::Proxy>(&route)) {
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy->host.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPORT, proxy->port);
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, CURLPROXY_HTTP);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");  // an environment no_proxy must not bypass it
  } else if (std::holds_alternative<HTTP::Direct>(route)) {
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  }
  // System: libcurl reads the proxy environment by itself.
}

curl_slist* headerList(const HTTPRequest& request) {
  curl_slist* list = nullptr;
  for (const auto& [name, value] : request.headers)
    list = curl_slist_append(list, (name + ": " + value).c_str());
  return list;
}

/// Runs the transfer to its end on the calling thread and stores the outcome in `cell`.
void perform(const HTTPRequest& request, const HTTP::Route& route, double timeout,
             const std::shared_ptr<Cell>& cell) {
  CURL* curl = curl_easy_init();
  Transfer transfer;
  transfer.curl = curl;
  transfer.maximumBodySize = request.maximumBodySize;
  transfer.receive = request.receive;
  char errorText[CURL_ERROR_SIZE] = {};
  curl_slist* headers = headerList(request);
  const auto limitMs = static_cast<long>(timeout * 1000);
  const auto idleSeconds = static_cast<long>(std::max(1.0, std::min(timeout, request.timeout)));

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "HEAD")
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (!request.body.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limitMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limitMs);
  if (timeout > 0) {  // no limit at all is libcurl's reading of 0, as for the two above
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);
  }
  if (request.maximumBodySize != 0)  // a larger announced length is refused before any body
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.maximumBodySize));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receiveBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receiveHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  applyRoute(curl, route);

  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);

  std::lock_guard lock(cell->mutex);
  if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    cell->result = fail(
        L([&] { return "响应超过 " + std::to_string(request.maximumBodySize) + " 字节，已放弃。"; },
          [&] {
            return "The response is larger than " + std::to_string(request.maximumBodySize) +
                   " bytes, so it was abandoned.";
          }));
  } else if (code != CURLE_OK) {
    cell->result = fail(errorText[0] != '\0' ? errorText : curl_easy_strerror(code));
  } else if (status > 0) {
    transfer.response.status = status;
    cell->result = std::move(transfer.response);
  }
  cell->finished = true;
  cell->done.notify_all();
}

}  // namespace

std::optional<std::string> HTTPResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0)
      return value;
  return std::nullopt;
}

Result<HTTPResponse> HTTP::send(const HTTPRequest& request, const Route& route, double timeout) {
  ensureGlobalInit();
  auto cell = std::make_shared<Cell>(Failure{L("请求超时", "The request timed out")});
  std::thread(perform, request, route, timeout, cell).detach();

  const auto margin = std::chrono::duration<double>(std::max(timeout, 0.0) + 2);
  std::unique_lock lock(cell->mutex);
  cell->done.wait_until(lock, Clock::now() + std::chrono::duration_cast<Clock::duration>(margin),
                        [&] { return cell->finished; });
  return std::move(cell->result);  // the transfer thread no longer writes a finished cell
}

}  // namespace morvane
