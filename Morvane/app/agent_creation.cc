// New agents from the menu: the window, and writing and loading the agent in the background.

#include "agents.h"
#include "app_delegate.h"
#include "language.h"
#include "new_agent_window.h"

namespace morvane {

void AppDelegate::showNewAgentWindow() {
  if (newAgentWindow_) {
    newAgentWindow_->raise();
    newAgentWindow_->activateWindow();
    return;
  }
  QPointer<AppDelegate> self(this);
  newAgentWindow_ = new NewAgentWindow(
      Agents::defaultDirectory(),
      [self] {
        NewAgents::TakenLabels taken;
        if (self) {
          for (const Agent& agent : self->agents)
            taken.files.emplace(agent.label, agent.file);
        }
        return taken;
      },
      [self](const NewAgent& agent, bool loadNow) {
        if (self)
          self->createAgent(agent, loadNow);
      });
  newAgentWindow_->show();
  newAgentWindow_->activateWindow();
}

void AppDelegate::createAgent(const NewAgent& agent, bool loadNow) {
  const std::string& label = agent.label;
  std::string progress =
      L([&] { return "新建「" + label + "」"; }, [&] { return "Creating " + label; });
  std::string success =
      loadNow ? L([&] { return "「" + label + "」已新建并加载"; },
                  [&] { return label + " created and loaded"; })
              : L([&] { return "「" + label + "」已新建"; }, [&] { return label + " created"; });
  perform(std::move(progress), {}, std::move(success), [agent, loadNow]() -> Outcome {
    Result<Agent> created = NewAgents::create(agent, Agents::defaultDirectory());
    if (!created)
      return std::unexpected(created.error());
    return loadNow ? Agents::loadUnasked(*created) : Outcome();
  });
}

}  // namespace morvane
