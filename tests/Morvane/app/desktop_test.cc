// What a person sees of the menu-bar application on a desktop, read off the screen: its icon on
// light and dark panels, where its menu opens, what the open menu paints while an agent is
// switched on, how a menu of many agents fits the screen and answers the keys, and the notice a
// failing agent gives.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "agents.h"
#include "file_io.h"
#include "installed_copy.h"
#include "run_history.h"
#include "user_manager_sandbox.h"
#include "virtual_display.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using testing::Area;
using testing::eventually;
using testing::VirtualDisplay;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kHost = MORVANE_SOURCE_DIR "/tests/Morvane/app/status_notifier_host.py";
constexpr const char* kMonitor = MORVANE_SOURCE_DIR "/tests/Morvane/app/notification_monitor.py";

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    writeAgent("com.example.sleeper");
    writeAgent("com.example.resting");
    // A disabled agent shows its disabled mark.
    Shell::run(LAUNCHCTL_STANDIN, {"disable", Agents::serviceTarget("com.example.resting")}, 30,
               {{"HOME", dir_.path().string()}});
  }

  void TearDown() override {
    stop();
    if (monitor_ > 0) {
      ::kill(monitor_, SIGTERM);
      ::waitpid(monitor_, nullptr, 0);
    }
    display_.reset();
    for (const char* label : {"com.example.sleeper", "com.example.resting", "com.example.row07",
                              "com.example.failing", "com.example.looping"})
      Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget(label)}, 30,
                 {{"HOME", dir_.path().string()}});
  }

  void writeAgent(const std::string& label) {
    testing::writeFile(
        dir_ / "Library/LaunchAgents" / (label + ".plist"),
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key>"
        "<string>" +
            label +
            "</string><key>ProgramArguments</key><array>"
            "<string>/bin/sleep</string><string>300</string></array></dict></plist>");
  }

  /// An agent that writes `error` to its error log and exits with `status`, started at load;
  /// with `restarts`, kept alive and started again a second after each exit.
  void writeFailingAgent(const std::string& label, const std::string& error, int status,
                         bool restarts) {
    testing::writeFile(
        dir_ / "Library/LaunchAgents" / (label + ".plist"),
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
            "</string><key>ProgramArguments</key><array><string>/bin/sh</string>"
            "<string>-c</string><string>echo starting; echo '" +
            error + "' >&amp;2; exit " + std::to_string(status) +
            "</string></array><key>StandardErrorPath</key><string>" + errorLog(label).string() +
            "</string><key>RunAtLoad</key><true/>" +
            (restarts ? "<key>KeepAlive</key><true/><key>ThrottleInterval</key><integer>1</integer>"
                      : "") +
            "</dict></plist>");
  }

  fs::path errorLog(const std::string& label) const { return dir_ / (label + ".err"); }

  void bootstrap(const std::string& label) {
    const ShellResult loaded = Shell::run(
        LAUNCHCTL_STANDIN,
        {"bootstrap", Agents::guiDomain(), (dir_ / "Library/LaunchAgents" / (label + ".plist"))},
        30, {{"HOME", dir_.path().string()}});
    EXPECT_TRUE(loaded.ok()) << loaded.standardError;
  }

  void bootout(const std::string& label) {
    Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget(label)}, 30,
               {{"HOME", dir_.path().string()}});
  }

  /// The runs of `label` its run record holds.
  Runs recordedRuns(const std::string& label) const {
    const auto text = readRegularFile(dir_ / ".launchd-standin/runs" / runRecordName(label));
    return text ? parseRuns(*text) : Runs{};
  }

  /// Watches the notices asked for on `display`'s bus from now on.
  void watchNotices(const VirtualDisplay& display) {
    std::vector<std::unique_ptr<testing::ScopedEnv>> variables;
    for (const auto& [name, value] : display.environment())
      variables.push_back(std::make_unique<testing::ScopedEnv>(name, value));
    monitor_ = testing::startProgram(kPython, {kMonitor, (dir_ / "notices").string()});
    EXPECT_TRUE(eventually([&] { return !readRegularFile(dir_ / "notices").value_or("").empty(); },
                           seconds(30)))
        << "the notices are watched";
  }

  /// The notices Morvane asked for so far, in order: [summary, body, actions].
  std::vector<nlohmann::json> notices() const {
    std::vector<nlohmann::json> found;
    std::istringstream lines(readRegularFile(dir_ / "notices").value_or(""));
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json seen = nlohmann::json::parse(line, nullptr, false);
      if (seen.is_object() && seen.value("member", "") == "Notify" && seen["args"][0] == "Morvane")
        found.push_back({seen["args"][3], seen["args"][4], seen["args"][5]});
    }
    return found;
  }

  /// How many of those name `label`.
  size_t noticesOf(const std::string& label) const {
    const std::vector<nlohmann::json> all = notices();
    return std::count_if(all.begin(), all.end(), [&](const nlohmann::json& notice) {
      return notice[0].get<std::string>().find(label) != std::string::npos;
    });
  }

  /// Starts the application on `display` in `language`.
  void launch(const VirtualDisplay& display, const std::string& language) {
    testing::ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
    std::vector<std::unique_ptr<testing::ScopedEnv>> variables;
    for (const auto& [name, value] : display.environment())
      variables.push_back(std::make_unique<testing::ScopedEnv>(name, value));
    testing::ScopedEnv home("HOME", dir_.path().string());
    testing::ScopedEnv data("MORVANE_HOME", (dir_ / "data").string());
    testing::ScopedEnv chosen("MORVANE_LANG", language);
    app_ = testing::startProgram(MORVANE_EXECUTABLE, {});
  }

  /// Starts the application on `display` in `language` and waits until its icon shows; gives
  /// the icon's place.
  Area start(const VirtualDisplay& display, const std::string& language) {
    launch(display, language);
    Area icon;
    const Area panel = display.panel();
    EXPECT_TRUE(eventually(
        [&] {
          // An embedding tray shows the icon as a window of the application's own; a
          // StatusNotifierItem tray draws it on the panel, as the only thing there.
          const std::vector<Area> windows = display.visibleWindowAreas(app_);
          if (!windows.empty()) {
            // Once the tray has taken it in.
            icon = windows.front();
            return icon.x >= panel.x && icon.right() <= panel.right() && icon.y >= panel.y &&
                   icon.bottom() <= panel.bottom();
          }
          const testing::Picture shot = display.screenshot();
          if (shot.rgb.empty())
            return false;
          const int ground = shot.grey(panel.x + 1, panel.y + 1);
          icon = shot.bounds(panel, ground, 60);
          return !icon.empty() && icon.width <= 32;
        },
        seconds(30)))
        << "the status icon shows on the panel";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // and is painted there
    return icon;
  }

  /// Quits the application and checks that it went as asked.
  void stop() {
    if (app_ <= 0)
      return;
    ::kill(app_, SIGTERM);
    int status = 0;
    ::waitpid(app_, &status, 0);
    app_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  /// Clicks the icon and gives the menu's place once it shows.
  Area openMenu(const VirtualDisplay& display, const Area& icon) {
    const size_t before = display.visibleWindows(app_);
    display.xdotool({"mousemove", std::to_string(icon.x + icon.width / 2),
                     std::to_string(icon.y + icon.height / 2), "click", "1"});
    std::vector<Area> windows;
    EXPECT_TRUE(eventually(
        [&] {
          windows = display.visibleWindowAreas(app_);
          return windows.size() > before;
        },
        seconds(20)))
        << "the menu opens";
    return windows.empty() ? Area{} : windows.back();
  }

  bool loaded(const std::string& label) {
    const ShellResult listed =
        Shell::run(LAUNCHCTL_STANDIN, {"list"}, 30, {{"HOME", dir_.path().string()}});
    return listed.standardOutput.find("\t" + label + "\n") != std::string::npos;
  }

  /// The tests' own panel side of status items, run on `display`'s session bus.
  static ShellResult host(const VirtualDisplay& display, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kHost);
    Shell::Environment bus;
    for (const auto& [name, value] : display.environment())
      if (name == "DBUS_SESSION_BUS_ADDRESS" && value)
        bus[name] = *value;
    return Shell::run(kPython, arguments, 60, bus);
  }

  /// What the host printed, as JSON; null when it printed none.
  static nlohmann::json hostJson(const VirtualDisplay& display,
                                 std::vector<std::string> arguments) {
    const ShellResult result = host(display, std::move(arguments));
    return nlohmann::json::parse(result.standardOutput, nullptr, false);
  }

  /// Starts a StatusNotifierItem watcher on `display`'s bus, as a panel starting would.
  static pid_t startWatcher(const VirtualDisplay& display) {
    std::vector<std::unique_ptr<testing::ScopedEnv>> variables;
    for (const auto& [name, value] : display.environment())
      variables.push_back(std::make_unique<testing::ScopedEnv>(name, value));
    return testing::startProgram(kPython, {kHost, "watch"});
  }

  static void stopWatcher(pid_t watcher) {
    ::kill(watcher, SIGTERM);
    ::waitpid(watcher, nullptr, 0);
  }

  /// Whether the watcher on `display` lists `item`.
  static bool registered(const VirtualDisplay& display, const std::string& item) {
    const nlohmann::json items = hostJson(display, {"items"});
    return items.is_array() && std::find(items.begin(), items.end(), item) != items.end();
  }

  /// The labels of a menu level, "---" for separators.
  static std::vector<std::string> labels(const nlohmann::json& level) {
    std::vector<std::string> found;
    for (const nlohmann::json& child : level["children"]) {
      const nlohmann::json& properties = child["properties"];
      found.push_back(properties.value("type", "") == "separator" ? "---"
                                                                  : properties.value("label", "?"));
    }
    return found;
  }

  /// The item of a menu level whose label starts with `start`.
  static nlohmann::json itemStarting(const nlohmann::json& level, const std::string& start) {
    for (const nlohmann::json& child : level["children"])
      if (child["properties"].value("label", "").starts_with(start))
        return child;
    return {};
  }

  /// A new display with `tray`, in place of the one before; it goes after the application.
  VirtualDisplay& show(VirtualDisplay::Tray tray) {
    stop();
    display_.reset();
    display_ = std::make_unique<VirtualDisplay>(tray);
    return *display_;
  }

  testing::TempDir dir_;
  std::unique_ptr<VirtualDisplay> display_;
  pid_t app_ = -1;
  pid_t monitor_ = -1;
};

