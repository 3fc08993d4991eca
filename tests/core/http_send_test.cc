#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "http.h"
#include "language.h"
#include "local_server.h"
#include "raw_server.h"
#include "test_support.h"

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;
using testing::LocalServer;
using testing::RawServer;
using testing::ScopedEnv;

HTTPRequest get(const std::string& url) {
  HTTPRequest request;
  request.url = url;
  return request;
}

/// Clears the proxy environment for a test, so only what the test sets applies.
struct NoProxyEnvironment {
  ScopedEnv http{"http_proxy", std::nullopt};
  ScopedEnv https{"https_proxy", std::nullopt};
  ScopedEnv all{"ALL_PROXY", std::nullopt};
  ScopedEnv none{"no_proxy", std::nullopt};
  ScopedEnv noneUpper{"NO_PROXY", std::nullopt};
};

constexpr const char* kProxied =
    "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\nproxied";

TEST(HTTPSend, AnyStatusIsAResponseWithItsBodyAndHeaders) {
  NoProxyEnvironment clean;
  LocalServer server;
  auto missing = HTTP::send(get(server.url() + "/nothing"), HTTP::Direct{}, 5);
  ASSERT_TRUE(missing) << missing.error().text;
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(missing->data, "not found");

  server.answer("/moved", 301, "", {{"Location", server.url() + "/elsewhere"}});
  server.answer("/elsewhere", 200, "followed");
  auto moved = HTTP::send(get(server.url() + "/moved"), HTTP::Direct{}, 5);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->status, 301) << "redirects are the caller's business";
  EXPECT_EQ(server.requestCount("/elsewhere"), 0);

  server.answer("/empty", 200, "");
  auto empty = HTTP::send(get(server.url() + "/empty"), HTTP::Direct{}, 5);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200);
  EXPECT_TRUE(empty->data.empty());
}

TEST(HTTPSend, HeaderLookupIgnoresLetterCase) {
  NoProxyEnvironment clean;
  LocalServer server;
  server.answer("/h", 200, "x", {{"X-Release-Channel", "Stable"}});
  auto response = HTTP::send(get(server.url() + "/h"), HTTP::Direct{}, 5);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->header("x-release-channel"), "Stable");
  EXPECT_EQ(response->header("X-RELEASE-CHANNEL"), "Stable");
  EXPECT_EQ(response->header("X-Release"), std::nullopt);
  EXPECT_EQ(response->header("X-Missing"), std::nullopt);
}

TEST(HTTPSend, BinaryBodiesArriveWhole) {
  NoProxyEnvironment clean;
  LocalServer server;
  std::string bytes(3 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7919 % 251);
  server.answer("/blob", 200, bytes);
  auto response = HTTP::send(get(server.url() + "/blob"), HTTP::Direct{}, 10);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->data, bytes);
}

TEST(HTTPSend, SilentServerEndsWithinTheTimeoutPlusTwoSeconds) {
  NoProxyEnvironment clean;
  RawServer server(RawServer::silent());
  const auto start = Clock::now();
  auto response = HTTP::send(get(server.url() + "/latest.json"), HTTP::Direct{}, 1);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_FALSE(response);
  EXPECT_FALSE(response.error().text.empty());
  EXPECT_LT(elapsed, 3.0);
  EXPECT_GE(elapsed, 0.9);
}

TEST(HTTPSend, DeadlineTextIsInTheLanguageCurrentWhenTheCallBegan) {
  NoProxyEnvironment clean;
  RawServer server(RawServer::silent());
  ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  // A zero timeout gives the library no limit of its own, so only the deadline ends the wait.
  std::thread switcher([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::setenv("MORVANE_LANG", "zh", 1);
    Language::apply(std::nullopt);
  });
  const auto start = Clock::now();
  auto response = HTTP::send(get(server.url() + "/x"), HTTP::Direct{}, 0);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  switcher.join();
  ASSERT_FALSE(response);
  EXPECT_EQ(response.error().text, "The request timed out");
  EXPECT_LT(elapsed, 3.0);
  EXPECT_EQ(HTTP::send(get(server.url() + "/x"), HTTP::Direct{}, 0).error().text, "请求超时");
  ::setenv("MORVANE_LANG", "en", 1);  // the variable outranks what apply is given
  Language::apply("en");
}

TEST(HTTPSend, ConnectionClosedBeforeThePromisedLengthIsAFailure) {
  NoProxyEnvironment clean;
  RawServer server(RawServer::fixed(
      "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\nonly these"));
  auto response = HTTP::send(get(server.url() + "/Morvane-1.1.0.zip"), HTTP::Direct{}, 5);
  ASSERT_FALSE(response);
  EXPECT_NE(response.error().text.find("990 bytes remaining"), std::string::npos)
      << response.error().text;
}

