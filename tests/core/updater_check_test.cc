#include <gtest/gtest.h>

#include "language.h"
#include "raw_server.h"
#include "test_support.h"
#include "update_server.h"
#include "updater.h"

namespace morvane {
namespace {

using testing::ScopedEnv;
using testing::updateServer;

const std::string kDigest = "89abcdef0123456789abcdef0123456789abcdef0123456789abcdef01234567";

std::string manifest(const std::string& version, const std::string& digest = kDigest) {
  return R"({"version": ")" + version + R"(", "sha256": ")" + digest + R"("})";
}

class UpdaterCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    updateServer().clear();
    Language::apply("en");
  }
  void TearDown() override { Language::apply("en"); }

  ScopedEnv english_{"MORVANE_LANG", std::nullopt};
};

TEST_F(UpdaterCheck, OverrideIsTheBaseUrlVerbatim) {
  EXPECT_EQ(Updater::overrideBaseURL(), updateServer().url());
  EXPECT_EQ(Updater::baseURL(), updateServer().url());
  EXPECT_EQ((Updater::Release{"1.4.2", kDigest}).url(),
            updateServer().url() + "/Morvane-1.4.2.zip");
}

TEST_F(UpdaterCheck, NewerReleaseIsOfferedAndEqualOrOlderIsNot) {
  updateServer().answer("/latest.json", 200, manifest("1.3.1"));
  auto newer = Updater::check("1.3");
  ASSERT_TRUE(newer) << newer.error().text;
  EXPECT_EQ(*newer, (Updater::Release{"1.3.1", kDigest}));

  updateServer().answer("/latest.json", 200, manifest("1.3"));
  auto same = Updater::check("1.3.0");
  ASSERT_TRUE(same);
  EXPECT_EQ(*same, std::nullopt);

  auto older = Updater::check("2.0");
  ASSERT_TRUE(older);
  EXPECT_EQ(*older, std::nullopt) << "never a downgrade";

  auto fromNothing = Updater::check("0");
  ASSERT_TRUE(fromNothing);
  EXPECT_TRUE(fromNothing->has_value());
  EXPECT_EQ(updateServer().requestCount("/latest.json"), 4) << "nothing is cached";
}

TEST_F(UpdaterCheck, OnlyStatus200Counts) {
  updateServer().answer("/latest.json", 204, "");
  EXPECT_EQ(Updater::check("1.0").error().text, "latest.json returned HTTP 204");
  updateServer().answer("/latest.json", 301, "", {{"Location", "/elsewhere.json"}});
  updateServer().answer("/elsewhere.json", 200, manifest("9.0"));
  EXPECT_EQ(Updater::check("1.0").error().text, "latest.json returned HTTP 301");
  updateServer().clear();
  EXPECT_EQ(Updater::check("1.0").error().text, "latest.json returned HTTP 404");
  Language::apply("zh");
  EXPECT_EQ(Updater::check("1.0").error().text, "latest.json 返回 HTTP 404");
}

TEST_F(UpdaterCheck, UnrecognisedManifestsGiveOneText) {
  for (const std::string& body :
       {std::string("<html>not json</html>"), manifest("1"), manifest("1.2.3-rc1"),
        manifest("1." + std::string(10000, '1')), std::string(100000, '['), std::string("[]")}) {
    updateServer().answer("/latest.json", 200, body);
    auto result = Updater::check("1.0");
    ASSERT_FALSE(result) << body.substr(0, 40);
    EXPECT_EQ(result.error().text, "The contents of latest.json could not be recognized.");
  }
  Language::apply("zh");
  EXPECT_EQ(Updater::check("1.0").error().text, "latest.json 的内容无法识别。");
}

TEST_F(UpdaterCheck, HugeManifestIsNotReadWhole) {
  updateServer().answer("/latest.json", 200,
                        R"({"pad": ")" + std::string(64 << 20, ' ') + R"(", "version": "9.0",)" +
                            R"( "sha256": ")" + kDigest + "\"}");
  auto result = Updater::check("1.0");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "The response is larger than 1048576 bytes, so it was abandoned.");
}

TEST_F(UpdaterCheck, OverriddenOriginGoesDirectWhateverTheProxySettings) {
  testing::RawServer proxy(testing::RawServer::fixed(
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}"));
  ScopedEnv httpProxy("http_proxy", proxy.url());
  ScopedEnv allProxy("ALL_PROXY", proxy.url());
  ScopedEnv noProxy("no_proxy", std::nullopt);
  ScopedEnv noProxyUpper("NO_PROXY", std::nullopt);
  updateServer().answer("/latest.json", 200, manifest("1.1"));
  auto result = Updater::check("1.0");
  ASSERT_TRUE(result) << result.error().text;
  EXPECT_TRUE(result->has_value());
  EXPECT_TRUE(proxy.requestLines().empty());
}

TEST_F(UpdaterCheck, TransportFailureIsPassedOnUnchanged) {
  testing::RawServer broken(testing::RawServer::fixed("garbage\r\n\r\n"));
  // The override is fixed for the process, so aim the manifest fetch itself elsewhere.
  auto result = Updater::detail::fetch(broken.url() + "/latest.json", 5, 0);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text.find("returned HTTP"), std::string::npos) << result.error().text;
  EXPECT_FALSE(result.error().text.empty());
}

}  // namespace
}  // namespace morvane
