#include "menu_texts.h"

#include <algorithm>
#include <limits>

#include "language.h"
#include "signal_names.h"

namespace morvane::MenuTexts {

std::string header(const std::vector<Agent>& agents, bool loadedKnown) {
  const auto total = std::to_string(agents.size());
  const auto loaded =
      loadedKnown ? std::to_string(std::count_if(agents.begin(), agents.end(),
                                                 [](const Agent& agent) { return agent.loaded; }))
                  : std::string("?");
  return L([&] { return "启动项 · 共 " + total + " 个，已加载 " + loaded + " 个"; },
           [&] { return "Launch Agents · " + loaded + " of " + total + " loaded"; });
}

std::string exitText(int64_t status) {
  const std::string number = std::to_string(status);
  if (status < 0 && status != std::numeric_limits<int64_t>::min()) {
    if (std::optional<std::string> name = signalName(-status))
      return L([&] { return "被 " + *name + " 终止"; }, [&] { return "killed by " + *name; });
  }
  return L([&] { return "退出码 " + number; }, [&] { return "exited " + number; });
}

std::optional<QString> agentDetail(const Agent& agent, const FailedExit* failed, bool invalid) {
  std::vector<std::string> parts;
  if (agent.pid)
    parts.push_back("pid " + std::to_string(*agent.pid));
  if (agent.disabled)
    parts.push_back(L("已停用", "disabled"));
  if (failed != nullptr)
    parts.push_back(exitText(failed->status));
  if (invalid)
    parts.push_back(L("无效", "invalid"));
  if (parts.empty())
    return std::nullopt;
  std::string detail = parts.front();
  for (size_t i = 1; i < parts.size(); ++i)
    detail += " · " + parts[i];
  return QString::fromStdString(detail);
}

std::string busyLine(const std::string& busy) {
  return "⏳ " + busy + "…";
}

std::string noAgents() {
  return L("~/Library/LaunchAgents 里没有启动项", "No launch agents in ~/Library/LaunchAgents");
}

std::string newAgent() {
  return L("新建启动项…", "New Agent…");
}

std::string openFolder() {
  return L("在访达中打开 LaunchAgents", "Open LaunchAgents in Finder");
}

std::string launchAtLogin() {
  return L("登录时启动", "Launch at Login");
}

std::string notifyOnFailure() {
  return L("失败时通知", "Notify on Failure");
}

std::string language() {
  return L("语言（Language）", "Language（语言）");
}

std::string quit() {
  return L("退出 Morvane", "Quit Morvane");
}

std::vector<LanguageOption> languageOptions() {
  return {
      {L("跟随系统", "System Default"), std::nullopt},
      {"中文", "zh"},
      {"English", "en"},
  };
}

}  // namespace morvane::MenuTexts
