#include "agent_lookup.h"

#include <algorithm>

#include "label_suggestions.h"
#include "language.h"
#include "unicode_text.h"

namespace morvane {
namespace {

/// "a, b or c" / "a、b、c", each item escaped for a terminal.
std::string joined(const std::vector<std::string>& items, bool lastWithOr) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += L("、", lastWithOr && i + 1 == items.size() ? " or " : ", ");
    text += visibleControlCharacters(items[i]);
  }
  return text;
}

// The texts below go to a terminal, so every name in them is escaped as it is put in.

Failure noSuchAgent(const std::vector<Agent>& agents, const std::string& typed) {
  std::vector<std::string> closest = closestLabels(agents, typed);
  const std::string name = visibleControlCharacters(typed);
  std::string text = L([&] { return "没有名为「" + name + "」的启动项"; },
                       [&] { return "No agent named " + name; });
  if (!closest.empty())
    text += L([&] { return "。是不是：" + joined(closest, false) + "？"; },
              [&] { return ". Did you mean " + joined(closest, true) + "?"; });
  return Failure{text};
}

Failure severalAgents(const std::vector<const Agent*>& matches, const std::string& typed) {
  const std::string name = visibleControlCharacters(typed);
  std::vector<std::string> files;
  for (const Agent* agent : matches)
    files.push_back(agent->file);
  std::sort(files.begin(), files.end());
  return Failure{L(
      [&] {
        return "「" + name + "」对应多个启动项：" + joined(files, false) +
               "。请用文件名指定其中一个";
      },
      [&] {
        return name + " names more than one agent: " + joined(files, false) +
               ". Give the file name to choose one";
      })};
}

}  // namespace

Result<Agent> findAgent(const std::vector<Agent>& agents, const std::string& name) {
  std::vector<const Agent*> matches;
  for (const Agent& agent : agents) {
    if (agent.label == name || agent.file == name || agent.file == name + ".plist")
      matches.push_back(&agent);
  }
  if (matches.size() == 1)
    return *matches.front();
  if (matches.empty())
    return std::unexpected(noSuchAgent(agents, name));
  return std::unexpected(severalAgents(matches, name));
}

}  // namespace morvane
