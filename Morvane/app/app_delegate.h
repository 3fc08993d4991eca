#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent.h"
#include "agents.h"
#include "alerts.h"
#include "failure.h"
#include "paths.h"
#include "platform.h"
#include "settings_store.h"
#include "update_state.h"
#include "work_queue.h"

namespace morvane {

/// The menu-bar application: owns its state, the status item and its menu, keeps the agent list
/// fresh and schedules the automatic update checks.
///
/// Everything here lives on the main thread. Scans and launchctl work run on `work`, one at a
/// time, and post their results back to the main thread in order. The menu is rebuilt from
/// scratch whenever shown state changes while it is open.
class AppDelegate : public QObject {
 public:
  using UpdateState = morvane::UpdateState;

  /// `bundle` is the application's bundle (tests give a made-up one); `alerts` shows warnings.
  explicit AppDelegate(platform::Bundle bundle = platform::mainBundle(),
                       std::unique_ptr<Alerts> alerts = std::make_unique<ModalAlerts>());
  ~AppDelegate() override;

  /// Start-up: the single-instance guard, settings and language, the status item with its
  /// menu, the first scan and the update timers.
  void applicationDidFinishLaunching();

  /// The menu opened: rebuild at once from the agents already known, then rescan.
  void menuWillOpen();
  /// The menu closed.
  void menuDidClose();

  /// Rescans the agents on `work`; the open menu is rebuilt when the list changed.
  void refresh();
  /// Keeps a scan's agents and what it could not know; true when either changed.
  bool takeScan(Agents::ScannedAgents scanned);
  /// The status item's image, tooltip and accessible text, in the current language.
  void updateIcon();

  // The menu.
  void rebuildMenu();
  QAction* agentItem(const Agent& agent);
  QAction* languageItem(const std::optional<std::string>& current);

  // Agent toggling.
  /// Loads or unloads an agent in the background, with progress and result in the menu.
  void setLoaded(const Agent& agent, bool load);
  /// Runs `operation` on `work`, then rescans and shows the result; main thread only.
  void perform(std::string progress, std::vector<std::string> labels,
               std::optional<std::string> success, std::function<Outcome()> operation);

  // The update flow.
  /// Checks for a newer release and downloads it in the background, unless a check, a
  /// download or a staged update is there already; an automatic check only when the settings
  /// allow it. Progress shows in the update item; a manual check's failure in an alert.
  void checkForUpdate(bool manual);
  /// The menu item for the current update state.
  QAction* updateItem();
  /// Hands the staged update to the installer and quits, so that the installer can swap it in.
  void installUpdate(const Staged& staged);

  /// The settings store, created (loading or writing settings.json) on first use.
  SettingsStore& settings();

  /// The bundle the application runs from.
  const platform::Bundle& bundle() const { return bundle_; }

  // The state. Main thread only.
  const Paths paths;
  WorkQueue work;
  std::unique_ptr<QSystemTrayIcon> statusItem;
  QMenu menu;
  /// The latest scan, in the order it came.
  std::vector<Agent> agents;
  /// Why the latest scan could not know the agents or their loaded state; the menu then says so
  /// in place of the rows, whose switches would show "not loaded" whether or not it is true.
  std::optional<std::string> agentsUnknown;
  bool menuOpen = false;
  /// Agent operations started and not yet completed.
  int64_t running = 0;
  /// The progress text of the latest agent operation, shown while `running` is above 0.
  std::optional<std::string> busy;
  /// The last result line, shown when nothing is busy.
  std::optional<std::string> note;
  /// For each agent with an operation in flight, the loaded state asked for.
  std::map<std::string, bool> pending;
  UpdateState updateState = UpdateStates::Idle{};
  const std::string currentVersion;

 private:
  /// Fills the menu; rebuildMenu() wraps it.
  void buildMenuItems();
  /// Closes the menu and shows a warning; returns once it is dismissed.
  void presentWarning(const std::string& message, const std::string& informative);
  void scheduleUpdateChecks();
  /// Takes over the end of a background check: its note, its state, and for a manual check
  /// its failure.
  void finishUpdateCheck(UpdateState state, std::optional<std::string> newNote,
                         std::optional<std::string> error, bool manual);
  /// Shows the menu below the status item.
  void popUpMenu();
  /// The name an agent is shown by: its friendly name when it has one, else its label.
  std::string displayName(const std::string& label);

  platform::Bundle bundle_;
  std::unique_ptr<Alerts> alerts_;
  std::unique_ptr<SettingsStore> settings_;
  /// True while an open menu is placed again after a rebuild: that is no new opening.
  bool replacingMenu_ = false;
};

/// Starts the menu-bar application and runs it until it quits; gives the exit status.
int runMenuBarApp(int argc, char** argv);

}  // namespace morvane
