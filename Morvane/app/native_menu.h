#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent.h"

namespace morvane {

/// A menu as a desktop's panel draws it for a status item: plain items with check or radio
/// marks, separators and submenus, nothing drawn by Morvane. Built from the controller's state
/// (AppDelegate::nativeMenu) and handed to the panel by the status item.
struct NativeMenuItem {
  enum class Toggle { none, check, radio };

  /// What the item stands for, the same from one build to the next ("agent:<label>", "quit"):
  /// the panel refers to items by numbers given out for these keys, so a click on an item of an
  /// older build still means the same thing, or nothing when it is gone.
  std::string key;
  bool separator = false;
  /// Plain text, shown as it is.
  std::string label;
  bool enabled = true;
  Toggle toggle = Toggle::none;
  bool on = false;
  /// What choosing the item does; absent for items that only inform.
  std::function<void()> choose;
  std::vector<NativeMenuItem> children;

  /// Items are alike when they show the same; what choosing them does is not compared.
  bool looksLike(const NativeMenuItem& other) const;
};

namespace NativeMenu {

/// Above this many agents their items go into submenus.
inline constexpr size_t kAgentsInline = 12;
/// The most agent items one submenu holds.
inline constexpr size_t kAgentsPerSubmenu = 20;

/// One agent's place in the menu: its item and what it is sorted by.
struct AgentEntry {
  NativeMenuItem item;
  std::string name;
  bool loaded = false;
};

/// The agents' items as the menu holds them: all of them in list order when there are at most
/// kAgentsInline; otherwise in submenus of at most kAgentsPerSubmenu, the loaded agents first
/// and then the others, each part by name, with each submenu titled by the part and the first
/// and last names it holds, so that a panel's menu never grows taller than the screen.
std::vector<NativeMenuItem> agentItems(std::vector<AgentEntry> agents);

}  // namespace NativeMenu
}  // namespace morvane
