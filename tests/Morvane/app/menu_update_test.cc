// Updating the installed application from its own menu, as a person does: the real application
// on a virtual display with a tray, its menu opened with a click on the status icon and the
// update item chosen with the keyboard.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "installed_copy.h"
#include "virtual_display.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using testing::eventually;

class MenuUpdate : public testing::InstalledCopy {
 protected:
  /// Starts the installed copy on the display, against the update server, and waits for its
  /// status icon.
  void startApplication() {
    testing::ScopedEnv display("DISPLAY", display_.name());
    testing::ScopedEnv data("MORVANE_HOME", home_.string());
    testing::ScopedEnv home("HOME", dir_.path().string());
    testing::ScopedEnv language("MORVANE_LANG", "en");
    testing::ScopedEnv origin("MORVANE_UPDATE_URL", server_.url());
    testing::ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
    app_pid_ = startChild(app_ / "Contents/MacOS/Morvane");
    ASSERT_TRUE(eventually([&] { return display_.visibleWindows(app_pid_) == 1; }, seconds(30)))
        << "the status icon appears in the tray";
  }

  /// Opens the menu with a click on the status icon and chooses the item above the last one,
  /// "Quit": the update item. While that item is disabled the choice lands on the language
  /// item above it instead, whose submenu opens: then both menus are closed and the result is
  /// false.
  bool chooseUpdateItem() {
    const std::string icon =
        display_.xdotool({"search", "--onlyvisible", "--pid", std::to_string(app_pid_)})
            .standardOutput;
    // Two quick clicks on one spot make a double click, which opens no menu: the clicks take
    // turns between two spots of the icon.
    spot_ = spot_ == "6" ? "16" : "6";
    display_.xdotool(
        {"mousemove", "--window", icon.substr(0, icon.find('\n')), spot_, "12", "click", "1"});
    EXPECT_TRUE(eventually([&] { return display_.visibleWindows(app_pid_) == 2; }, seconds(20)))
        << "the menu opens";
    // The popup takes the keyboard a moment after it shows; keys sent before then are lost. From
    // the last item ("Quit", whatever the pointer hovers), one up is the update item.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    display_.xdotool({"key", "End", "Up", "Return"});
    EXPECT_TRUE(eventually([&] { return !running() || display_.visibleWindows(app_pid_) != 2; },
                           seconds(20)))
        << "the menu closes, or a submenu opens";
    if (!running() || display_.visibleWindows(app_pid_) < 3)
      return true;
    display_.xdotool({"key", "Escape", "Escape"});
    EXPECT_TRUE(eventually([&] { return display_.visibleWindows(app_pid_) == 1; }, seconds(20)));
    return false;
  }

  /// Whether the application still runs; reaps it once it has ended.
  bool running() {
    if (app_pid_ <= 0)
      return false;
    if (::waitpid(app_pid_, &app_status_, WNOHANG) == 0)
      return true;
    app_pid_ = -1;
    return false;
  }

  testing::VirtualDisplay display_;
  std::string spot_;
  pid_t app_pid_ = -1;
  int app_status_ = 0;
};

TEST_F(MenuUpdate, InstalledCopyIsReplacedFromTheUpdateItem) {
  ASSERT_TRUE(display_.ok()) << display_.problem();
  publish(testing::makeRelease("1.1.0", dir_ / "releases"));
  // Without automatic checks, only the item's own check runs.
  testing::writeFile(home_ / "settings.json", R"({"autoUpdate": false})");
  ASSERT_TRUE(noInstanceRuns());
  startApplication();
  const pid_t old = app_pid_;

  ASSERT_TRUE(chooseUpdateItem()) << "Check for Updates is enabled";
  ASSERT_TRUE(
      eventually([&] { return server_.requestCount("/Morvane-1.1.0.zip") == 1; }, seconds(30)));
  // Once the download is verified the item offers the installation; until then it is disabled.
  bool chosen = false;
  for (int attempt = 0; !chosen && attempt < 100; ++attempt)
    if (!(chosen = chooseUpdateItem()))
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(chosen) << "Install Update is offered";
  ASSERT_TRUE(eventually([&] { return !running(); }, seconds(30)))
      << "the application quits for the installer";
  EXPECT_TRUE(WIFEXITED(app_status_) && WEXITSTATUS(app_status_) == 0) << app_status_;

  ASSERT_TRUE(eventually([&] { return log().ends_with("updated\n"); }, seconds(40))) << log();
  EXPECT_NE(log().find("(waiting for pid " + std::to_string(old) + ")"), std::string::npos);
  EXPECT_EQ(testing::versionOf(app_), "1.1.0");
  EXPECT_FALSE(fs::exists(app_.string() + ".previous"));
  EXPECT_EQ(server_.requestCount("/latest.json"), 1);
  // The new version shows its own icon in the tray.
  // (A process it forks counts too until it has started its program.)
  std::vector<pid_t> updated;
  ASSERT_TRUE(eventually(
      [&] {
        updated = testing::instancesOf(app_);
        return updated.size() == 1;
      },
      seconds(30)));
  EXPECT_TRUE(eventually([&] { return display_.visibleWindows(updated[0]) == 1; }, seconds(30)));
}

}  // namespace
}  // namespace morvane