TEST_F(Desktop, IconStandsOutOnLightAndDarkPanels) {
  for (VirtualDisplay::Tray tray : {VirtualDisplay::Tray::light, VirtualDisplay::Tray::dark}) {
    VirtualDisplay& display = show(tray);
    ASSERT_TRUE(display.ok()) << display.problem();
    const Area icon = start(display, "en");
    ASSERT_FALSE(icon.empty());
    // The icon's own window, as the tray shows it: most of the pictogram differs clearly from
    // the panel around it.
    const testing::Picture shot = display.screenshot();
    const Area panel = display.panel();
    const int ground = shot.grey(panel.x + 1, panel.y + 1);
    EXPECT_GE(shot.standingOut(icon, ground, 80), 60)
        << (tray == VirtualDisplay::Tray::dark ? "dark" : "light") << " panel, grey " << ground
        << "; icon at " << icon.x << "," << icon.y << " " << icon.width << "x" << icon.height;
    stop();
  }
}

TEST_F(Desktop, OnAStatusNotifierPanelTheMenuOpensBelowItAndShowsWhatHappens) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "the panel's session runs in a process namespace of its own, which needs root";
  VirtualDisplay& display = show(VirtualDisplay::Tray::xfce);
  ASSERT_TRUE(display.ok()) << display.problem();
  const Area panel = display.panel();
  const Area icon = start(display, "en");
  ASSERT_FALSE(icon.empty());
  const testing::Picture shot = display.screenshot();
  EXPECT_GE(shot.standingOut(icon, shot.grey(panel.x + 1, panel.y + 1), 80), 60)
      << "the icon stands out on the dark panel";

  const Area menu = openMenu(display, icon);
  ASSERT_FALSE(menu.empty());
  EXPECT_GE(menu.y, panel.bottom()) << "the menu opens below the panel, not over it";
  EXPECT_LE(menu.right(), 800);
  const Area header{menu.x, menu.y, menu.width, 28};
  const std::string before = display.read(header);
  EXPECT_NE(before.find("0 of 2 loaded"), std::string::npos) << before;

  // The switches down the menu's right side: the first agent's (disabled), then the second's.
  const testing::Picture open = display.screenshot();
  const int column = menu.right() - 14 - 8;
  const int ground = open.grey(column, menu.y + 2);
  std::vector<int> switches;
  for (int y = menu.y; y < menu.bottom(); ++y) {
    int run = 0;
    while (y + run < menu.bottom() && std::abs(open.grey(column, y + run) - ground) >= 20)
      ++run;
    if (run >= 16)
      switches.push_back(y);
    y += run;
  }
  ASSERT_GE(switches.size(), 2u) << "the agents' switches in the menu";
  const int top = switches[1];
  display.xdotool({"mousemove", std::to_string(column), std::to_string(top + 10), "click", "1"});
  ASSERT_TRUE(eventually([&] { return loaded("com.example.sleeper"); }, seconds(30)));

  // The open menu shows the result: the new count, and the result line instead of the
  // progress line.
  std::string painted;
  EXPECT_TRUE(eventually(
      [&] {
        painted = display.read({menu.x, menu.y, menu.width, 56});
        return painted.find("1 of 2 loaded") != std::string::npos &&
               painted.find("com.example.sleeper lo") != std::string::npos &&
               painted.find("Loading") == std::string::npos;
      },
      seconds(20)))
      << painted;
  display.xdotool({"key", "Escape"});
  stop();

  // In Chinese, the disabled mark reads as well as the rest.
  const Area again = start(display, "zh");
  const Area chinese = openMenu(display, again);
  ASSERT_FALSE(chinese.empty());
  const std::string text = display.read(chinese, "chi_sim");
  EXPECT_NE(text.find("已停用"), std::string::npos) << text;
  EXPECT_NE(text.find("LaunchAgents"), std::string::npos) << text;
  display.xdotool({"key", "Escape"});
}

