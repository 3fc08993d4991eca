#pragma once

#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "agent.h"
#include "agent_diagnosis.h"
#include "agent_list_item.h"
#include "agents.h"
#include "alerts.h"
#include "desktop_notices.h"
#include "failed_exits.h"
#include "failure.h"
#include "failure_notices.h"
#include "instance_lock.h"
#include "native_menu.h"
#include "new_agent_window.h"
#include "paths.h"
#include "platform.h"
#include "run_end_watch.h"
#include "schedule_files.h"
#include "schedule_window.h"
#include "settings_store.h"
#include "status_item.h"
#include "switch_row_item.h"
#include "update_state.h"
#include "work_queue.h"

namespace morvane {

/// The menu-bar application: owns its state, the status item and its menu, keeps the agent list
/// fresh and schedules the automatic update checks.
///
/// Everything here lives on the main thread. Scans and launchctl work run on `work`, one at a
/// time, and post their results back to the main thread in order. The menu is rebuilt from
/// scratch whenever shown state changes while it is open; its agent rows are a list that makes
/// widgets only for the rows it shows.
class AppDelegate : public QObject {
 public:
  using UpdateState = morvane::UpdateState;

  /// `bundle` is the application's bundle (tests give a made-up one); `alerts` shows warnings.
  explicit AppDelegate(platform::Bundle bundle = platform::mainBundle(),
                       std::unique_ptr<Alerts> alerts = std::make_unique<ModalAlerts>());
  ~AppDelegate() override;

  /// Start-up: the single-instance guard, settings and language, the status item with its
  /// menu, the first scan and the update timers. A copy started while another copy of the same
  /// user and data directory runs says so in one line and quits.
  void applicationDidFinishLaunching();

  /// Shows the menu below the status item (above it on a panel at the bottom), as a click on
  /// the item does, never taller than the space the panels leave.
  void popUpMenu();
  /// The menu opened: rebuild at once from the agents already known, then rescan.
  void menuWillOpen();
  /// The menu closed.
  void menuDidClose();

  /// Rescans the agents on `work`; the open menu is rebuilt when the list changed.
  void refresh();
  /// What one scan found: the agents, how the failed ones ended, which files have errors and
  /// the agents' schedules.
  struct AgentScan {
    Agents::ScannedAgents scanned;
    FailedExits failed;
    AgentDiagnoses invalid{};
    std::unordered_map<std::string, Schedule> schedules{};
  };
  /// Keeps a scan's agents, how the failed ones ended, which files have errors, their schedules
  /// and what it could not know; true when any of them changed.
  bool takeScan(AgentScan scan);
  /// The status item's image, tooltip and accessible text, in the current language.
  void updateIcon();

  /// Shown state changed: the open menu is rebuilt, and the menu a panel draws is told.
  void showChanges();
  /// Tells the menu a panel draws, and Morvane's own popup of it, that shown state changed.
  void nativeMenuChanged();

  // The menu.
  void rebuildMenu();
  /// What an agent's row shows: its name, detail and switch.
  AgentList::Row agentRow(const Agent& agent);
  /// What hovering an agent's row shows: its property list's path, and more when it is disabled
  /// or failed.
  QString agentToolTip(const Agent& agent);
  /// The agents' rows in the menu; null when the menu shows none.
  AgentList* agentList() const;
  QAction* languageItem(const std::optional<std::string>& current);
  /// Stores the language preference and switches the texts to it.
  void chooseLanguage(const std::optional<std::string>& preference);
  /// Writes or removes the login item for the application at `appPath`; a failure in an alert.
  void setLaunchAtLogin(bool on, const std::string& appPath);
  /// Shows the user's launch-agents folder in the file manager; a failure in an alert.
  void openAgentsFolder();

  /// The menu for panels that draw their items' menus themselves: the same items and texts,
  /// plain, with the agents in submenus when there are many.
  NativeMenuItem nativeMenu();
  /// Opens that menu as Morvane's own popup: where a click cannot place the rich menu beside
  /// the icon (Wayland) and the panel did not draw the menu itself.
  void popUpNativeMenu(const QPoint& at);
  /// The popup opened last; null when there is none.
  QMenu* nativePopup() const { return nativePopup_; }
  /// Makes that popup, while it is open, show the state as it is now.
  void updateNativePopup();

  /// Above this many agents, a search field heads their rows.
  static constexpr size_t kUnfilteredAgents = 12;
  /// Narrows the agent rows to those whose label or friendly name holds `text`, ignoring case
  /// and equivalent spellings; the field shows it.
  void setFilter(const std::string& text);

