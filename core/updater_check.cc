#include "http.h"
#include "language.h"
#include "updater.h"

namespace morvane::Updater {
namespace {

constexpr double kManifestTimeout = 30;
constexpr double kRequestTimeout = 60;
/// A manifest is a few dozen bytes; anything near this size is not one.
constexpr size_t kLargestManifest = 1 << 20;

/// "https://host/dir/latest.json?x" → "latest.json"
std::string lastPathComponent(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  const size_t scheme = path.find("://");
  if (scheme != std::string::npos)
    path = path.substr(std::min(path.size(), path.find('/', scheme + 3)));
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  const size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  return last.empty() ? "/" : last;
}

}  // namespace

Result<std::string> detail::fetch(const std::string& url, double timeout, size_t maximumBodySize,
                                  std::function<bool(std::string_view)> receive) {
  HTTPRequest request;
  request.url = url;
  request.timeout = kRequestTimeout;
  request.maximumBodySize = maximumBodySize;
  request.receive = std::move(receive);
  HTTP::Route route = HTTP::System{};
  if (overrideBaseURL())
    route = HTTP::Direct{};
  Result<HTTPResponse> response = HTTP::send(request, route, timeout);
  if (!response)
    return std::unexpected(response.error());
  if (response->status != 200)
    return fail(lastPathComponent(url) + L(" 返回 HTTP ", " returned HTTP ") +
                std::to_string(response->status));
  return std::move(response->data);
}

Result<std::optional<Release>> check(const std::string& currentVersion) {
  const std::string manifestURL = baseURL() + "/" + std::string(manifestName);
  Result<std::string> body = detail::fetch(manifestURL, kManifestTimeout, kLargestManifest);
  if (!body)
    return std::unexpected(body.error());
  std::optional<Release> newest = release(*body);
  if (!newest)
    return fail(
        L("latest.json 的内容无法识别。", "The contents of latest.json could not be recognized."));
  if (!isNewer(newest->version, currentVersion))
    return std::optional<Release>();
  return newest;
}

}  // namespace morvane::Updater
