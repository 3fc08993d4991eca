// Loading and unloading agents from their switches in the menu.

#include "agent_diagnosis.h"
#include "agents.h"
#include "app_delegate.h"
#include "language.h"

namespace morvane {

void AppDelegate::setLoaded(const Agent& agent, bool load) {
  pending[agent.label] = load;
  const std::string name = displayName(agent.label);
  std::string progress =
      load ? L([&] { return "加载「" + name + "」"; }, [&] { return "Loading " + name; })
           : L([&] { return "卸载「" + name + "」"; }, [&] { return "Unloading " + name; });
  std::string success =
      load ? L([&] { return "「" + name + "」已加载"; }, [&] { return name + " loaded"; })
           : L([&] { return "「" + name + "」已卸载"; }, [&] { return name + " unloaded"; });
  perform(std::move(progress), {agent.label}, std::move(success),
          [agent, load, agents = agents]() -> Outcome {
            Outcome outcome = Agents::setLoaded(agent, load);
            // After the service manager's word, why the file may not load, with the fixes.
            if (!outcome && load)
              for (const AgentProblem& problem : diagnoseAgent(agent, agents, true))
                outcome.error().text += "\n" + sentence(problem);
            return outcome;
          });
}

void AppDelegate::perform(std::string progress, std::vector<std::string> labels,
                          std::optional<std::string> success, std::function<Outcome()> operation) {
  ++running;
  busy = progress;
  showChanges();

  work.submit([this, files = scheduleFiles_, progress = std::move(progress),
               labels = std::move(labels), success = std::move(success),
               operation = std::move(operation)]() mutable {
    Outcome outcome = operation();
    AgentScan scan = scanAgents(*files);
    QMetaObject::invokeMethod(
        this,
        [this, progress = std::move(progress), labels = std::move(labels),
         success = std::move(success), outcome = std::move(outcome),
         scan = std::move(scan)]() mutable {
          if (--running == 0)
            busy.reset();
          for (const std::string& label : labels)
            pending.erase(label);
          takeScan(std::move(scan));
          if (!outcome) {
            note.reset();
            presentWarning(progress + L("失败", " failed"), outcome.error().text);
          } else {
            note = std::move(success);
          }
          showChanges();
        },
        Qt::QueuedConnection);
  });
}

}  // namespace morvane
