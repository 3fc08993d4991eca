// The status menu with up to 10,000 agents. Opening it, from the click to its window being
// mapped, beside the same menu made the way it was before its rows scrolled: one row widget per
// agent (BM_OpenMenuOneWidgetPerRow); opening and rebuilding it with every agent scheduled,
// beside the same rows without schedules. Rebuilding it, alone and with the layout of its items;
// and typing into the filter of the open menu, one keystroke per iteration. Runs offscreen, or
// on the X display named by DISPLAY with QT_QPA_PLATFORM=xcb.
#include <benchmark/benchmark.h>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define MORVANE_CALLGRIND 1
#endif
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QProxyStyle>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <unordered_map>

#include "action_item.h"
#include "app_delegate.h"
#include "search_item.h"
#include "switch_row_item.h"

namespace {

using morvane::ActionItem;
using morvane::Agent;
using morvane::AppDelegate;
using morvane::SearchItem;

class QuietAlerts : public morvane::Alerts {
 public:
  void warn(const std::string&, const std::string&) override {}
};

std::unique_ptr<AppDelegate> delegateWithAgents(int count) {
  morvane::platform::Bundle bundle;
  bundle.path = "/Applications/Morvane.app";
  auto delegate = std::make_unique<AppDelegate>(bundle, std::make_unique<QuietAlerts>());
  for (int i = 0; i < count; ++i) {
    const std::string label = "com.bench.agent-" + std::to_string(i);
    delegate->agents.push_back(
        Agent{label + ".plist", "/Users/me/Library/LaunchAgents/" + label, label, i % 3 == 0,
              i % 3 == 0 ? std::optional<int64_t>(10000 + i) : std::nullopt, i % 7 == 0});
  }
  delegate->note = "com.bench.agent-1 loaded";
  return delegate;
}

/// The agents as none of them were running, with no change to their rows but the pid.
void stopEveryAgent(AppDelegate& delegate) {
  for (Agent& agent : delegate.agents)
    agent.pid.reset();
}

/// Every agent scheduled, none running: the loaded ones wait for a calendar start ("next 09:00"
/// in their rows, or a date), the others start every few minutes, at load or kept alive.
void scheduleEveryAgent(AppDelegate& delegate) {
  stopEveryAgent(delegate);
  int i = 0;
  for (const Agent& agent : delegate.agents) {
    morvane::Schedule schedule;
    if (i % 3 == 0)
      schedule.calendar = {{.minute = i % 60, .hour = i % 24}, {.minute = 0, .weekday = i % 7}};
    else if (i % 3 == 1)
      schedule.calendar = {{.minute = 30, .hour = 3, .day = 1 + i % 31}};
    else
      schedule = {.startInterval = 60 * (1 + i % 50), .runAtLoad = true, .keepAlive = i % 2 == 0};
    delegate.schedules[agent.label] = schedule;
    ++i;
  }
}

void BM_RebuildMenu(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    delegate->rebuildMenu();
    // The next turn of the event loop: the previous build's items are released.
    QCoreApplication::sendPostedEvents();
  }
  state.SetLabel(std::to_string(delegate->menu.actions().size()) + " items");
}
BENCHMARK(BM_RebuildMenu)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

/// Holds the delegate's work queue while it lives, so that the scan an opening starts cannot
/// come back and change the agents in the middle of a measurement; once it goes, the scan has
/// come back and the agents and their schedules are as they were.
class HeldScans {
 public:
  explicit HeldScans(AppDelegate& delegate)
      : delegate_(delegate), agents_(delegate.agents), schedules_(delegate.schedules) {
    delegate_.work.submit([gate = gate_.get_future().share()] { gate.wait(); });
  }
  ~HeldScans() {
    gate_.set_value();
    auto done = std::make_shared<std::atomic<bool>>(false);
    delegate_.work.submit([done] { *done = true; });
    while (!*done)
      QThread::msleep(1);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delegate_.agents = agents_;
    delegate_.schedules = schedules_;
    delegate_.agentsUnknown.reset();
  }

 private:
  AppDelegate& delegate_;
  std::vector<Agent> agents_;
  std::unordered_map<std::string, morvane::Schedule> schedules_;
  std::promise<void> gate_;
};

