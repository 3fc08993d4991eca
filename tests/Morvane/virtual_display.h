#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell.h"
#include "test_support.h"

namespace morvane::testing {

/// A rectangle on the screen, in pixels.
struct Area {
  int x = 0, y = 0, width = 0, height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool empty() const { return width <= 0 || height <= 0; }
};

/// A picture of the screen: rows of red, green and blue bytes.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  /// The grey level of a pixel, 0 (black) to 255 (white); 0 outside the picture.
  int grey(int x, int y) const;
  /// The pixels of `area` whose grey level lies at least `by` away from `level`.
  int standingOut(const Area& area, int level, int by) const;
  /// The smallest area around the pixels of `area` whose grey level lies at least `by` away from
  /// `level`; empty when there are none.
  Area bounds(const Area& area, int level, int by) const;
};

/// A virtual X display (Xvfb) with a system tray on it, where the menu-bar application shows its
/// icon and menu as on a desktop. What runs on it are children of this process: they are ended
/// and reaped when it goes.
class VirtualDisplay {
 public:
  /// What shows the status icons: trayer, a small tray that embeds icon windows (XEmbed), on a
  /// light or a dark panel; or a real desktop's panel, xfce4-panel (dark, at the top, holding
  /// only its tray), whose tray speaks StatusNotifierItem over a session bus of its own. Or no
  /// X display at all: `wayland` is a headless Wayland compositor (weston, 1024 × 700) with a
  /// session bus of its own and no panel, where the tests bring their own StatusNotifierItem
  /// watcher; xdotool and the pictures do not work there.
  enum class Tray { light, dark, xfce, wayland };

  explicit VirtualDisplay(Tray tray = Tray::light);
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  /// Whether the display and its tray started; `problem()` says why not.
  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

  /// The display's name, such as ":3".
  const std::string& name() const { return name_; }

  /// Starts a desktop notification server (dunst) on this X display, and a session bus of its
  /// own for it and for the programs shown here, in place of no bus; false, with `problem()`
  /// saying why, when it cannot. Its notices show at the top right, below the tray.
  bool startNotificationServer();

  /// Runs dunstctl against that server.
  ShellResult dunstctl(const std::vector<std::string>& arguments) const;

  /// The variables a program shown on this display needs: DISPLAY (or WAYLAND_DISPLAY and
  /// Qt's platform), and the session bus.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment() const;

  /// Runs xdotool on the display.
  ShellResult xdotool(const std::vector<std::string>& arguments) const;

  /// The visible windows of process `pid`: its tray icon, and its menus while they are open.
  size_t visibleWindows(pid_t pid) const;
  /// The places of those windows.
  std::vector<Area> visibleWindowAreas(pid_t pid) const;

  /// The panel that holds the tray.
  Area panel() const;

  /// What the screen shows now.
  Picture screenshot() const;

  /// The text tesseract reads in `area` of the screen, enlarged three times and made black on
  /// white; `language` is tesseract's ("eng", "chi_sim").
  std::string read(const Area& area, const std::string& language = "eng") const;

 private:
  void startXfcePanel();
  void startWeston();
  /// Where an X window (xdotool's number for it) is on the screen.
  Area placeOf(const std::string& window) const;
  void keepForLooking(const std::filesystem::path& picture) const;

  Tray kind_;
  TempDir dir_;
  std::string name_;
  std::string bus_;
  std::string problem_;
  pid_t server_ = -1;
  pid_t tray_ = -1;
  pid_t busDaemon_ = -1;
  pid_t notifier_ = -1;
};

}  // namespace morvane::testing