TEST_F(Desktop, ALongMenuFitsBelowThePanelAndItsRowsScrollFromTheKeyboard) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "the panel's session runs in a process namespace of its own, which needs root";
  int written = 0;
  for (const int count : {15, 75}) {
    SCOPED_TRACE(std::to_string(count) + " agents");
    for (; written < count; ++written) {
      const std::string number = (written < 10 ? "0" : "") + std::to_string(written);
      writeAgent("com.example.row" + number);
    }
    VirtualDisplay& display = show(VirtualDisplay::Tray::xfce);
    ASSERT_TRUE(display.ok()) << display.problem();
    const Area panel = display.panel();
    const int screenHeight = display.screenshot().height;
    const Area icon = start(display, "en");
    ASSERT_FALSE(icon.empty());

    // Below the panel, never over it, and whole on the screen: the rows scroll, the items
    // below them stay in view.
    const Area menu = openMenu(display, icon);
    ASSERT_FALSE(menu.empty());
    EXPECT_GE(menu.y, panel.bottom()) << "the menu opens below the panel, not over it";
    EXPECT_LE(menu.bottom(), screenHeight);
    const Area lowest{menu.x, menu.bottom() - 60, menu.width, 60};
    std::string painted = display.read(lowest);
    EXPECT_NE(painted.find("Quit Morvane"), std::string::npos) << painted;
    painted = display.read(menu);
    EXPECT_EQ(painted.find("com.example.sleeper"), std::string::npos) << painted;

    // End, from the filter, scrolls to the last row: the last by name.
    display.xdotool({"key", "End"});
    EXPECT_TRUE(eventually(
        [&] {
          painted = display.read(menu);
          return painted.find("com.example.sleeper") != std::string::npos;
        },
        seconds(10)))
        << painted;
    display.xdotool({"key", "Home"});

    // Typing narrows the rows: the menu shrinks where it is, still below the panel.
    display.xdotool({"type", "row07"});
    Area narrowed;
    EXPECT_TRUE(eventually(
        [&] {
          const std::vector<Area> windows = display.visibleWindowAreas(app_);
          narrowed = windows.empty() ? Area{} : windows.back();
          return !narrowed.empty() && narrowed.height < menu.height;
        },
        seconds(10)))
        << "the menu shrinks to one row";
    EXPECT_GE(narrowed.y, panel.bottom());
    EXPECT_EQ(narrowed.y, menu.y);
    painted = display.read(narrowed);
    EXPECT_NE(painted.find("com.example.row07"), std::string::npos) << painted;
    EXPECT_NE(painted.find("Quit Morvane"), std::string::npos) << painted;

    // Down chooses the row and Space flips its switch; the menu stays open and says so.
    display.xdotool({"key", "Down", "space"});
    ASSERT_TRUE(eventually([&] { return loaded("com.example.row07"); }, seconds(30)));
    const std::string header = "1 of " + std::to_string(count + 2) + " load";
    EXPECT_TRUE(eventually(
        [&] {
          const std::vector<Area> windows = display.visibleWindowAreas(app_);
          painted = windows.empty() ? "" : display.read(windows.back());
          return painted.find(header) != std::string::npos &&
                 painted.find("com.example.row07 loaded") != std::string::npos;
        },
        seconds(20)))
        << painted;
    display.xdotool({"key", "Escape", "Escape"});
    stop();
    Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget("com.example.row07")}, 30,
               {{"HOME", dir_.path().string()}});
  }
}

