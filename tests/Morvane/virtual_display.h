#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "shell.h"

namespace morvane::testing {

/// A virtual X display (Xvfb) with a system tray (trayer) on it, where the menu-bar application
/// shows its icon and menu as on a desktop. Both programs are children of this process: they
/// are ended and reaped when it goes.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  /// Whether the display and its tray started; `problem()` says why not.
  bool ok() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

  /// The display's name, such as ":3".
  const std::string& name() const { return name_; }

  /// Runs xdotool on the display.
  ShellResult xdotool(const std::vector<std::string>& arguments) const;

  /// The visible windows of process `pid`: its tray icon, and its menus while they are open.
  size_t visibleWindows(pid_t pid) const;

 private:
  std::string name_;
  std::string problem_;
  pid_t server_ = -1;
  pid_t tray_ = -1;
};

}  // namespace morvane::testing
