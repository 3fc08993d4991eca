#include "virtual_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace morvane::testing {
namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kTrayer = "/usr/bin/trayer";
constexpr const char* kXdotool = "/usr/bin/xdotool";
constexpr const char* kImport = "/usr/bin/import";
constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kTesseract = "/usr/bin/tesseract";
constexpr const char* kPanel = "/usr/bin/xfce4-panel";
constexpr const char* kBus = "/usr/bin/dbus-daemon";
constexpr const char* kUnshare = "/usr/bin/unshare";
constexpr const char* kWeston = "/usr/bin/weston";
constexpr const char* kDunst = "/usr/bin/dunst";
constexpr const char* kDunstctl = "/usr/bin/dunstctl";
constexpr const char* kDbusSend = "/usr/bin/dbus-send";

/// dunst's settings: notices at the top right, below a 24-pixel tray, staying until closed.
constexpr const char* kDunstSettings = R"([global]
    origin = top-right
    offset = 10x30
    width = 320
    font = DejaVu Sans 10
    frame_width = 2
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
)";

/// Starts `arguments` with `environment` and its output on the null device, keeping the
/// descriptor `keep` open in the child; everything is prepared before the fork.
pid_t spawn(std::vector<std::string> arguments, std::vector<std::string> environment,
            int keep = -1) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& variable : environment)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (keep >= 0)
      ::fcntl(keep, F_SETFD, 0);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

/// This process's environment with `variables` set in it.
std::vector<std::string> environmentWith(const std::vector<std::string>& variables) {
  std::vector<std::string> environment = variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    bool replaced = false;
    for (const std::string& variable : variables)
      replaced |= text.starts_with(variable.substr(0, variable.find('=') + 1));
    if (!replaced)
      environment.push_back(text);
  }
  return environment;
}

void endChild(pid_t pid, int signal = SIGTERM) {
  if (pid <= 0)
    return;
  ::kill(pid, signal);
  ::waitpid(pid, nullptr, 0);
}

bool waitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

/// The xfce4-panel configuration: one dark panel, 28 pixels high along the top, holding only
/// its tray.
constexpr const char* kPanelConfiguration = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="true"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

/// Runs the panel's session in a process namespace of its own: when it ends, so does every
/// process the panel and its bus started, and nothing is left for this machine's first process,
/// which reaps nothing.
constexpr const char* kPanelSession = R"SH(
dbus-daemon --session --nofork --print-address=3 3>"$SESSION/bus.part" &
while [ ! -s "$SESSION/bus.part" ]; do sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$SESSION/bus.part")"
"$(dpkg -L xfconf | grep '/xfconfd$')" &
xfce4-panel &
echo "$DBUS_SESSION_BUS_ADDRESS" >"$SESSION/bus"
wait
)SH";

/// Reads one line a child writes to the pipe `from`, which the parent closes.
std::string lineFrom(int from) {
  std::string line;
  char c = 0;
  while (::read(from, &c, 1) == 1 && c != '\n')
    line += c;
  ::close(from);
  return line;
}

}  // namespace

int Picture::grey(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height)
    return 0;
  const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
  return (rgb[at] * 11 + rgb[at + 1] * 16 + rgb[at + 2] * 5) / 32;
}

int Picture::standingOut(const Area& area, int level, int by) const {
  int count = 0;
  for (int y = std::max(0, area.y); y < std::min(height, area.bottom()); ++y)
    for (int x = std::max(0, area.x); x < std::min(width, area.right()); ++x)
      count += std::abs(grey(x, y) - level) >= by;
  return count;
}

Area Picture::bounds(const Area& area, int level, int by) const {
  int left = width, top = height, right = -1, bottom = -1;
  for (int y = std::max(0, area.y); y < std::min(height, area.bottom()); ++y)
    for (int x = std::max(0, area.x); x < std::min(width, area.right()); ++x)
      if (std::abs(grey(x, y) - level) >= by) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0)
    return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