TEST(HTTPSend, NothingListeningGivesTheLibrarysReason) {
  NoProxyEnvironment clean;
  int port = 0;
  {
    RawServer closed(RawServer::fixed(""));
    port = closed.port();
  }
  auto response =
      HTTP::send(get("http://127.0.0.1:" + std::to_string(port) + "/"), HTTP::Direct{}, 5);
  ASSERT_FALSE(response);
  EXPECT_NE(response.error().text.find("onnect"), std::string::npos) << response.error().text;
}

TEST(HTTPSend, BodiesAboveTheLimitAreRefused) {
  NoProxyEnvironment clean;
  LocalServer server;
  server.answer("/big", 200, std::string(5000, 'x'));
  HTTPRequest request = get(server.url() + "/big");
  request.maximumBodySize = 4096;
  auto refused = HTTP::send(request, HTTP::Direct{}, 5);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().text, "The response is larger than 4096 bytes, so it was abandoned.");
  Language::apply("zh");
  EXPECT_EQ(HTTP::send(request, HTTP::Direct{}, 5).error().text, "响应超过 4096 字节，已放弃。");
  Language::apply("en");
  request.maximumBodySize = 5000;
  EXPECT_TRUE(HTTP::send(request, HTTP::Direct{}, 5));

  // An announced length above the limit is refused before the body, which here never comes.
  RawServer announcing([](int fd, const std::string&) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 600000000\r\n\r\nPK";
    [[maybe_unused]] ssize_t written = ::write(fd, head.data(), head.size());
    char byte;
    while (::read(fd, &byte, 1) > 0) {  // until the client hangs up
    }
  });
  request = get(announcing.url() + "/Morvane-9.0.zip");
  request.maximumBodySize = 4096;
  const auto start = Clock::now();
  auto announced = HTTP::send(request, HTTP::Direct{}, 30);
  ASSERT_FALSE(announced);
  EXPECT_EQ(announced.error().text, "The response is larger than 4096 bytes, so it was abandoned.");
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
}

TEST(HTTPSend, OnlyHttpAndHttpsAreSpoken) {
  NoProxyEnvironment clean;
  testing::TempDir dir;
  testing::writeFile(dir / "secret", "local file");
  auto response = HTTP::send(get("file://" + (dir / "secret").string()), HTTP::Direct{}, 5);
  ASSERT_FALSE(response);
}

TEST(HTTPRoute, SystemHonoursTheProxyEnvironmentAndDirectIgnoresIt) {
  NoProxyEnvironment clean;
  LocalServer origin;
  origin.answer("/latest.json", 200, "origin");
  RawServer proxy(RawServer::fixed(kProxied));
  ScopedEnv httpProxy("http_proxy", proxy.url());

  auto viaSystem = HTTP::send(get(origin.url() + "/latest.json"), HTTP::System{}, 5);
  ASSERT_TRUE(viaSystem) << viaSystem.error().text;
  EXPECT_EQ(viaSystem->data, "proxied");
  ASSERT_EQ(proxy.requestLines().size(), 1u);
  EXPECT_EQ(proxy.requestLines()[0], "GET " + origin.url() + "/latest.json HTTP/1.1");

  auto direct = HTTP::send(get(origin.url() + "/latest.json"), HTTP::Direct{}, 5);
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->data, "origin");
  EXPECT_EQ(proxy.requestLines().size(), 1u);
}

TEST(HTTPRoute, ExplicitProxyCarriesHttpAndHttpsAndBeatsNoProxy) {
  NoProxyEnvironment clean;
  ScopedEnv everything("no_proxy", "*");
  RawServer proxy(RawServer::fixed(kProxied));

  auto plain = HTTP::send(get("http://updates.example.invalid/latest.json"),
                          HTTP::Proxy{"127.0.0.1", proxy.port()}, 5);
  ASSERT_TRUE(plain) << plain.error().text;
  EXPECT_EQ(plain->data, "proxied");

  // The proxy answers the tunnel request with a page instead of opening it; what matters is
  // that the https request went to the same host and port.
  auto secure = HTTP::send(get("https://updates.example.invalid/latest.json"),
                           HTTP::Proxy{"127.0.0.1", proxy.port()}, 5);
  const auto lines = proxy.requestLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "GET http://updates.example.invalid/latest.json HTTP/1.1");
  EXPECT_EQ(lines[1], "CONNECT updates.example.invalid:443 HTTP/1.1");
}

TEST(HTTPSend, CallsOnSeveralThreadsShareNothing) {
  NoProxyEnvironment clean;
  LocalServer server;
  for (int i = 0; i < 8; ++i)
    server.answer("/" + std::to_string(i), 200, std::string(1000 + i, 'a' + static_cast<char>(i)));
  std::vector<std::thread> threads;
  std::vector<std::string> bodies(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      auto response = HTTP::send(get(server.url() + "/" + std::to_string(i)), HTTP::Direct{}, 5);
      bodies[i] = response ? response->data : response.error().text;
    });
  for (auto& thread : threads)
    thread.join();
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(bodies[i], std::string(1000 + i, 'a' + static_cast<char>(i)));
}

}  // namespace
}  // namespace morvane