TEST_F(Desktop, OnWaylandTheItemComesToEveryWatcherAndItsMenuIsDrawnByThePanel) {
  VirtualDisplay& display = show(VirtualDisplay::Tray::wayland);
  if (!display.ok())
    GTEST_SKIP() << display.problem();
  if (host(display, {"items"}).status == 127 ||
      host(display, {"items"}).standardError.find("ModuleNotFoundError") != std::string::npos)
    GTEST_SKIP() << "python3 with python3-dbus and python3-gi is missing: scripts/install-deps "
                    "test installs them";
  launch(display, "en");
  const std::string item = "org.kde.StatusNotifierItem-" + std::to_string(app_) + "-1";
  // Morvane is up before any panel is: its item waits on the bus.
  ASSERT_TRUE(eventually(
      [&] {
        return !hostJson(display, {"item", item}).is_null();
      },
      seconds(30)))
      << "the item is on the bus";

  // A watcher that appears late gets the item, and so does the same watcher started again.
  pid_t watcher = startWatcher(display);
  EXPECT_TRUE(eventually([&] { return registered(display, item); }, seconds(30)))
      << "registered with a watcher that came later";
  stopWatcher(watcher);
  watcher = startWatcher(display);
  EXPECT_TRUE(eventually([&] { return registered(display, item); }, seconds(30)))
      << "registered again once the watcher came back";

  // On Wayland only the panel can place a menu beside the icon: a click asks it to show the
  // exported one.
  const nlohmann::json properties = hostJson(display, {"item", item});
  EXPECT_EQ(properties.value("Menu", ""), "/MenuBar");
  EXPECT_EQ(properties.value("ItemIsMenu", false), true);
  EXPECT_EQ(properties.value("Status", ""), "Active");
  EXPECT_FALSE(properties["IconPixmap"].empty());
  EXPECT_EQ(properties["ToolTip"][2], "Morvane: manage launch agents");

  const std::string update = "Check for Updates (current " MORVANE_VERSION ")";
  // Once the first scan is in.
  nlohmann::json english;
  EXPECT_TRUE(eventually(
      [&] {
        english = hostJson(display, {"layout", item})["layout"];
        return labels(english).size() == 14;
      },
      seconds(30)));
  EXPECT_EQ(labels(english),
            (std::vector<std::string>{"Launch Agents · 0 of 2 loaded", "---",
                                      "com.example.resting · disabled", "com.example.sleeper",
                                      "---", "New Agent…", "Open LaunchAgents in Finder", "---",
                                      "Launch at Login", "Notify on Failure", "Language（语言）",
                                      "---", update, "Quit Morvane"}));
  const nlohmann::json sleeper = itemStarting(english, "com.example.sleeper");
  EXPECT_EQ(sleeper["properties"].value("toggle-type", ""), "checkmark");
  EXPECT_EQ(sleeper["properties"].value("toggle-state", -1), 0);
  EXPECT_EQ(english["children"][0]["properties"].value("enabled", true), false) << "the header";
  const nlohmann::json language = itemStarting(english, "Language");
  EXPECT_EQ(language["properties"].value("children-display", ""), "submenu");
  EXPECT_EQ(labels(language), (std::vector<std::string>{"System Default", "中文", "English"}));
  for (const nlohmann::json& option : language["children"]) {
    EXPECT_EQ(option["properties"].value("toggle-type", ""), "radio");
    EXPECT_EQ(option["properties"].value("toggle-state", -1),
              option["properties"].value("label", "") == "System Default" ? 1 : 0);
  }

  // Choosing the agent loads it as its switch does; the open menu is told and shows it.
  const nlohmann::json clicked =
      hostJson(display, {"click", item, std::to_string(sleeper.value("id", -1))});
  EXPECT_TRUE(loaded("com.example.sleeper"));
  EXPECT_FALSE(clicked["signals"].empty()) << clicked.dump();
  const nlohmann::json after = clicked["layout"];
  EXPECT_EQ(labels(after)[0], "Launch Agents · 1 of 2 loaded") << clicked.dump();
  // The item keeps its number, and shows the agent loaded.
  nlohmann::json running;
  for (const nlohmann::json& child : after["children"])
    if (child.value("id", -2) == sleeper.value("id", -1))
      running = child;
  EXPECT_EQ(running["properties"].value("label", ""), "com.example.sleeper") << clicked.dump();
  EXPECT_EQ(running["properties"].value("toggle-state", -1), 1) << clicked.dump();

  // A panel that calls the item anyway gets the menu from Morvane itself, and it lives on.
  for (const char* method : {"Activate", "ContextMenu"})
    EXPECT_EQ(host(display, {"call", item, method}).status, 0) << method;
  EXPECT_FALSE(hostJson(display, {"layout", item}).is_null());

  // In Chinese, every text of the menu is Chinese where the rich menu's is.
  stop();
  launch(display, "zh");
  const std::string chineseItem = "org.kde.StatusNotifierItem-" + std::to_string(app_) + "-1";
  ASSERT_TRUE(eventually([&] { return registered(display, chineseItem); }, seconds(30)));
  std::vector<std::string> chinese;
  EXPECT_TRUE(eventually(
      [&] {
        chinese = labels(hostJson(display, {"layout", chineseItem})["layout"]);
        return chinese.size() == 14;
      },
      seconds(30)));
  // Loaded agents come first, as in the rich menu.
  EXPECT_EQ(chinese,
            (std::vector<std::string>{"启动项 · 共 2 个，已加载 1 个", "---", "com.example.sleeper",
                                      "com.example.resting · 已停用", "---", "新建启动项…",
                                      "在访达中打开 LaunchAgents", "---", "登录时启动",
                                      "失败时通知", "语言（Language）", "---",
                                      "检查更新（当前 " MORVANE_VERSION "）", "退出 Morvane"}));
  stopWatcher(watcher);
}