/// Shows `menu` through `open` and gives the time until its window is mapped.
template <class Open>
double secondsUntilMapped(QMenu& menu, Open open) {
  const auto start = std::chrono::steady_clock::now();
  open();
  while (menu.windowHandle() == nullptr || !menu.windowHandle()->isExposed())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A click on the status item: the menu is built from the known agents and shown, and its agent
// rows make widgets only for the rows in view.
void BM_OpenMenu(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    HeldScans held(*delegate);
    state.SetIterationTime(secondsUntilMapped(delegate->menu, [&] { delegate->popUpMenu(); }));
    delegate->menu.hide();
  }
  state.SetLabel(std::to_string(delegate->menu.width()) + "x" +
                 std::to_string(delegate->menu.height()));
}
BENCHMARK(BM_OpenMenu)
    ->Arg(10)
    ->Arg(200)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

/// Under callgrind (bench/menu_open_instructions.sh), counts the instructions from here to
/// stopCounting() alone, into a profile of their own.
void startCounting() {
#ifdef MORVANE_CALLGRIND
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
#endif
}
void stopCounting() {
#ifdef MORVANE_CALLGRIND
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS;
#endif
}

/// The CPU time this thread has used, in seconds.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// BM_OpenMenu with every agent scheduled (see scheduleEveryAgent), and its reference: the same
// rows, not running, without schedules. Compare the two at 1000 of the same run. Beside the wall
// time, "open_cpu_ms" is the CPU time of the opening itself, on this thread: on a shared
// machine it varies far less.
void openMenuRepeatedly(benchmark::State& state, AppDelegate& delegate) {
  double cpu = 0;
  for (auto _ : state) {
    HeldScans held(delegate);
    const double cpuBefore = threadCpuSeconds();
    startCounting();
    state.SetIterationTime(secondsUntilMapped(delegate.menu, [&] { delegate.popUpMenu(); }));
    stopCounting();
    cpu += threadCpuSeconds() - cpuBefore;
    delegate.menu.hide();
  }
  state.counters["open_cpu_ms"] = benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}
void BM_OpenMenuWithSchedules(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  scheduleEveryAgent(*delegate);
  openMenuRepeatedly(state, *delegate);
}
BENCHMARK(BM_OpenMenuWithSchedules)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
void BM_OpenMenuNotRunning(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  stopEveryAgent(*delegate);
  openMenuRepeatedly(state, *delegate);
}
BENCHMARK(BM_OpenMenuNotRunning)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

/// A menu taller than the screen scrolls, as the status menu did before its rows scrolled.
class ScrollingMenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    return hint == QStyle::SH_Menu_Scrollable
               ? 1
               : QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

/// The same menu with one row widget per agent, as it was made before: header, status line,
/// filter, every row, the no-match line and the items below.
void fillWithOneWidgetPerRow(QMenu& menu, AppDelegate& delegate) {
  for (QAction* action : menu.actions()) {
    menu.removeAction(action);
    action->deleteLater();
  }
  menu.addAction(new ActionItem("Launch Agents · 1 of 3 loaded", {}, false, &menu));
  menu.addAction(new ActionItem(QString::fromStdString(*delegate.note), {}, false, &menu));
  menu.addSeparator();
  if (delegate.agents.size() > AppDelegate::kUnfilteredAgents)
    menu.addAction(new SearchItem(
        {}, "Filter agents", [](const QString&) {}, &menu));
  for (const Agent& agent : delegate.agents) {
    const morvane::AgentList::Row row = delegate.agentRow(agent);
    morvane::SwitchRowItem::Content content;
    content.title = row.title;
    content.detail = row.detail;
    content.detailWarns = row.detailWarns;
    content.isOn = row.isOn;
    content.enabled = row.enabled;
    content.onToggle = [](bool) {};
    content.toolTip = delegate.agentToolTip(agent);
    content.onActions = [](const QPoint&, bool) {};
    menu.addAction(new morvane::SwitchRowItem(std::move(content), &menu));
  }
  auto* noMatch = new ActionItem("No agents match", {}, false, &menu);
  noMatch->setVisible(false);
  menu.addAction(noMatch);
  menu.addSeparator();
  menu.addAction(new ActionItem(
      "New Agent…", [] {}, false, &menu));
  menu.addAction(new ActionItem(
      "Open LaunchAgents in Finder", [] {}, false, &menu));
  menu.addSeparator();
  morvane::SwitchRowItem::Content login;
  login.title = "Launch at Login";
  menu.addAction(new morvane::SwitchRowItem(std::move(login), &menu));
  menu.addAction(new ActionItem(
      "Language（语言）", [] {}, false, &menu));
  menu.addSeparator();
  menu.addAction(new ActionItem(
      "Check for Updates (current 0)", [] {}, false, &menu));
  menu.addAction(new ActionItem(
      "Quit Morvane", [] {}, false, &menu));
}

