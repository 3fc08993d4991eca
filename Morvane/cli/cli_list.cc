#include <string>

#include "agents.h"
#include "cli.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

constexpr size_t kProcessColumnWidth = 10;

/// "pid 812" or "-", cut or padded with spaces to exactly ten characters.
std::string processColumn(const Agent& agent) {
  std::string text = agent.pid ? "pid " + std::to_string(*agent.pid) : "-";
  text.resize(kProcessColumnWidth, ' ');
  return text;
}

/// One agent's line. Labels, names and file names come from files anyone can write, so they are
/// shown escaped: they can neither break the table nor drive a terminal.
std::string agentLine(const Agent& agent, const FriendlyNames& names) {
  std::string line = agent.loaded ? "●" : "○";
  line += " " + processColumn(agent) + " " + visibleControlCharacters(agent.label);
  if (auto name = names.find(agent.label); name != names.end())
    line += "  [" + visibleControlCharacters(name->second) + "]";
  if (agent.disabled)
    line += L("  （已停用）", "  (disabled)");
  if (agent.file != agent.label + ".plist")
    line += "  ← " + visibleControlCharacters(agent.file);
  return line;
}

std::string summaryLine(size_t loaded, size_t total) {
  return L(
      [&] {
        return "共 " + std::to_string(total) + " 个，已加载 " + std::to_string(loaded) + " 个";
      },
      [&] { return std::to_string(loaded) + " of " + std::to_string(total) + " loaded"; });
}

}  // namespace

int32_t list(std::ostream& out, std::ostream& err) {
  // launchd is asked first: its answer takes longest, and nothing here changes it.
  Agents::StateQuery query;
  SettingsStore store = modeSettings(err);

  const std::filesystem::path directory = Agents::defaultDirectory();
  std::optional<Failure> problem;
  std::vector<Agent> agents = Agents::scan(directory, std::move(query), &problem);
  out << L("目录  ", "Directory  ") << visibleControlCharacters(directory.string()) << "\n";
  size_t loaded = 0;
  for (const Agent& agent : agents) {
    out << agentLine(agent, store.value().friendlyNames) << "\n";
    loaded += agent.loaded ? 1 : 0;
  }
  out << summaryLine(loaded, agents.size()) << "\n";
  out.flush();
  return reportProblem(err, problem);
}

}  // namespace morvane::CLI
