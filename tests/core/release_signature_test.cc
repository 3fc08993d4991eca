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

TEST(ReleaseScript, MakesItsKeyOnceAndSignsOnlyWhatCarriesIt) {
  testing::TempDir dir;
  const fs::path key = dir / "config/morvane/release-key.pem";
  // A fresh key is made, and said so; the built bundle does not carry it, so nothing is signed.
  const std::string refusal = "scripts/release: " + std::string(MORVANE_BUNDLE) +
                              " does not carry the public half of " + key.string() + " (key ";
  ShellResult first = release(dir / "config", dir / "first");
  EXPECT_EQ(first.status, 1);
  EXPECT_TRUE(first.standardError.starts_with(
      "Created the release key " + key.string() +
      ": it signs the updates scripts/release publishes, and builds made here trust it; keep "
      "it private and back it up\n" +
      refusal))
      << first.standardError;
  EXPECT_EQ(std::count(first.standardError.begin(), first.standardError.end(), '\n'), 2);
  EXPECT_EQ(fs::status(key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(dir / "first"));
  const PublicKey made = SigningKey(key).publicKey();
  ShellResult again = release(dir / "config", dir / "first");
  EXPECT_EQ(again.standardError,
            refusal + Updater::keyId(made) +
                "), so its users would refuse every later release signed with it; build it with "
                "that key\n");

  // Signing with one key while pinning another (the release carries only the pinned one).
  const SigningKey other;
  ShellResult pinned = testing::runReleaseScript(
      "1.3.0", dir / "pinned",
      {{"MORVANE_RELEASE_KEY", other.file().string()},
       {"MORVANE_RELEASE_PUBLIC_KEY", SigningKey::release().file().string()}});
  EXPECT_EQ(pinned.status, 1);
  EXPECT_NE(pinned.standardError.find("does not carry the public half of"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "pinned"));

  // The key the bundle carries signs, and the release says which keys it carries. A key others
  // may read is used, with a warning.
  fs::create_directories(dir / "own/morvane");
  const fs::path own = dir / "own/morvane/release-key.pem";
  fs::copy_file(SigningKey::release().file(), own);
  fs::permissions(own, fs::perms(0644));
  const std::string id = Updater::keyId(SigningKey::release().publicKey());
  ShellResult signed_ = release(dir / "own", dir / "out");
  ASSERT_TRUE(signed_.ok()) << signed_.message();
  EXPECT_EQ(signed_.standardError, "scripts/release: warning: the release key " + own.string() +
                                       " can be read by other users (mode 644); chmod 600 it\n");
  EXPECT_NE(signed_.standardOutput.find("\nthe release carries keys " + id + "\n"),
            std::string::npos)
      << signed_.standardOutput;
  EXPECT_TRUE(
      signed_.standardOutput.ends_with("signed with key " + id + " from " + own.string() + "\n"))
      << signed_.standardOutput;
  const auto published = Updater::release(testing::readText(dir / "out/latest.json"));
  ASSERT_TRUE(published);
  EXPECT_EQ(published->sha256, testing::sha256Of(dir / "out/Morvane-1.3.0.zip"));
  EXPECT_EQ(published->keyId, id);
  EXPECT_TRUE(checkPublisherSignature(*published, std::vector{SigningKey::release().publicKey()}));
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
