#include "entry.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

Mode mode(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/Applications/Morvane.app/Contents/MacOS/Morvane");
  return chooseMode(arguments);
}

TEST(ChooseMode, FirstOptionInPrecedenceOrderWinsWhereverItStands) {
  EXPECT_EQ(mode({"--list"}), Mode::list);
  EXPECT_EQ(mode({"--update", "--list"}), Mode::list);
  EXPECT_EQ(mode({"--update", "--selftest"}), Mode::selfTest);
  EXPECT_EQ(mode({"x", "--update"}), Mode::update);
  EXPECT_EQ(mode({"--check", "--update"}), Mode::checkForUpdate);
}

TEST(ChooseMode, AnythingElseStartsTheMenuBarApplication) {
  EXPECT_EQ(mode({}), Mode::menuBarApp);
  EXPECT_EQ(mode({"--check"}), Mode::menuBarApp);
  EXPECT_EQ(mode({"--LIST", "-list", "--list=1", " --list", "--selfTest"}), Mode::menuBarApp);
}

}  // namespace
}  // namespace morvane
