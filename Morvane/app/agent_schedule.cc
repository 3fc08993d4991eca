// Changing an agent's schedule from its actions: the window, and rewriting the file and
// reloading the agent in the background.

#include "app_delegate.h"
#include "language.h"
#include "schedule_change.h"

namespace morvane {

void AppDelegate::showScheduleWindow(const Agent& agent) {
  if (scheduleWindow_)
    scheduleWindow_->close();
  Result<Schedule> current = readScheduleFile(agent.path);
  if (!current) {
    presentWarning(L("无法读取计划", "Couldn't read the schedule"), current.error().text);
    return;
  }
  QPointer<AppDelegate> self(this);
  scheduleWindow_ =
      new ScheduleWindow(agent.label, *current, [self, agent](const TimedStart& start) {
        if (self)
          self->changeSchedule(agent, start);
      });
  scheduleWindow_->show();
  scheduleWindow_->activateWindow();
}

void AppDelegate::changeSchedule(const Agent& agent, const TimedStart& start) {
  const std::string name = displayName(agent.label);
  std::string progress = L([&] { return "正在修改「" + name + "」的计划"; },
                           [&] { return "Changing the schedule of " + name; });
  std::string success = Agents::scheduleChangedText(name, start, agent.loaded);
  perform(std::move(progress), {agent.label}, std::move(success), [agent, start]() -> Outcome {
    Result<bool> changed = Agents::changeSchedule(agent, start);
    if (!changed)
      return std::unexpected(changed.error());
    return {};
  });
}

}  // namespace morvane
