// The publisher's keys: which of them the updater accepts, and how scripts/release makes and
// uses its own.

#include "release_signature.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "releases.h"
#include "test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using testing::SigningKey;
using Updater::checkPublisherSignature;
using Updater::PublicKey;

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST(PublisherKeys, AnyCarriedKeyVerifiesAndAnEmptyListNone) {
  const SigningKey current;
  const SigningKey next;
  const std::vector<PublicKey> both{current.publicKey(), next.publicKey()};
  Updater::Release release{"1.2", kDigest, next.sign("1.2", kDigest)};
  EXPECT_TRUE(checkPublisherSignature(release, both)) << "the next key, unnamed";
  release.keyId = Updater::keyId(next.publicKey());
  EXPECT_TRUE(checkPublisherSignature(release, both)) << "the next key, by name";
  EXPECT_FALSE(checkPublisherSignature(release, std::vector{current.publicKey()}));
  EXPECT_FALSE(checkPublisherSignature(release, {})) << "a build carrying no key refuses all";
  release.keyId = Updater::keyId(current.publicKey());
  EXPECT_FALSE(checkPublisherSignature(release, both)) << "the named key did not sign it";
}

TEST(PublisherKeys, BuildCarriesTheKeyReleasesAreSignedWith) {
  const auto keys = Updater::publisherKeys();
  EXPECT_NE(std::find(keys.begin(), keys.end(), SigningKey::release().publicKey()), keys.end());
}

/// scripts/release with a config folder of the test's own and no MORVANE_RELEASE_KEY.
ShellResult release(const fs::path& config, const fs::path& out, Shell::Environment more = {}) {
  more.emplace("XDG_CONFIG_HOME", config.string());
  more.emplace("MORVANE_RELEASE_KEY", "");
  return testing::runReleaseScript("1.3.0", out, more);
}

TEST(ReleaseScript, MakesItsKeyOnceAndSignsEveryReleaseWithIt) {
  testing::TempDir dir;
  const fs::path key = dir / "config/morvane/release-key.pem";
  ShellResult first = release(dir / "config", dir / "first");
  ASSERT_TRUE(first.ok()) << first.message();
  EXPECT_EQ(first.standardError,
            "Created the release key " + key.string() + " (keep it private and back it up)\n");
  EXPECT_EQ(fs::status(key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  ShellResult second = release(dir / "config", dir / "second");
  ASSERT_TRUE(second.ok()) << second.message();
  EXPECT_EQ(second.standardError, "");

  const PublicKey made = SigningKey(key).publicKey();
  for (const fs::path& out : {dir / "first", dir / "second"}) {
    const auto published = Updater::release(testing::readText(out / "latest.json"));
    ASSERT_TRUE(published);
    EXPECT_EQ(published->sha256, testing::sha256Of(out / "Morvane-1.3.0.zip"));
    EXPECT_EQ(published->keyId, Updater::keyId(made));
    EXPECT_TRUE(checkPublisherSignature(*published, std::vector{made})) << out;
  }
  EXPECT_TRUE(second.standardOutput.ends_with("signed with key " + Updater::keyId(made) + " from " +
                                              key.string() + "\n"))
      << second.standardOutput;
}

TEST(ReleaseScript, WithoutAUsableKeyFailsWithOneLineAndWritesNothing) {
  testing::TempDir dir;
  testing::writeFile(dir / "garbage.pem", "not a key\n");
  const SigningKey key;
  ShellResult publicHalf = Shell::run(RELEASE_KEY_SCRIPT, {"--public"}, 30,
                                      {{"MORVANE_RELEASE_KEY", key.file().string()}});
  ASSERT_TRUE(publicHalf.ok()) << publicHalf.message();
  testing::writeFile(dir / "public.pem", publicHalf.standardOutput);

  const std::vector<Shell::Environment> unusable{
      {{"MORVANE_RELEASE_KEY", (dir / "missing.pem").string()}},
      {{"MORVANE_RELEASE_KEY", (dir / "garbage.pem").string()}},
      {{"MORVANE_RELEASE_KEY", (dir / "public.pem").string()}},
      {{"MORVANE_RELEASE_KEY", dir.path().string()}},
      {{"MORVANE_RELEASE_KEY", ""}, {"XDG_CONFIG_HOME", ""}, {"HOME", ""}},
  };
  for (const Shell::Environment& environment : unusable) {
    ShellResult refused = testing::runReleaseScript("1.3.0", dir / "out", environment);
    const std::string said = refused.standardError;
    EXPECT_EQ(refused.status, 1) << said;
    EXPECT_TRUE(said.starts_with("scripts/release: no usable release key: ")) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_FALSE(fs::exists(dir / "out")) << said;
  }
}

}  // namespace
}  // namespace morvane