  // Per-agent actions.
  /// The actions on one agent: show its log, reveal its file, edit it, copy its label.
  QMenu* actionsMenu(const Agent& agent);
  /// Adds the heading of the last runs of the loaded agent `label` and a line saying they are
  /// being read, as lines that cannot be chosen; the runs are read on `work`, and the line is
  /// replaced by them, newest first, or by why they could not be read.
  void addRecentRuns(QMenu& actions, const std::string& label);
  /// Puts the lines of `runs` in place of `placeholder`, the line saying they are being read, in
  /// its menu; nothing when the line is gone with its menu.
  static void showRecentRuns(QAction* placeholder, const Result<Runs>& runs);
  /// The actions menu last opened; null when there is none.
  QMenu* agentActions() const { return actions_; }
  /// Opens the actions on an agent at a screen position; from the keyboard, the first is chosen.
  void showActions(const Agent& agent, const QPoint& at, bool byKeyboard);

  // Notices on failing runs.
  /// Stores whether failing runs get a notice.
  void setNotifyOnFailure(bool on);
  /// Starts watching the runs of the agents; the runs that ended before give no notice.
  void watchRuns();
  /// Reads the run records that changed and shows a notice for each new failing run (unless
  /// notices are off); with `baseline`, only notes where each job stands.
  void runsChanged(bool baseline = false);
  /// Shows the notice that a run of `label` failed: how it ended, the last line of its error log
  /// and an action that opens the log; the tray's own message where no notification service
  /// answers.
  void notifyFailure(const std::string& label, const Run& run);
  /// The run watch; null before start-up.
  RunEndWatch* runEndWatch() const { return runEnds_.get(); }

  // New agents.
  /// Opens the new-agent window, or brings it to the front when it is open.
  void showNewAgentWindow();
  /// The open new-agent window; null when there is none.
  NewAgentWindow* newAgentWindow() const { return newAgentWindow_; }
  /// Writes the agent's property list in the background and loads it when asked; progress and
  /// result in the menu, a failure in an alert.
  void createAgent(const NewAgent& agent, bool loadNow);

  // Schedules.
  /// Opens the window that changes an agent's schedule, filled in from its property list.
  void showScheduleWindow(const Agent& agent);
  /// The open schedule window; null when there is none.
  ScheduleWindow* scheduleWindow() const { return scheduleWindow_; }
  /// Rewrites the agent's schedule in the background, reloading it when loaded; the result in
  /// the menu's note line, a failure in an alert.
  void changeSchedule(const Agent& agent, const TimedStart& start);

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
  /// The update item's title, and what choosing it does (nothing while a check runs).
  std::pair<std::string, std::function<void()>> updateChoice();
  /// Hands the staged update to the installer and quits, so that the installer can swap it in.
  void installUpdate(const Staged& staged);

  /// The settings store, created (loading or writing settings.json) on first use.
  SettingsStore& settings();

  /// The bundle the application runs from.
  const platform::Bundle& bundle() const { return bundle_; }

  // The state. Main thread only.
  const Paths paths;
  WorkQueue work;
  std::unique_ptr<StatusItem> statusItem;
  QMenu menu;
  /// The latest scan, in the order it came.
  std::vector<Agent> agents;
  /// Why the latest scan could not know the agents or their loaded state; the menu then says so
  /// in place of the rows, whose switches would show "not loaded" whether or not it is true.
  std::optional<std::string> agentsUnknown;
  /// The agents of the latest scan that are loaded, not running, and last exited badly.
  FailedExits failures;
  /// The agents of the latest scan whose files have an error, by path.
  AgentDiagnoses invalidAgents;
  /// The schedule of each agent of the latest scan, by label.
  std::unordered_map<std::string, Schedule> schedules;
  bool menuOpen = false;
  /// Agent operations started and not yet completed.
  int64_t running = 0;
  /// The progress text of the latest agent operation, shown while `running` is above 0.
  std::optional<std::string> busy;
  /// The last result line, shown when nothing is busy.
  std::optional<std::string> note;
  /// For each agent with an operation in flight, the loaded state asked for.
  std::map<std::string, bool> pending;
  /// What the agent rows are narrowed to; emptied when the menu closes.
  std::string filter;
  UpdateState updateState = UpdateStates::Idle{};
  const std::string currentVersion;

 protected:
  /// The open menu's keys: Escape for the filter; Return, the Right arrow and the menu key for
  /// the chosen row.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// Takes the lock that makes this the only running copy; false, after saying so, when another
  /// copy holds it. Without a lock file to take, the copy runs and says why.
  bool becomeTheOnlyInstance();

  /// One agent row as the filter sees it, in the order of the rows; the keys are made on first
  /// use.
  struct FilterRow {
    std::string label;
    std::string labelKey;
    std::string nameKey;
  };