VirtualDisplay::VirtualDisplay(Tray tray) : kind_(tray) {
  if (tray == Tray::wayland) {
    startWeston();
    return;
  }
  std::vector<const char*> tools{kXvfb, kXdotool, kImport, kConvert, kTesseract};
  if (tray == Tray::xfce)
    tools.insert(tools.end(), {kPanel, kBus, kUnshare});
  else
    tools.push_back(kTrayer);
  for (const char* tool : tools)
    if (!std::filesystem::exists(tool)) {
      problem_ = std::string(tool) + " is missing: scripts/install-deps test installs it";
      return;
    }
  // Xvfb picks a free display itself and writes its number once it accepts clients.
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return;
  }
  server_ = spawn({kXvfb, "-displayfd", std::to_string(ready[1]), "-screen", "0", "800x400x24",
                   "-nolisten", "tcp"},
                  environmentWith({"DISPLAY="}), ready[1]);
  ::close(ready[1]);
  const std::string number = lineFrom(ready[0]);
  if (number.empty()) {
    problem_ = "Xvfb did not start";
    return;
  }
  name_ = ":" + number;
  if (tray == Tray::xfce) {
    startXfcePanel();
    return;
  }
  // Programs on this display find no session bus: they embed their icons in trayer.
  bus_ = "unix:path=" + (dir_ / "no-bus").string();
  tray_ = spawn({kTrayer, "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                 "200", "--height", "24", "--transparent", "true", "--alpha", "0", "--tint",
                 tray == Tray::dark ? "0x202020" : "0xeeeeee"},
                environmentWith({"DISPLAY=" + name_}));
  if (!waitFor([&] { return !panel().empty(); }))
    problem_ = "trayer did not show its panel";
}

void VirtualDisplay::startXfcePanel() {
  if (::geteuid() != 0) {
    problem_ = "the panel's session runs in a process namespace of its own, which needs root";
    return;
  }
  const std::filesystem::path config = dir_ / "config";
  std::filesystem::create_directories(config / "xfce4/xfconf/xfce-perchannel-xml");
  std::ofstream(config / "xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml") << kPanelConfiguration;
  tray_ = spawn(
      {kUnshare, "--pid", "--fork", "--kill-child", "/bin/sh", "-c", kPanelSession},
      environmentWith(
          {"DISPLAY=" + name_, "SESSION=" + dir_.path().string(), "HOME=" + dir_.path().string(),
           "XDG_CONFIG_HOME=" + config.string(), "XDG_CACHE_HOME=" + (dir_ / "cache").string(),
           "XDG_DATA_HOME=" + (dir_ / "data").string(), "NO_AT_BRIDGE=1", "GTK_A11Y=none"}));
  const std::filesystem::path bus = dir_ / "bus";
  if (!waitFor(
          [&] { return std::filesystem::exists(bus) && std::filesystem::file_size(bus) > 0; })) {
    problem_ = "the panel's session bus did not start";
    return;
  }
  std::ifstream(bus) >> bus_;
  // Icons go to the panel's tray once it listens for them.
  const bool listening = waitFor([&] {
    return Shell::run("/usr/bin/dbus-send",
                      {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                       "org.freedesktop.DBus.NameHasOwner", "string:org.kde.StatusNotifierWatcher"},
                      10, {{"DBUS_SESSION_BUS_ADDRESS", bus_}})
               .standardOutput.find("true") != std::string::npos;
  });
  if (!listening || !waitFor([&] { return !panel().empty(); }))
    problem_ = "xfce4-panel did not start its tray";
}

