#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "language.h"
#include "platform.h"
#include "releases.h"
#include "test_support.h"
#include "update_server.h"
#include "updater.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using testing::Package;
using testing::updateServer;

constexpr const char* kOutsideMarker = "escaped";

class UpdaterDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    updateServer().clear();
    Language::apply("en");
    platform::overrideToolPath(platform::Tool::ditto, HELPERS_DIR "/ditto");
    platform::overrideToolPath(platform::Tool::codesign, HELPERS_DIR "/codesign");
  }
  void TearDown() override {
    platform::resetToolPaths();
    Language::apply("en");
  }

  /// Publishes a package under its version's name and gives the release a manifest signed by
  /// the publisher would name.
  Updater::Release publish(const std::string& version, const Package& package) {
    updateServer().answer("/Morvane-" + version + ".zip", 200, testing::readText(package.zip));
    return *Updater::release(testing::signedManifest(version, package.sha256));
  }

  /// Expects `release` to be refused with `text`, leaving no staging directory.
  void expectRefused(const Updater::Release& release, const std::string& text) {
    auto staged = Updater::download(release, paths_);
    ASSERT_FALSE(staged) << "accepted " << release.version;
    EXPECT_EQ(staged.error().text, text);
    EXPECT_FALSE(fs::exists(paths_.root / "update"));
  }

  testing::TempDir releases_;
  testing::TempDir data_;
  Paths paths_{data_.path()};
};

TEST_F(UpdaterDownload, VerifiedBundleIsStagedWithoutThePackage) {
  Package package = testing::makeRelease("1.1.0", releases_.path());
  publish("1.1.0", package);
  // The manifest exactly as scripts/release signed it.
  auto staged = Updater::download(*Updater::release(package.manifest), paths_);
  ASSERT_TRUE(staged) << staged.error().text;
  EXPECT_EQ(*staged, (Updater::Staged{"1.1.0", data_.path() / "update" / "Morvane.app"}));
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(data_.path() / "update"))
    entries.push_back(entry.path().filename());
  EXPECT_EQ(entries, std::vector<fs::path>{"Morvane.app"});
  EXPECT_EQ(::access((staged->app / "Contents/MacOS/Morvane").c_str(), X_OK), 0)
      << "executable bits survive the trip";
}

TEST_F(UpdaterDownload, DigestComparisonIgnoresCaseAndAMismatchDiscards) {
  Package package = testing::makeRelease("1.1.0", releases_.path());
  Updater::Release release = publish("1.1.0", package);
  std::string upper = release.sha256;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto manifest = R"({"version": "1.1.0", "sha256": ")" + upper + R"(", "signature": ")" +
                  release.signature + "\"}";
  auto staged = Updater::download(*Updater::release(manifest), paths_);
  ASSERT_TRUE(staged) << staged.error().text;

  std::string wrong = release.sha256;
  wrong[10] = wrong[10] == '0' ? '1' : '0';
  expectRefused({"1.1.0", wrong},
                "The downloaded file's checksum does not match, so it was discarded.");
  Language::apply("zh");
  expectRefused({"1.1.0", wrong}, "下载的文件摘要不符，已丢弃。");
}

