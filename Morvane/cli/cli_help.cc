#include <utility>
#include <vector>

#include "cli.h"
#include "language.h"
#include "mode_settings.h"
#include "terminal_width.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

/// Descriptions start in this terminal column, after two spaces of indent and the option.
constexpr size_t kOptionColumns = 34;

/// Each option as typed, with what it does.
std::vector<std::pair<std::string, std::string>> optionLines() {
  const std::string agent = L("<启动项>", "<agent>");
  const std::string label = L("<标签>", "<label>");
  return {
      {"--list", L("列出启动项：状态、进程号、标签、名称、停用标记和文件名",
                   "list the agents: state, process id, label, name, disabled mark, file")},
      {"--list --json", L("以 JSON 数组列出启动项", "list the agents as a JSON array")},
      {"--load " + agent, L("按标签或文件名加载一个启动项（先启用已停用的）",
                            "load an agent, by label or file name (enabling it first)")},
      {"--unload " + agent,
       L("按标签或文件名卸载一个启动项", "unload an agent, by label or file name")},
      {"--status " + agent, L("显示一个启动项的全部信息和日志的最后 10 行",
                              "show all about an agent and the last 10 lines of its logs")},
      {"--status " + agent + " --lines N",
       L([] { return "显示日志的最后 N 行（0 到 " + std::to_string(kMaxLogLines) + "）"; },
         [] { return "show the last N log lines (0 to " + std::to_string(kMaxLogLines) + ")"; })},
      {"--status " + agent + " --json",
       L("以 JSON 对象显示一个启动项", "show an agent as a JSON object")},
      {"--new " + label + " -- " + L("<程序>", "<program>") + " …",
       L("写入并加载一个运行该程序的新启动项", "write and load a new agent that runs the program")},
      {"--new … --at-load", L("新启动项在加载时就运行", "… that runs as soon as it is loaded")},
      {"--new … --keep-alive", L("新启动项保持运行", "… that is kept running")},
      {"--new … --every " + L("<秒数>", "<seconds>"),
       L("新启动项每隔这么多秒运行一次", "… that runs every so many seconds")},
      {"--new … --at HH:MM", L("新启动项每天在这个时间运行", "… that runs at that time every day")},
      {"--new … --at HH:MM --on " + L("<日子>", "<days>"),
       L("只在这些日子：mon,tue,…、weekdays 或 daily",
         "… only on those days: mon,tue,…, weekdays or daily")},
      {"--new … --at HH:MM --day D",
       L("只在每月的第 D 天（1 到 31）", "… only on day D of the month (1 to 31)")},
      {"--new … --log " + L("<文件>", "<file>"),
       L("新启动项的输出和错误都写入该文件", "… whose output and errors go to the file")},
      {"--schedule " + agent + " --at HH:MM",
       L("改写启动项的计划（--on、--day 同上），已加载的会重新加载",
         "change an agent's schedule (--on, --day as above), reloading it when loaded")},
      {"--schedule … --every " + L("<秒数>", "<seconds>"),
       L("改为每隔这么多秒运行一次", "… to run every so many seconds")},
      {"--schedule … --none", L("去掉启动项的计划", "… to no schedule at all")},
      {"--check [" + agent + "…]",
       L("检查启动项文件（不给名字则检查全部），逐条说明问题和改法",
         "check agent files (all without a name): each problem and its fix")},
      {"--check … --json", L("以 JSON 数组给出检查结果", "the check as a JSON array")},
      {"--selftest",
       L("用一个临时启动项检查加载和卸载", "check loading and unloading with a throw-away agent")},
      {"--update", L("更新本应用", "update the application")},
      {"--update --check", L("只检查有没有新版本", "only check for a newer version")},
      {"--help", L("显示这些选项", "show these options")},
      {"--version", L("显示版本号", "show the version")},
  };
}

}  // namespace

int32_t help(std::ostream& out, std::ostream& err) {
  modeSettings(err);

  out << L("用法：Morvane [选项]", "Usage: Morvane [option]") << "\n";
  for (const auto& [option, description] : optionLines())
    out << "  " << padToWidth(option, kOptionColumns - 2) << description << "\n";
  out << L("不带选项时启动菜单栏应用。", "Without an option the menu-bar application starts.")
      << "\n"
      << std::flush;
  return 0;
}

int32_t usageError(std::ostream& out, const UsageError& error, std::ostream& err) {
  modeSettings(err);

  std::string text;
  switch (error.kind) {
    case UsageError::missingAgent:
      text = L([&] { return error.option + " 后面需要一个启动项：标签或文件名"; },
               [&] { return error.option + " needs an agent: a label or a file name"; });
      break;
    case UsageError::missingLabel:
      text = L("--new 后面需要新启动项的标签", "--new needs the new agent's label");
      break;
    case UsageError::missingProgram:
      text = L("--new 需要在 -- 后面给出程序", "--new needs a program after --");
      break;
    case UsageError::missingLogFile:
      text = L("--log 后面需要一个文件", "--log needs a file");
      break;
    case UsageError::unknownNewOption:
      text = L([&] { return "--new 不认识的选项：" + visibleControlCharacters(error.option); },
               [&] { return "--new does not take " + visibleControlCharacters(error.option); });
      break;
    case UsageError::badLineCount:
      text = L(
          [&] {
            return error.option + " 后面需要 0 到 " + std::to_string(kMaxLogLines) + " 之间的数";
          },
          [&] {
            return error.option + " needs a number from 0 to " + std::to_string(kMaxLogLines);
          });
      break;
  }
  out << "✗ " << text << "\n" << std::flush;
  return 1;
}

}  // namespace morvane::CLI
