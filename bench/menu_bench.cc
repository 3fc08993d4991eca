// Rebuilding the status menu with 200 and 1,000 agents: the build alone, and the build followed
// by the menu's layout of every item (what showing it costs on top); and typing into the filter
// of the open menu, one keystroke per iteration. Runs offscreen.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "app_delegate.h"

namespace {

using morvane::Agent;
using morvane::AppDelegate;

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

void BM_RebuildMenu(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    delegate->rebuildMenu();
    // The next turn of the event loop: the previous build's items are released.
    QCoreApplication::sendPostedEvents();
  }
  state.SetLabel(std::to_string(delegate->menu.actions().size()) + " items");
}
BENCHMARK(BM_RebuildMenu)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

// The same build with every agent scheduled (the loaded ones waiting for a calendar start, the
// others every few minutes, at load or kept alive), beside BM_RebuildMenu: what describing the
// schedules and their next runs adds. Compare BM_RebuildMenuWithSchedules/1000 with
// BM_RebuildMenu/1000 of the same run.
void BM_RebuildMenuWithSchedules(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  int i = 0;
  for (morvane::Agent& agent : delegate->agents) {
    agent.pid.reset();
    morvane::Schedule schedule;
    if (i % 3 == 0)
      schedule.calendar = {{.minute = i % 60, .hour = i % 24}, {.minute = 0, .weekday = i % 7}};
    else if (i % 3 == 1)
      schedule.calendar = {{.minute = 30, .hour = 3, .day = 1 + i % 31}};
    else
      schedule = {.startInterval = 60 * (1 + i % 50), .runAtLoad = true, .keepAlive = i % 2 == 0};
    delegate->schedules[agent.label] = schedule;
    ++i;
  }
  for (auto _ : state) {
    delegate->rebuildMenu();
    QCoreApplication::sendPostedEvents();
  }
}
BENCHMARK(BM_RebuildMenuWithSchedules)->Arg(1000)->Unit(benchmark::kMillisecond);

// The same without the schedules but with the same rows not running, the reference for the
// one above.
void BM_RebuildMenuNotRunning(benchmark::State& state) {
  auto delegate = delegateWithAgents(static_cast<int>(state.range(0)));
  for (morvane::Agent& agent : delegate->agents)
    agent.pid.reset();
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
BENCHMARK(BM_RebuildAndLayOutMenu)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_RebuildOpenMenu)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_FilterKeystroke)->Arg(1000)->Unit(benchmark::kMillisecond);

// The costliest keystroke: from one row back to all of them (Escape), and the reverse.
void BM_FilterAllAndOne(benchmark::State& state) {
  auto delegate = openMenuWithAgents(static_cast<int>(state.range(0)));
  bool narrow = true;
  for (auto _ : state) {
    delegate->setFilter(narrow ? "agent-999" : "");
    narrow = !narrow;
    QCoreApplication::processEvents();
  }
  delegate->menu.hide();
}
BENCHMARK(BM_FilterAllAndOne)->Arg(1000)->Unit(benchmark::kMillisecond);

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