TEST_F(UpdaterDownload, PackageNotSignedByThePublisherIsDiscarded) {
  const std::string text =
      "The new version is not signed by Morvane's publisher, so it was discarded.";
  const Package package = testing::makeRelease("1.1.0", releases_.path());
  const Updater::Release good = publish("1.1.0", package);
  auto signedWith = [&](const std::string& signature, const std::string& keyId = "") {
    return Updater::Release{"1.1.0", package.sha256, signature, keyId};
  };
  const testing::SigningKey& releaseKey = testing::SigningKey::release();
  const testing::SigningKey stranger;

  expectRefused({"1.1.0", package.sha256}, text);                 // a manifest from before signing
  expectRefused(signedWith(good.signature.substr(0, 84)), text);  // 63 bytes
  expectRefused(signedWith(good.signature.substr(0, 86) + "AA"), text);       // 66 bytes
  expectRefused(signedWith("*" + good.signature.substr(1)), text);            // not base64
  expectRefused(signedWith(good.signature.substr(0, 87)), text);              // cut short
  expectRefused(signedWith(releaseKey.sign("1.1.1", package.sha256)), text);  // another version
  expectRefused(signedWith(releaseKey.sign("1.1.0", std::string(64, 'a'))), text);
  for (const std::string& named : {std::string(), Updater::keyId(stranger.publicKey()),
                                   Updater::keyId(releaseKey.publicKey())})
    expectRefused(signedWith(stranger.sign("1.1.0", package.sha256), named), text);
  // A good signature under the name of a key this build does not carry.
  expectRefused(signedWith(good.signature, Updater::keyId(stranger.publicKey())), text);

  // The package changed after signing: its digest no longer matches, or the manifest's new
  // digest is not what was signed.
  const Package tampered = testing::repack(package, [](const fs::path& tree) {
    testing::writeFile(tree / "Morvane.app/Contents/Resources/extra", "x");
  });
  publish("1.1.0", tampered);
  expectRefused(good, "The downloaded file's checksum does not match, so it was discarded.");
  expectRefused({"1.1.0", tampered.sha256, good.signature, good.keyId}, text);
  Language::apply("zh");
  expectRefused({"1.1.0", tampered.sha256, good.signature, good.keyId},
                "新版本没有 Morvane 发布者的签名，已丢弃。");
}

TEST_F(UpdaterDownload, MissingPackageReportsTheServersStatus) {
  Package package = testing::makeRelease("1.1.0", releases_.path());
  ASSERT_TRUE(Updater::download(publish("1.1.0", package), paths_));
  expectRefused({"1.4.2", package.sha256}, "Download failed: Morvane-1.4.2.zip returned HTTP 404");
  Language::apply("zh");
  expectRefused({"1.4.2", package.sha256}, "下载失败：Morvane-1.4.2.zip 返回 HTTP 404");
}

TEST_F(UpdaterDownload, UnsignedOrTamperedBundleFailsTheSignature) {
  const std::string text = "The new version failed signature verification, so it was discarded.";
  Package tampered =
      testing::repack(testing::makeRelease("1.2.0", releases_.path()), [](const fs::path& tree) {
        std::ofstream(tree / "Morvane.app/Contents/Helpers/open", std::ios::app) << "#";
      });
  expectRefused(publish("1.2.0", tampered), text);

  Package added = testing::repack(
      testing::makeRelease("1.2.0", releases_.path()),
      [](const fs::path& tree) { testing::writeFile(tree / "Morvane.app/Contents/extra", "x"); });
  expectRefused(publish("1.2.0", added), text);

  Package unsigned_ = testing::repack(
      testing::makeRelease("1.2.0", releases_.path()),
      [](const fs::path& tree) { fs::remove_all(tree / "Morvane.app/Contents/_CodeSignature"); });
  expectRefused(publish("1.2.0", unsigned_), text);

  Package renamed = testing::repack(
      testing::makeRelease("1.2.0", releases_.path()),
      [](const fs::path& tree) { fs::rename(tree / "Morvane.app", tree / "Other.app"); });
  expectRefused(publish("1.2.0", renamed), text);
  Language::apply("zh");
  expectRefused(publish("1.2.0", renamed), "新版本的签名校验没有通过，已丢弃。");
}

TEST_F(UpdaterDownload, AnotherAppOrAnotherVersionIsNotThisRelease) {
  Package other = testing::makeRelease("1.1.0", releases_.path(), "org.example.Other");
  expectRefused(publish("1.1.0", other), "The download is not Morvane 1.1.0, so it was discarded.");

  Updater::Release longer = publish("1.4.2.0", testing::makeRelease("1.4.2", releases_.path()));
  expectRefused(longer, "The download is not Morvane 1.4.2.0, so it was discarded.");
  Language::apply("zh");
  expectRefused(longer, "下载到的不是 Morvane 1.4.2.0，已丢弃。");
}