// The reference for BM_OpenMenu: the same click when every agent had a row widget of its own.
void BM_OpenMenuOneWidgetPerRow(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  QMenu menu;
  ScrollingMenuStyle style;
  menu.setStyle(&style);
  for (auto _ : state) {
    state.SetIterationTime(secondsUntilMapped(menu, [&] {
      fillWithOneWidgetPerRow(menu, *delegate);
      menu.popup(QPoint(0, 0));
    }));
    menu.hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}
BENCHMARK(BM_OpenMenuOneWidgetPerRow)
    ->Arg(10)
    ->Arg(200)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenMenuOneWidgetPerRow)
    ->Arg(10000)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same build with every agent scheduled, beside the same rows without schedules
// (BM_RebuildMenuNotRunning): what describing the schedules and their next runs adds. Compare
// the two at 1000 of the same run.
void BM_RebuildMenuWithSchedules(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  scheduleEveryAgent(*delegate);
  for (auto _ : state) {
    delegate->rebuildMenu();
    QCoreApplication::sendPostedEvents();
  }
}
BENCHMARK(BM_RebuildMenuWithSchedules)->Arg(1000)->Unit(benchmark::kMillisecond);

// The reference for the one above: the same rows, not running, without schedules.
void BM_RebuildMenuNotRunning(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  stopEveryAgent(*delegate);
  for (auto _ : state) {
    delegate->rebuildMenu();
    QCoreApplication::sendPostedEvents();
  }
}
BENCHMARK(BM_RebuildMenuNotRunning)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_RebuildAndLayOutMenu(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    delegate->rebuildMenu();
    benchmark::DoNotOptimize(delegate->menu.sizeHint());
    QCoreApplication::sendPostedEvents();
  }
}
BENCHMARK(BM_RebuildAndLayOutMenu)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

/// The delegate with its menu open on screen and its agents in place.
std::unique_ptr<AppDelegate> openMenuWithAgents(int count) {
  auto delegate = delegateWithAgents(count);
  const std::vector<Agent> agents = delegate->agents;
  delegate->menu.popup(QPoint(0, 0));
  // The opening's scan (of an empty directory) comes back; the agents are put back after it.
  QThread::msleep(300);
  QCoreApplication::processEvents();
  delegate->agents = agents;
  delegate->rebuildMenu();
  QCoreApplication::processEvents();
  return delegate;
}

// The menu open on screen while it is rebuilt, as after a toggle or a scan that found a change.
void BM_RebuildOpenMenu(benchmark::State& state) {
  auto delegate = openMenuWithAgents(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    delegate->rebuildMenu();
    QCoreApplication::processEvents();
  }
  state.SetLabel(std::to_string(delegate->menu.width()) + "x" +
                 std::to_string(delegate->menu.height()));
  delegate->menu.hide();
}
BENCHMARK(BM_RebuildOpenMenu)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One keystroke into the filter: the text grows by a letter, narrowing the rows, until it is
// emptied again and every row comes back. Each keystroke is shown and painted before the next.
void BM_FilterKeystroke(benchmark::State& state) {
  auto delegate = openMenuWithAgents(static_cast<int>(state.range(0)));
  const std::string word = "agent-12";
  std::vector<std::string> typed;
  for (size_t length = 1; length <= word.size(); ++length)
    typed.push_back(word.substr(0, length));
  typed.push_back("");
  size_t next = 0;
  for (auto _ : state) {
    delegate->setFilter(typed[next++ % typed.size()]);
    QCoreApplication::processEvents();
  }
  delegate->menu.hide();
}
BENCHMARK(BM_FilterKeystroke)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The costliest keystroke: from one row back to all of them (Escape), and the reverse.
void BM_FilterAllAndOne(benchmark::State& state) {
  auto delegate = openMenuWithAgents(static_cast<int>(state.range(0)));
  bool narrow = true;
  for (auto _ : state) {
    delegate->setFilter(narrow ? "agent-" + std::to_string(state.range(0) - 1) : "");
    narrow = !narrow;
    QCoreApplication::processEvents();
  }
  delegate->menu.hide();
}
BENCHMARK(BM_FilterAllAndOne)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir home;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("HOME", home.path().toLocal8Bit().constData(), 1);
  ::setenv("MORVANE_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
  ::setenv("MORVANE_LANG", "en", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
