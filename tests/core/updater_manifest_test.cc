#include <gtest/gtest.h>

#include "updater.h"

namespace morvane {
namespace {

using Updater::Release;
using Updater::release;

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string manifest(const std::string& version, const std::string& digest = kDigest) {
  return R"({"version": ")" + version + R"(", "sha256": ")" + digest + R"("})";
}

TEST(ReleaseFromManifest, ReadsVersionAndLowerCasedDigest) {
  std::string upper = kDigest;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(release(manifest("1.4.2", upper)), (Release{"1.4.2", kDigest}));
  EXPECT_EQ(release(manifest("1.10.0")), (Release{"1.10.0", kDigest}));
  EXPECT_EQ(release(R"({"notes": {"en": [1, 2]}, "version": "2.0", "sha256": ")" + kDigest +
                    R"(", "x": null})"),
            (Release{"2.0", kDigest}))
      << "other members are ignored";
  EXPECT_EQ(release(R"({"version": "2.0", "sha256": ")" + kDigest +
                    R"(", "signature": "c2ln", "keyId": "0123456789abcdef"})"),
            (Release{"2.0", kDigest, "c2ln", "0123456789abcdef"}));
  EXPECT_EQ(release(R"({"version": "2.0", "sha256": ")" + kDigest +
                    R"(", "signature": 5, "keyId": ["x"]})"),
            (Release{"2.0", kDigest}))
      << "a signature that is not text leaves the manifest recognised and its package unsigned";
}

TEST(ReleaseFromManifest, VersionMustBeTwoOrMoreGroupsOfAsciiDigits) {
  for (const char* bad : {"1", "v1.2", "1.2-beta", "1..2", ".1.2", "1.2.", "1.2.3-rc1", " 1.2",
                          "1.2 ", "١.٢", "1.2\n", ""})
    EXPECT_EQ(release(manifest(bad)), std::nullopt) << bad;
}

TEST(ReleaseFromManifest, DigestMustBeSixtyFourHexDigits) {
  EXPECT_EQ(release(manifest("1.2", kDigest.substr(1))), std::nullopt);
  EXPECT_EQ(release(manifest("1.2", kDigest + "0")), std::nullopt);
  EXPECT_EQ(release(manifest("1.2", "g" + kDigest.substr(1))), std::nullopt);
}

TEST(ReleaseFromManifest, AnythingButAnObjectWithTwoStringsIsNotRecognised) {
  for (const std::string& bad :
       {std::string("not json"), std::string(""), std::string("[") + manifest("1.2") + "]",
        std::string("\"1.2\""), std::string(R"({"version": 1.2, "sha256": ")") + kDigest + "\"}",
        std::string(R"({"version": "1.2", "sha256": null})"),
        std::string(R"({"version": ["1.2"], "sha256": ")") + kDigest + "\"}",
        std::string(R"({"sha256": ")") + kDigest + "\"}", manifest("1.2") + " trailing",
        std::string(R"({"version": "1.2", "sha256": ")") + kDigest + "\\xff\"}"})
    EXPECT_EQ(release(bad), std::nullopt) << bad;
  EXPECT_EQ(release("{\"version\": \"1.\xff\", \"sha256\": \"" + kDigest + "\"}"), std::nullopt)
      << "invalid UTF-8";
}

TEST(ReleaseFromManifest, HostileDocumentsAreRefusedQuickly) {
  std::string deep(200000, '[');
  EXPECT_EQ(release(deep), std::nullopt);
  std::string deepInside = R"({"version": "1.2", "sha256": ")" + kDigest + R"(", "x": )" +
                           std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_EQ(release(deepInside), std::nullopt);

  // A group that no 64-bit integer holds would compare as 0, so such a version is refused.
  EXPECT_EQ(release(manifest("1." + std::string(10000, '9'))), std::nullopt);
  EXPECT_EQ(release(manifest("9223372036854775808.0")), std::nullopt);
  EXPECT_EQ(release(manifest("9223372036854775807.0")),
            (Release{"9223372036854775807.0", kDigest}));

  std::string padded = R"({"pad": ")" + std::string(8 << 20, 'p') + R"(", "version": "3.1", )" +
                       R"("sha256": ")" + kDigest + "\"}";
  EXPECT_EQ(release(padded), (Release{"3.1", kDigest}));
}

TEST(ReleaseFromManifest, LaterDuplicateMemberWins) {
  EXPECT_EQ(release(R"({"version": 5, "version": "1.5", "sha256": ")" + kDigest + "\"}"),
            (Release{"1.5", kDigest}));
  EXPECT_EQ(release(R"({"version": "1.5", "version": {}, "sha256": ")" + kDigest + "\"}"),
            std::nullopt);
}

TEST(VersionComponents, LeadingNumbersOfEachPiece) {
  using V = std::vector<int64_t>;
  EXPECT_EQ(Updater::components("1.10.3"), (V{1, 10, 3}));
  EXPECT_EQ(Updater::components("2.0-beta"), (V{2, 0}));
  EXPECT_EQ(Updater::components("1.2 (45)"), (V{1, 2}));
  EXPECT_EQ(Updater::components("v1.2"), (V{0, 2}));
  EXPECT_EQ(Updater::components("1..2"), (V{1, 2}));
  EXPECT_EQ(Updater::components(""), V{});
  EXPECT_EQ(Updater::components("..."), V{});
  EXPECT_EQ(Updater::components("1." + std::string(10000, '7')), (V{1, 0}));
  // Numeric characters that are not ASCII digits end the run but do not parse.
  EXPECT_EQ(Updater::components("一.3"), (V{0, 3}));
  EXPECT_EQ(Updater::components("٣.3"), (V{0, 3}));
  EXPECT_EQ(Updater::components("4٣.3"), (V{0, 3}));
  EXPECT_EQ(Updater::components("\xff.3"), (V{0, 3}));
}

TEST(VersionOrder, ComparesComponentByComponentWithMissingAsZero) {
  EXPECT_TRUE(Updater::isNewer("1.10", "1.9"));
  EXPECT_TRUE(Updater::isNewer("1.2.1", "1.2"));
  EXPECT_TRUE(Updater::isNewer("1.3.1", "1.3"));
  EXPECT_TRUE(Updater::isNewer("0.1", "0"));
  EXPECT_FALSE(Updater::isNewer("1.2", "1.2.0"));
  EXPECT_FALSE(Updater::isNewer("1.2.0", "1.2"));
  EXPECT_FALSE(Updater::isNewer("1.3", "1.3.0"));
  EXPECT_FALSE(Updater::isNewer("1.9", "1.10"));
  EXPECT_FALSE(Updater::isNewer("1.3", "1.3-dev"));
  EXPECT_TRUE(Updater::isNewer("1.3.1", "1.3-dev"));
  EXPECT_FALSE(Updater::isNewer("1.0", "1.0"));
}

}  // namespace
}  // namespace morvane
