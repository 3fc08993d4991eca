#include "agent_lookup.h"
#include "agents.h"
#include "cli.h"
#include "display_name.h"
#include "language.h"
#include "paths.h"
#include "settings_store.h"

namespace morvane::CLI {
namespace {

std::string alreadyText(const std::string& name, bool load) {
  if (load)
    return L([&] { return "「" + name + "」已经是加载状态"; },
             [&] { return name + " is already loaded"; });
  return L([&] { return "「" + name + "」本来就没有加载"; },
           [&] { return name + " is not loaded"; });
}

}  // namespace

std::string changedText(const std::string& name, bool load) {
  if (load)
    return L([&] { return "「" + name + "」已加载"; }, [&] { return name + " loaded"; });
  return L([&] { return "「" + name + "」已卸载"; }, [&] { return name + " unloaded"; });
}

int32_t setLoaded(std::ostream& out, const std::string& name, bool load) {
  SettingsStore store(Paths::defaultPaths());
  Language::apply(store.value().language);

  Result<Agent> agent = findAgent(Agents::scan(Agents::defaultDirectory()), name);
  if (!agent) {
    out << "✗ " << agent.error().text << "\n" << std::flush;
    return 1;
  }
  const std::string shown = displayName(agent->label, store.value().friendlyNames);
  if (agent->loaded == load) {
    out << alreadyText(shown, load) << "\n" << std::flush;
    return 0;
  }
  if (Outcome outcome = Agents::setLoaded(*agent, load); !outcome) {
    out << "✗ " << outcome.error().text << "\n" << std::flush;
    return 1;
  }
  out << changedText(shown, load) << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
