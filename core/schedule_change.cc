#include "schedule_change.h"

#include "agents.h"
#include "language.h"
#include "schedule_rewrite.h"
#include "schedule_text.h"

namespace morvane::Agents {

Result<bool> changeSchedule(const Agent& agent, const TimedStart& start) {
  StateQuery query(StateQuery::Asks::loadedOnly);
  // Without the loaded state the change could not be made to take effect.
  if (std::optional<Failure> problem = query.listingProblem())
    return std::unexpected(*problem);
  const bool loaded = query.loadedJobs().contains(agent.label);
  if (Outcome written = rewriteSchedule(agent.path, start); !written)
    return std::unexpected(written.error());
  if (!loaded)
    return false;
  Agent unloading = agent;
  unloading.loaded = true;
  Outcome reloaded = setLoaded(unloading, false);
  if (reloaded) {
    unloading.loaded = false;
    reloaded = loadUnasked(unloading);
  }
  if (!reloaded)
    return fail(L([&] { return "计划已写入，但重新加载失败：" + reloaded.error().text; },
                  [&] {
                    return "The schedule was written, but reloading failed: " +
                           reloaded.error().text;
                  }));
  return true;
}

std::string scheduleChangedText(const std::string& name, const TimedStart& start, bool reloaded) {
  const std::string summary =
      ScheduleText::summary(Schedule{start.interval, start.calendar, false, false});
  std::string text = summary.empty()
                         ? L([&] { return "「" + name + "」的计划已取消"; },
                             [&] { return "Schedule of " + name + " removed"; })
                         : L([&] { return "「" + name + "」的计划已设为：" + summary; },
                             [&] { return "Schedule of " + name + " set: " + summary; });
  if (reloaded)
    text += L("，已重新加载", ", reloaded");
  return text;
}

}  // namespace morvane::Agents