void VirtualDisplay::startWeston() {
  for (const char* tool : {kWeston, kBus})
    if (!std::filesystem::exists(tool)) {
      problem_ = std::string(tool) + " is missing: scripts/install-deps test installs it";
      return;
    }
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return;
  }
  busDaemon_ = spawn({kBus, "--session", "--nofork", "--print-address=" + std::to_string(ready[1])},
                     environmentWith({}), ready[1]);
  ::close(ready[1]);
  bus_ = lineFrom(ready[0]);
  if (bus_.empty()) {
    problem_ = "the session bus did not start";
    return;
  }
  // The compositor's socket goes into a runtime folder of its own; clients find it by its path.
  const std::filesystem::path runtime = dir_ / "runtime";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  server_ = spawn(
      {kWeston, "--backend=headless-backend.so", "--use-pixman", "--debug", "--socket=wayland-test",
       "--width=1024", "--height=700", "--idle-time=0"},
      environmentWith({"XDG_RUNTIME_DIR=" + runtime.string(), "DISPLAY=", "WAYLAND_DISPLAY="}));
  name_ = (runtime / "wayland-test").string();
  if (!waitFor([&] { return std::filesystem::exists(name_); }))
    problem_ = "weston did not start";
}

bool VirtualDisplay::startNotificationServer() {
  if (!ok())
    return false;
  if (kind_ != Tray::light && kind_ != Tray::dark) {
    problem_ = "notices are shown on a display with trayer only";
    return false;
  }
  for (const char* tool : {kDunst, kDunstctl, kBus, kDbusSend})
    if (!std::filesystem::exists(tool)) {
      problem_ = std::string(tool) + " is missing: scripts/install-deps test installs it";
      return false;
    }
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return false;
  }
  busDaemon_ = spawn({kBus, "--session", "--nofork", "--print-address=" + std::to_string(ready[1])},
                     environmentWith({}), ready[1]);
  ::close(ready[1]);
  bus_ = lineFrom(ready[0]);
  if (bus_.empty()) {
    problem_ = "the session bus did not start";
    return false;
  }
  const std::filesystem::path config = dir_ / "dunst-config";
  std::filesystem::create_directories(config / "dunst");
  std::ofstream(config / "dunst/dunstrc") << kDunstSettings;
  notifier_ = spawn(
      {kDunst},
      environmentWith({"DISPLAY=" + name_, "DBUS_SESSION_BUS_ADDRESS=" + bus_,
                       "XDG_CONFIG_HOME=" + config.string(), "HOME=" + dir_.path().string()}));
  const bool serving = waitFor([&] {
    return Shell::run(kDbusSend,
                      {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                       "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.Notifications"},
                      10, {{"DBUS_SESSION_BUS_ADDRESS", bus_}})
               .standardOutput.find("true") != std::string::npos;
  });
  if (!serving)
    problem_ = "dunst did not start serving notifications";
  return serving;
}

ShellResult VirtualDisplay::dunstctl(const std::vector<std::string>& arguments) const {
  return Shell::run(kDunstctl, arguments, 30, {{"DBUS_SESSION_BUS_ADDRESS", bus_}});
}

void VirtualDisplay::keepForLooking(const std::filesystem::path& picture) const {
  // MORVANE_TEST_PICTURES names a folder that keeps every picture taken, for a person to see.
  const char* folder = std::getenv("MORVANE_TEST_PICTURES");
  if (folder == nullptr || folder[0] == '\0')
    return;
  static int taken = 0;
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  std::filesystem::copy_file(
      picture,
      std::filesystem::path(folder) / (std::to_string(++taken) + "-" + picture.filename().string()),
      std::filesystem::copy_options::overwrite_existing, ignored);
}

VirtualDisplay::~VirtualDisplay() {
  // The panel's session ends with unshare, which ignores SIGTERM while it waits.
  endChild(tray_, kind_ == Tray::xfce ? SIGKILL : SIGTERM);
  endChild(notifier_);
  endChild(server_);
  endChild(busDaemon_);
}