  /// Fills the menu; rebuildMenu() wraps it.
  void buildMenuItems();
  /// Makes a change to the menu's items; an open menu is laid out once afterwards, in place.
  void changeOpenMenu(const std::function<void()>& change);
  /// The search field, holding `filter`.
  QAction* searchItem();
  /// Lets the filter show or hide an agent's row.
  void addFilteredRow(const Agent& agent);
  /// The list of agent rows, holding one row per agent in `agents`.
  AgentListItem* agentListItem(int heightLimit);
  /// The agent a row of the list shows; null when it is gone.
  const Agent* listedAgent(size_t index) const;
  /// Makes the agent rows as high as the rest of the menu leaves room for on the screen.
  void fitAgentRows();
  /// Shows the rows that match `filter`, and the no-match line when none does.
  void applyFilter();
  /// Draws the row of the menu's chosen item highlighted, and no other.
  void highlightRow(QAction* chosen);
  /// The keys that move through the agent rows, flip the chosen one or open its actions; true
  /// when the key was taken. `fromFilter` when the search field has the keyboard.
  bool agentRowsKey(const QKeyEvent& key, bool fromFilter);
  /// Shows a warning titled `title` when the desktop could not do what was asked.
  platform::DesktopDone warnOnFailure(std::string title);
  /// Closes the menu and shows a warning; returns once it is dismissed.
  void presentWarning(const std::string& message, const std::string& informative);
  void scheduleUpdateChecks();
  /// Takes over the end of a background check: its note, its state, and for a manual check
  /// its failure.
  void finishUpdateCheck(UpdateState state, std::optional<std::string> newNote,
                         std::optional<std::string> error, bool manual);
  /// Puts the open menu where it opened, as it is now high, within the work area.
  void placeMenu();
  /// Moves the menu off the panels, where it fits between them.
  void keepMenuWithinWorkArea();
  /// Scans the user's agents, reads how the failed ones ended, diagnoses their files and reads
  /// their schedules through `files`; any thread, one at a time.
  static AgentScan scanAgents(ScheduleFiles& files);
  /// The row detail's next start of an agent (see NextRuns::shortText); null when it has none
  /// or is not waiting.
  const std::string* nextRunDetail(const Agent& agent);
  /// The tooltip's lines on an agent's schedule; empty without one.
  QString scheduleToolTip(const Agent& agent);
  /// The name an agent is shown by: its friendly name when it has one, else its label (the
  /// one given, which must outlive the use of the answer).
  const std::string& displayName(const std::string& label);

  platform::Bundle bundle_;
  std::unique_ptr<Alerts> alerts_;
  std::unique_ptr<SettingsStore> settings_;
  /// Held for the whole run: no other copy starts meanwhile.
  std::optional<InstanceLock> instanceLock_;
  /// True while an open menu is placed again after a rebuild: that is no new opening.
  bool replacingMenu_ = false;
  std::vector<FilterRow> filterRows_;
  /// The schedules read so far; used on `work` only, which holds it while a scan runs, as the
  /// queue's last task may outlive this object's other members.
  std::shared_ptr<ScheduleFiles> scheduleFiles_ = std::make_shared<ScheduleFiles>();
  /// Next starts shown in the rows; main thread only.
  NextRuns nextRuns_;
  /// The schedule lines of the rows' tooltips by label, with the schedule and the language they
  /// were written for: the rows in view ask for them again at every rebuild and scroll.
  struct ScheduleLines {
    Schedule schedule;
    Language::Value language = Language::english;
    QString text;
  };
  std::unordered_map<std::string, ScheduleLines> scheduleLines_;
  QPointer<AgentListItem> agentRows_;
  /// The height the agent rows were last given.
  int agentRowsLimit_ = AgentList::kRowHeight;
  /// Where the menu was asked to open, and the part of the screen the panels leave free there;
  /// invalid until it first opens from the status item.
  QPoint anchor_;
  QRect workArea_;
  /// The item the menu had chosen before the current one.
  QPointer<QAction> previousChoice_;
  QPointer<QAction> noMatch_;
  QPointer<QLineEdit> searchField_;
  QPointer<QMenu> actions_;
  QPointer<SwitchRowItem> highlighted_;
  QPointer<NewAgentWindow> newAgentWindow_;
  QPointer<ScheduleWindow> scheduleWindow_;
  QPointer<QMenu> nativePopup_;
  std::unique_ptr<RunEndWatch> runEnds_;
  std::unique_ptr<DesktopNotices> notices_;
  FailureNotices failureNotices_;
  /// When each run record was last read, by file name.
  std::map<std::string, std::filesystem::file_time_type> runRecordTimes_;
};

/// Starts the menu-bar application and runs it until it quits; gives the exit status.
int runMenuBarApp(int argc, char** argv);

}  // namespace morvane