TEST_F(Desktop, AFailingRunGivesOneNoticeWhoseShowLogShowsTheErrorLog) {
  VirtualDisplay& display = show(VirtualDisplay::Tray::light);
  ASSERT_TRUE(display.ok()) << display.problem();
  if (!display.startNotificationServer())
    GTEST_SKIP() << display.problem();
  if (Shell::run(kPython, {"-c", "import dbus, gi"}, 30).status != 0)
    GTEST_SKIP() << "python3 with python3-dbus and python3-gi is missing: scripts/install-deps "
                    "test installs them";
  writeFailingAgent("com.example.failing", "backup: disk full", 3, false);
  writeFailingAgent("com.example.looping", "bind: address in use", 4, true);
  // The desktop's application for text files notes what it is asked to show.
  const fs::path shown = dir_ / "shown";
  testing::writeFile(dir_ / "config/mimeapps.list",
                     "[Default Applications]\ntext/plain=shown.desktop\n");
  testing::writeScript(dir_ / "show", "echo \"$@\" >> '" + shown.string() + "'\n");
  testing::writeFile(
      dir_ / "share/applications/shown.desktop",
      "[Desktop Entry]\nType=Application\nName=Shown\nExec=" + (dir_ / "show").string() + " %f\n");
  testing::ScopedEnv config("XDG_CONFIG_HOME", (dir_ / "config").string());
  testing::ScopedEnv data("XDG_DATA_HOME", (dir_ / "share").string());
  watchNotices(display);
  ASSERT_FALSE(start(display, "en").empty());

  // One run fails: one notice, with how it ended, the log's last line and the action.
  bootstrap("com.example.failing");
  std::vector<nlohmann::json> seen;
  ASSERT_TRUE(eventually(
      [&] {
        seen = notices();
        return !seen.empty();
      },
      seconds(20)))
      << "a notice comes";
  EXPECT_EQ(seen[0], nlohmann::json({"com.example.failing failed: exited 3",
                                     "backup: disk full",
                                     {"default-action", "Show Log"}}));
  EXPECT_EQ(display.dunstctl({"count", "displayed"}).standardOutput, "1\n");

  // Chosen on the notice, the action shows the error log as the desktop shows text files, and
  // the notice goes: dunst keeps it in its history as it showed it.
  EXPECT_EQ(display.dunstctl({"action", "0"}).status, 0);
  EXPECT_TRUE(eventually(
      [&] {
        return readRegularFile(shown).value_or("") ==
               errorLog("com.example.failing").string() + "\n";
      },
      seconds(20)))
      << readRegularFile(shown).value_or("nothing shown");
  nlohmann::json history;
  ASSERT_TRUE(eventually(
      [&] {
        history =
            nlohmann::json::parse(display.dunstctl({"history"}).standardOutput, nullptr, false);
        return history.is_object() && history["data"][0].size() == 1;
      },
      seconds(20)))
      << history.dump();
  EXPECT_EQ(display.dunstctl({"count", "displayed"}).standardOutput, "0\n");
  EXPECT_EQ(history["data"][0][0]["summary"]["data"], "com.example.failing failed: exited 3");
  EXPECT_EQ(history["data"][0][0]["body"]["data"], "backup: disk full");
  EXPECT_EQ(history["data"][0][0]["appname"]["data"], "Morvane");

  // A job failing in a restart loop, once a second: one notice for the first failure, none
  // for the next ones within the minute; the first agent's run gave no second one meanwhile,
  // though the runs' folder changed at each start and end.
  bootstrap("com.example.looping");
  auto failedRuns = [&] {
    const Runs runs = recordedRuns("com.example.looping");
    return std::count_if(runs.begin(), runs.end(),
                         [](const morvane::Run& run) { return run.failed(); });
  };
  ASSERT_TRUE(eventually([&] { return failedRuns() >= 4; }, seconds(30)))
      << failedRuns() << " failed runs";
  std::this_thread::sleep_for(std::chrono::seconds(1));  // as long as a notice may take
  EXPECT_EQ(noticesOf("com.example.looping"), 1u) << nlohmann::json(notices()).dump();
  EXPECT_EQ(noticesOf("com.example.failing"), 1u) << nlohmann::json(notices()).dump();
  EXPECT_EQ(notices().back(), nlohmann::json({"com.example.looping failed: exited 4",
                                              "bind: address in use",
                                              {"default-action", "Show Log"}}));
  bootout("com.example.looping");
  stop();

  // In Chinese, once the agent fails again.
  ASSERT_FALSE(start(display, "zh").empty());
  const size_t before = notices().size();
  bootout("com.example.failing");
  bootstrap("com.example.failing");
  ASSERT_TRUE(eventually([&] { return notices().size() > before; }, seconds(20)))
      << "a notice comes";
  EXPECT_EQ(notices().back(), nlohmann::json({"「com.example.failing」运行失败：退出码 3",
                                              "backup: disk full",
                                              {"default-action", "显示日志"}}));
  stop();

  // With Notify on Failure off, a failing run gives none.
  testing::writeFile(dir_ / "data/settings.json", R"({"notifyOnFailure": false})");
  ASSERT_FALSE(start(display, "en").empty());
  const size_t quiet = notices().size();
  const size_t runs = recordedRuns("com.example.failing").size();
  bootout("com.example.failing");
  bootstrap("com.example.failing");
  ASSERT_TRUE(eventually(
      [&] {
        const Runs now = recordedRuns("com.example.failing");
        return now.size() > runs && now.back().failed();
      },
      seconds(20)));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // as long as a notice may take
  EXPECT_EQ(notices().size(), quiet) << nlohmann::json(notices()).dump();
}