std::vector<std::pair<std::string, std::optional<std::string>>> VirtualDisplay::environment()
    const {
  if (kind_ == Tray::wayland)
    return {{"WAYLAND_DISPLAY", name_},
            {"QT_QPA_PLATFORM", "wayland"},
            {"DISPLAY", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", bus_}};
  return {{"DISPLAY", name_}, {"DBUS_SESSION_BUS_ADDRESS", bus_}};
}

ShellResult VirtualDisplay::xdotool(const std::vector<std::string>& arguments) const {
  return Shell::run(kXdotool, arguments, 30, {{"DISPLAY", name_}});
}

Area VirtualDisplay::placeOf(const std::string& window) const {
  std::istringstream shell(xdotool({"getwindowgeometry", "--shell", window}).standardOutput);
  Area area;
  for (std::string line; std::getline(shell, line);) {
    const int value = std::atoi(line.c_str() + line.find('=') + 1);
    if (line.starts_with("X="))
      area.x = value;
    else if (line.starts_with("Y="))
      area.y = value;
    else if (line.starts_with("WIDTH="))
      area.width = value;
    else if (line.starts_with("HEIGHT="))
      area.height = value;
  }
  return area;
}

std::vector<Area> VirtualDisplay::visibleWindowAreas(pid_t pid) const {
  const ShellResult found = xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)});
  std::istringstream lines(found.standardOutput);
  std::vector<Area> areas;
  for (std::string window; std::getline(lines, window);) {
    if (window.empty())
      continue;
    areas.push_back(placeOf(window));
  }
  return areas;
}

size_t VirtualDisplay::visibleWindows(pid_t pid) const {
  return visibleWindowAreas(pid).size();
}

Area VirtualDisplay::panel() const {
  if (tray_ <= 0)
    return {};
  // The widest visible window of the tray's program.
  const ShellResult found = xdotool(
      {"search", "--onlyvisible", "--class", kind_ == Tray::xfce ? "xfce4-panel" : "trayer"});
  std::istringstream windows(found.standardOutput);
  Area widest;
  for (std::string window; std::getline(windows, window);) {
    const Area area = placeOf(window);
    if (area.width > widest.width)
      widest = area;
  }
  return widest;
}

Picture VirtualDisplay::screenshot() const {
  const std::filesystem::path file = dir_ / "screen.ppm";
  std::filesystem::remove(file);
  Shell::run(kImport, {"-window", "root", "-depth", "8", "ppm:" + file.string()}, 30,
             {{"DISPLAY", name_}});
  Picture picture;
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int maximum = 0;
  in >> magic >> picture.width >> picture.height >> maximum;
  in.get();
  if (!in || magic != "P6" || maximum != 255 || picture.width <= 0 || picture.height <= 0)
    return {};
  picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
  in.read(reinterpret_cast<char*>(picture.rgb.data()), std::streamsize(picture.rgb.size()));
  if (in.gcount() != std::streamsize(picture.rgb.size()))
    return {};
  keepForLooking(file);
  return picture;
}

std::string VirtualDisplay::read(const Area& area, const std::string& language) const {
  const Picture picture = screenshot();
  if (picture.rgb.empty() || area.empty())
    return "";
  // Dark text on a light ground reads best; a dark ground is turned over first.
  long sum = 0;
  for (int y = area.y; y < area.bottom(); ++y)
    for (int x = area.x; x < area.right(); ++x)
      sum += picture.grey(x, y);
  const bool dark = sum / (long(area.width) * area.height) < 128;
  const std::filesystem::path page = dir_ / "read.png";
  std::vector<std::string> convert{(dir_ / "screen.ppm").string(),
                                   "-crop",
                                   std::to_string(area.width) + "x" + std::to_string(area.height) +
                                       "+" + std::to_string(area.x) + "+" + std::to_string(area.y),
                                   "+repage",
                                   "-colorspace",
                                   "Gray",
                                   "-resize",
                                   "300%"};
  if (dark)
    convert.push_back("-negate");
  // High enough to keep the grey of disabled items, which is most of the header.
  convert.insert(convert.end(), {"-threshold", "85%", page.string()});
  Shell::run(kConvert, convert, 30);
  keepForLooking(page);
  return Shell::run(kTesseract, {page.string(), "stdout", "-l", language, "--psm", "6"}, 60)
      .standardOutput;
}

}  // namespace morvane::testing
