#include "login_item.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform.h"
#include "test_support.h"

namespace morvane {
namespace {

class LoginItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::open,
                               "/Applications/Morvane.app/Contents/Helpers/open");
  }
  void TearDown() override { platform::resetToolPaths(); }

  testing::TempDir home_;
  testing::ScopedEnv homeVariable_{"HOME", home_.path().string()};
  std::filesystem::path file_ = home_ / "Library/LaunchAgents/org.morvane.Morvane.plist";
};

TEST_F(LoginItemTest, PropertyListHasTheFourKeysInOrderAsXmlAndRunsThePlatformsOpen) {
  EXPECT_EQ(LoginItem::path(), file_);
  EXPECT_EQ(LoginItem::propertyList("/Users/a&b/Morvane.app"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n"
            "<dict>\n"
            "\t<key>Label</key>\n"
            "\t<string>org.morvane.Morvane</string>\n"
            "\t<key>ProgramArguments</key>\n"
            "\t<array>\n"
            "\t\t<string>/Applications/Morvane.app/Contents/Helpers/open</string>\n"
            "\t\t<string>-g</string>\n"
            "\t\t<string>/Users/a&amp;b/Morvane.app</string>\n"
            "\t</array>\n"
            "\t<key>RunAtLoad</key>\n"
            "\t<true/>\n"
            "\t<key>LimitLoadToSessionType</key>\n"
            "\t<string>Aqua</string>\n"
            "</dict>\n"
            "</plist>\n");
}

TEST_F(LoginItemTest, EnablingCreatesTheDirectoryAndRewritesTheFile) {
  ASSERT_FALSE(LoginItem::isEnabled());
  ASSERT_TRUE(LoginItem::setEnabled(true, "/Applications/Old.app"));
  EXPECT_TRUE(LoginItem::isEnabled());
  ASSERT_TRUE(LoginItem::setEnabled(true, "/Applications/Morvane.app"));
  EXPECT_EQ(testing::readText(file_), LoginItem::propertyList("/Applications/Morvane.app"));
  // Written through a temporary sibling that is gone afterwards.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file_.parent_path()), {}), 1);
}

TEST_F(LoginItemTest, DisablingRemovesWhateverIsThereAndSucceedsWhenNothingIs) {
  EXPECT_TRUE(LoginItem::setEnabled(false, ""));
  testing::writeFile(file_, "hand-edited, not even a property list");
  EXPECT_TRUE(LoginItem::isEnabled());
  ASSERT_TRUE(LoginItem::setEnabled(false, ""));
  EXPECT_FALSE(std::filesystem::exists(file_));
  std::filesystem::create_directories(file_);
  EXPECT_TRUE(LoginItem::isEnabled());
  ASSERT_TRUE(LoginItem::setEnabled(false, ""));
  EXPECT_FALSE(LoginItem::isEnabled());
}

TEST_F(LoginItemTest, FailureCarriesThePathAndTheSystemsReason) {
  testing::writeFile(home_ / "Library/LaunchAgents", "a file where the directory should be");
  Outcome enabled = LoginItem::setEnabled(true, "/Applications/Morvane.app");
  ASSERT_FALSE(enabled);
  EXPECT_EQ(enabled.error().text, (home_ / "Library/LaunchAgents").string() + ": Not a directory");
  EXPECT_FALSE(LoginItem::isEnabled());
}

}  // namespace
}  // namespace morvane