TEST_F(UpdaterDownload, ArchiveThatEscapesItsFolderIsNotUnpacked) {
  // A link inside the bundle that leads out of the staging directory altogether.
  Package escaping = testing::repack(
      testing::makeRelease("1.2.0", releases_.path()), [this](const fs::path& tree) {
        fs::create_symlink("../../../../" + data_.path().filename().string() + "/" + kOutsideMarker,
                           tree / "Morvane.app/Contents/Resources");
      });
  expectRefused(publish("1.2.0", escaping), "Couldn't unpack the download.");
  EXPECT_FALSE(fs::exists(fs::symlink_status(data_.path() / kOutsideMarker)));

  // A link that stays in the staging directory but leaves the bundle breaks the seal.
  Package leaving =
      testing::repack(testing::makeRelease("1.2.0", releases_.path()), [](const fs::path& tree) {
        fs::create_symlink("../../Morvane.zip", tree / "Morvane.app/Contents/Resources");
      });
  expectRefused(publish("1.2.0", leaving),
                "The new version failed signature verification, so it was discarded.");
}

TEST_F(UpdaterDownload, ZipBombIsRefusedBeforeAnythingIsWritten) {
  Package bomb =
      testing::repack(testing::makeRelease("1.2.0", releases_.path()), [](const fs::path& tree) {
        const fs::path zeros = tree / "Morvane.app/Contents/zeros";
        std::ofstream(zeros).close();
        fs::resize_file(zeros, (uintmax_t{1} << 30) + 4096);  // sparse: cheap to make
      });
  ASSERT_LT(fs::file_size(bomb.zip), 64u << 20);  // far below what it unpacks to
  expectRefused(publish("1.2.0", bomb), "Couldn't unpack the download.");
}

TEST_F(UpdaterDownload, NextDownloadClearsTheStagedBundleFirst) {
  Package package = testing::makeRelease("1.1.0", releases_.path());
  auto first = Updater::download(publish("1.1.0", package), paths_);
  ASSERT_TRUE(first);
  testing::writeFile(first->app / "leftover", "from the first download");
  auto second = Updater::download(publish("1.1.0", package), paths_);
  ASSERT_TRUE(second) << second.error().text;
  EXPECT_FALSE(fs::exists(second->app / "leftover"));
  expectRefused({"1.1.0", std::string(64, '0')},
                "The downloaded file's checksum does not match, so it was discarded.");
}

TEST_F(UpdaterDownload, LeftoversOfAnyModeNeverBlockTheNextDownload) {
  // A package holding a folder nobody may read fails its checks and is removed all the same,
  // so the next package goes through. Root reads anything, so the downloads run as an
  // unprivileged user in a child process.
  const Updater::Release locked = publish(
      "1.2.0",
      testing::repack(testing::makeRelease("1.2.0", releases_.path()), [](const fs::path& tree) {
        testing::writeFile(tree / "Morvane.app/Contents/Locked/inside", "x");
        fs::permissions(tree / "Morvane.app/Contents/Locked", fs::perms::none);
      }));
  const Updater::Release good = publish("1.3.0", testing::makeRelease("1.3.0", releases_.path()));
  ASSERT_EQ(::chown(data_.path().c_str(), 65534, 65534), 0);
  // That user runs copies of the tools it can reach from any checkout.
  testing::TempDir tools;
  platform::overrideToolPath(platform::Tool::ditto,
                             testing::copyForAnyUser(HELPERS_DIR "/ditto", tools));
  platform::overrideToolPath(platform::Tool::codesign,
                             testing::copyForAnyUser(HELPERS_DIR "/codesign", tools));
  const std::string report = testing::textFromChild([&]() -> std::string {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      return "could not become nobody";
    std::string found;
    auto refused = Updater::download(locked, paths_);
    found += refused ? "the locked package was accepted; " : "";
    found += fs::exists(paths_.root / "update") ? "the locked package was left behind; " : "";
    auto staged = Updater::download(good, paths_);
    found += staged ? "" : "the next package failed: " + staged.error().text;
    return found;
  });
  EXPECT_EQ(report, "");
}

TEST_F(UpdaterDownload, UncreatableStagingDirectoryIsReported) {
  testing::writeFile(data_.path() / "blocker", "a file where a folder should be");
  Paths blocked(data_.path() / "blocker" / "data");
  auto staged = Updater::download({"1.1.0", std::string(64, '0')}, blocked);
  ASSERT_FALSE(staged);
  EXPECT_TRUE(staged.error().text.starts_with("Couldn't create the download directory: "))
      << staged.error().text;
}

}  // namespace
}  // namespace morvane