TEST_F(Desktop, OnTheSystemdEngineAFailingRunGivesItsNoticeToo) {
  auto manager = testing::UserManagerSandbox::start({dir_.path(), false});
  if (!manager)
    GTEST_SKIP() << manager.error();
  VirtualDisplay& display = show(VirtualDisplay::Tray::light);
  ASSERT_TRUE(display.ok()) << display.problem();
  if (!display.startNotificationServer())
    GTEST_SKIP() << display.problem();
  if (Shell::run(kPython, {"-c", "import dbus, gi"}, 30).status != 0)
    GTEST_SKIP() << "python3 with python3-dbus and python3-gi is missing: scripts/install-deps "
                    "test installs them";
  std::vector<std::unique_ptr<testing::ScopedEnv>> systemd;
  for (const auto& [name, value] : (*manager)->environment())
    systemd.push_back(std::make_unique<testing::ScopedEnv>(name, value));
  systemd.push_back(std::make_unique<testing::ScopedEnv>("MORVANE_JOB_ENGINE", "systemd"));
  writeFailingAgent("com.example.failing", "backup: disk full", 3, false);
  testing::writeFile(dir_ / "Library/LaunchAgents/com.example.missing.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key>"
                     "<string>com.example.missing</string><key>Program</key>"
                     "<string>/nonexistent/program</string><key>RunAtLoad</key><true/>"
                     "</dict></plist>");
  watchNotices(display);
  ASSERT_FALSE(start(display, "en").empty());

  // The manager runs the job; its unit's hooks replace the run record the application watches.
  bootstrap("com.example.failing");
  ASSERT_TRUE(eventually([&] { return noticesOf("com.example.failing") == 1; }, seconds(20)))
      << nlohmann::json(notices()).dump();
  EXPECT_EQ(notices().back(), nlohmann::json({"com.example.failing failed: exited 3",
                                              "backup: disk full",
                                              {"default-action", "Show Log"}}));
  // A program the manager could not start ends as it does on the built-in engine.
  bootstrap("com.example.missing");
  ASSERT_TRUE(eventually([&] { return noticesOf("com.example.missing") == 1; }, seconds(20)))
      << nlohmann::json(notices()).dump();
  EXPECT_EQ(notices().back()[0], "com.example.missing failed: exited 78");
  stop();
}

}  // namespace
}  // namespace morvane
