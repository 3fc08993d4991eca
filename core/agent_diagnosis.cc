#include "agent_diagnosis.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "agent_diagnosis_keys.h"
#include "agents.h"
#include "file_io.h"
#include "job_description.h"
#include "language.h"
#include "property_list.h"
#include "unicode_text.h"
#include "xml_error_position.h"

namespace morvane {
namespace {

AgentProblem problem(std::string kind, std::string cause, std::string fix) {
  return AgentProblem{AgentProblem::error, std::move(kind), std::move(cause), std::move(fix)};
}

AgentProblem failingAtStart(std::string kind, std::string cause, std::string fix) {
  AgentProblem found = problem(std::move(kind), std::move(cause), std::move(fix));
  found.failsAtStart = true;
  return found;
}

std::string shown(const std::string& text) {
  return visibleControlCharacters(text);
}

/// Why bytes that are not a property list are not one.
AgentProblem notPropertyList(std::string_view bytes) {
  if (bytes.starts_with("bplist"))
    return problem("not-property-list",
                   L("它是损坏的二进制属性列表", "it is a damaged binary property list"),
                   L("请重新写出它，或用 plutil -convert xml1 检查",
                     "write it again, or check it with plutil -convert xml1"));
  if (std::optional<XmlErrorPosition> at = xmlErrorPosition(bytes)) {
    const std::string line = std::to_string(at->line), column = std::to_string(at->column);
    const std::string message = shown(at->message);
    const std::string why = message.empty() ? "" : L("（" + message + "）", " (" + message + ")");
    return problem("not-property-list",
                   L(
                       [&] {
                         return "它不是属性列表：XML 解析在第 " + line + " 行第 " + column +
                                " 列停下" + why;
                       },
                       [&] {
                         return "it is not a property list: the XML parser stopped at line " +
                                line + ", column " + column + why;
                       }),
                   L("请改正该处的 XML", "correct the XML there"));
  }
  return problem("not-property-list",
                 L("它是 XML，但不是属性列表", "it is XML but not a property list"),
                 L("请用 <plist>、<dict>、<key> 和 <string> 等属性列表的元素来写",
                   "write it with the property-list elements <plist>, <dict>, <key>, <string>…"));
}

std::optional<std::string> stringValue(plist_t value) {
  if (value == nullptr || plist_get_node_type(value) != PLIST_STRING)
    return std::nullopt;
  char* raw = nullptr;
  plist_get_string_val(value, &raw);
  std::string text(raw != nullptr ? raw : "");
  std::free(raw);
  return text;
}

void checkLabel(plist_t root, Diagnosis& found) {
  plist_t label = plist_dict_get_item(root, "Label");
  if (label == nullptr) {
    found.push_back(
        problem("missing-label", L("它没有 Label", "it has no Label"),
                L("请加上 Label 键，写上启动项的名字", "add a Label key with the agent's name")));
  } else if (plist_get_node_type(label) != PLIST_STRING) {
    const std::string is = diagnosis::valueDescription(label);
    found.push_back(problem("label-not-text",
                            L([&] { return "它的 Label 是" + is + "，不是文本"; },
                              [&] { return "its Label is " + is + ", not text"; }),
                            L("请把 Label 写成 <string>", "write the Label as a <string>")));
  } else if (stringValue(label)->empty()) {
    found.push_back(problem("label-not-text", L("它的 Label 是空的", "its Label is empty"),
                            L("请在 Label 里写上启动项的名字", "write the agent's name in it")));
  }
}

/// The program the agent runs: "Program", else the first of "ProgramArguments"; adds the
/// problems of the two keys and gives nothing when they name no program.
std::optional<std::string> checkProgramKeys(plist_t root, Diagnosis& found) {
  plist_t program = plist_dict_get_item(root, "Program");
  plist_t arguments = plist_dict_get_item(root, "ProgramArguments");
  if (program == nullptr && arguments == nullptr) {
    found.push_back(problem(
        "missing-program",
        L("它既没有 Program 也没有 ProgramArguments", "it has no Program and no ProgramArguments"),
        L("请加上 ProgramArguments，第一项写程序的路径",
          "add ProgramArguments with the program's path first")));
    return std::nullopt;
  }
  std::optional<std::string> named;
  if (program != nullptr) {
    named = stringValue(program);
    if (!named || named->empty()) {
      const std::string is =
          named ? L("空文本", "empty text") : diagnosis::valueDescription(program);
      found.push_back(
          problem("program-not-text",
                  L([&] { return "它的 Program 是" + is + "，不是程序的路径"; },
                    [&] { return "its Program is " + is + ", not a program's path"; }),
                  L("请把程序的路径写成 <string>", "write the program's path as a <string>")));
      named.reset();
    }
  }
  if (arguments == nullptr)
    return named;
  if (plist_get_node_type(arguments) != PLIST_ARRAY) {
    const std::string is = diagnosis::valueDescription(arguments);
    found.push_back(
        problem("arguments-not-texts",
                L([&] { return "它的 ProgramArguments 是" + is + "，不是列表"; },
                  [&] { return "its ProgramArguments is " + is + ", not a list"; }),
                L("请写成由 <string> 组成的 <array>", "write it as an <array> of <string>")));
    return named;
  }
  const uint32_t count = plist_array_get_size(arguments);
  if (count == 0) {
    found.push_back(problem("arguments-empty",
                            L("它的 ProgramArguments 是空的", "its ProgramArguments is empty"),
                            L("请把程序的路径写在第一项", "put the program's path in it first")));
    return named;
  }
  for (uint32_t i = 0; i < count; ++i) {
    plist_t item = plist_array_get_item(arguments, i);
    if (plist_get_node_type(item) == PLIST_STRING)
      continue;
    const std::string number = std::to_string(i + 1), is = diagnosis::valueDescription(item);
    found.push_back(problem(
        "arguments-not-texts",
        L([&] { return "它的 ProgramArguments 第 " + number + " 项是" + is + "，不是文本"; },
          [&] { return "item " + number + " of its ProgramArguments is " + is + ", not text"; }),
        L("请把每个参数写成 <string>", "write each argument as a <string>")));
    return named;
  }
  if (!named && program == nullptr)
    named = stringValue(plist_array_get_item(arguments, 0));
  if (named && named->empty()) {
    found.push_back(problem(
        "arguments-empty",
        L("它的 ProgramArguments 第一项是空的", "the first item of its ProgramArguments is empty"),
        L("请在第一项写上程序的路径", "put the program's path there")));
    named.reset();
  }
  return named;
}

/// The directories a program without a slash is looked for in: the agent's own PATH, else the
/// one the service manager hands on to its jobs, which is ours.
std::string searchPath(plist_t root) {
  plist_t environment = plist_dict_get_item(root, "EnvironmentVariables");
  if (environment != nullptr && plist_get_node_type(environment) == PLIST_DICT)
    if (auto own = stringValue(plist_dict_get_item(environment, "PATH")))
      return *own;
  const char* inherited = std::getenv("PATH");
  return inherited != nullptr ? inherited : "/usr/bin:/bin";
}

bool isExecutableFile(const std::filesystem::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

void checkProgramFile(plist_t root, const std::string& program, Diagnosis& found) {
  if (program.find('/') == std::string::npos) {
    const std::string path = searchPath(root);
    size_t start = 0;
    for (;;) {
      const size_t end = std::min(path.find(':', start), path.size());
      const std::string directory = path.substr(start, end - start);
      if (!directory.empty() && isExecutableFile(std::filesystem::path(directory) / program))
        return;
      if (end == path.size())
        break;
      start = end + 1;
    }
    const std::string name = shown(program), where = shown(path);
    found.push_back(failingAtStart(
        "program-not-found",
        L([&] { return "在它的 PATH（" + where + "）里找不到它的程序 " + name; },
          [&] { return "its program " + name + " is not on its PATH (" + where + ")"; }),
        L("请写出程序的完整路径", "give the program's full path")));
    return;
  }
  std::filesystem::path path(program);
  if (path.is_relative()) {
    const std::optional<std::string> directory =
        stringValue(plist_dict_get_item(root, "WorkingDirectory"));
    path = std::filesystem::path(directory.value_or("/")) / path;
  }
  const std::string name = shown(path.string());
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    found.push_back(failingAtStart("program-missing",
                                   L([&] { return "它的程序 " + name + " 不存在"; },
                                     [&] { return "its program " + name + " does not exist"; }),
                                   L("请安装该程序或改正路径", "install it or correct the path")));
  } else if (S_ISDIR(status.st_mode)) {
    found.push_back(failingAtStart(
        "program-folder",
        L([&] { return "它的程序 " + name + " 是一个文件夹"; },
          [&] { return "its program " + name + " is a folder"; }),
        L("请写出其中可执行文件的路径", "give the path of the executable inside it")));
  } else if (::access(path.c_str(), X_OK) != 0) {
    found.push_back(failingAtStart("program-not-executable",
                                   L([&] { return "它的程序 " + name + " 不可执行"; },
                                     [&] { return "its program " + name + " is not executable"; }),
                                   L([&] { return "请用 chmod +x " + name + " 给它执行权限"; },
                                     [&] { return "make it executable with chmod +x " + name; })));
  }
}

/// A log the service manager must be able to open for writing before the job starts.
void checkLog(const std::string& written, Diagnosis& found) {
  const std::filesystem::path path = resolvedLogPath(written);
  const std::filesystem::path folder = path.parent_path();
  const std::string name = shown(path.string()), folderName = shown(folder.string());
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode) || ::access(path.c_str(), W_OK) != 0)
      found.push_back(failingAtStart(
          "log-not-writable",
          L([&] { return "它的日志 " + name + " 无法写入"; },
            [&] { return "its log " + name + " cannot be written"; }),
          L("请让该文件可写，或换一个日志路径", "make the file writable or log elsewhere")));
    return;
  }
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    found.push_back(failingAtStart(
        "log-folder-missing",
        L([&] { return "它的日志 " + name + " 所在的文件夹不存在"; },
          [&] { return "the folder of its log " + name + " does not exist"; }),
        L([&] { return "请创建 " + folderName; }, [&] { return "create " + folderName; })));
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    found.push_back(
        failingAtStart("log-not-writable",
                       L([&] { return "它的日志 " + name + " 无法写入"; },
                         [&] { return "its log " + name + " cannot be written"; }),
                       L([&] { return "请让 " + folderName + " 可写，或换一个日志路径"; },
                         [&] { return "make " + folderName + " writable or log elsewhere"; })));
  }
}

void checkLogs(plist_t root, Diagnosis& found) {
  const std::optional<std::string> output =
      stringValue(plist_dict_get_item(root, "StandardOutPath"));
  const std::optional<std::string> errors =
      stringValue(plist_dict_get_item(root, "StandardErrorPath"));
  if (output && !output->empty())
    checkLog(*output, found);
  if (errors && !errors->empty() && errors != output)
    checkLog(*errors, found);
}

std::string typeName(plist_t root) {
  return diagnosis::valueDescription(root);
}

void errorsFirst(Diagnosis& found) {
  std::stable_partition(found.begin(), found.end(),
                        [](const AgentProblem& p) { return p.severity == AgentProblem::error; });
}

}  // namespace

std::string sentence(const AgentProblem& problem) {
  if (Language::current() == Language::chinese) {
    const bool asks = problem.fix.ends_with("？");
    return problem.cause + "：" + problem.fix + (asks ? "" : "。");
  }
  std::string cause = problem.cause;
  if (!problem.causeStartsWithName && !cause.empty() && cause[0] >= 'a' && cause[0] <= 'z')
    cause[0] = static_cast<char>(cause[0] - 'a' + 'A');
  const bool asks = problem.fix.ends_with("?");
  return cause + ": " + problem.fix + (asks ? "" : ".");
}

std::string loadedDespite(const std::string& name, const AgentProblem& problem) {
  const std::string outcome =
      problem.failsAtStart ? L("启动时会失败", "it will fail when it starts") : problem.fix;
  return L([&] { return "「" + name + "」已加载，但" + problem.cause + "：" + outcome; },
           [&] { return name + " loaded, but " + problem.cause + ": " + outcome; });
}

Diagnosis diagnoseAgentFile(const std::filesystem::path& plist) {
  Diagnosis found;
  std::expected<std::string, int> bytes = readRegularFile(plist);
  if (!bytes) {
    const std::string reason = describeErrno(bytes.error());
    found.push_back(problem("unreadable",
                            L([&] { return "文件无法读取（" + reason + "）"; },
                              [&] { return "the file cannot be read (" + reason + ")"; }),
                            L("请检查它的路径和权限", "check its path and permissions")));
    return found;
  }
  PlistPtr root = parsePropertyList(*bytes);
  if (!root) {
    found.push_back(notPropertyList(*bytes));
    return found;
  }
  if (plist_get_node_type(root.get()) != PLIST_DICT) {
    const std::string is = typeName(root.get());
    found.push_back(problem("not-dictionary",
                            L([&] { return "它的顶层是" + is + "，不是字典"; },
                              [&] { return "its top level is " + is + ", not a dictionary"; }),
                            L("请把各个键放进一个 <dict>", "put the keys in one <dict>")));
    return found;
  }
  checkLabel(root.get(), found);
  if (std::optional<std::string> program = checkProgramKeys(root.get(), found))
    checkProgramFile(root.get(), *program, found);
  checkLogs(root.get(), found);
  diagnosis::checkKeys(root.get(), found);
  errorsFirst(found);
  return found;
}

Diagnosis diagnoseAgent(const Agent& agent, const std::vector<Agent>& agents, bool loading) {
  Diagnosis found = diagnoseAgentFile(agent.path);
  for (const Agent& other : agents) {
    if (other.label != agent.label || other.path == agent.path)
      continue;
    const std::string file = shown(other.file), label = shown(agent.label);
    found.push_back(
        diagnosis::keyProblem(AgentProblem::error, "duplicate-label",
                              L([&] { return file + " 也使用标签 " + label; },
                                [&] { return file + " uses the label " + label + " as well"; }),
                              L("请给其中一个换一个 Label", "give one of them another Label")));
  }
  const std::string target = shown(Agents::serviceTarget(agent.label));
  if (loading && agent.loaded)
    found.push_back(AgentProblem{AgentProblem::note, "already-loaded",
                                 L("它已经加载了", "it is loaded already"),
                                 L("要重新加载，请先卸载它", "unload it first to load it again")});
  if (agent.disabled)
    found.push_back(AgentProblem{
        AgentProblem::note, "disabled", L("它已被停用", "it is disabled"),
        L([&] { return "用 launchctl enable " + target + " 启用；在这里加载它会先启用"; },
          [&] {
            return "enable it with launchctl enable " + target + "; loading it here does so first";
          })});
  errorsFirst(found);
  return found;
}

AgentDiagnoses invalidAgents(const std::vector<Agent>& agents) {
  AgentDiagnoses invalid;
  for (const Agent& agent : agents) {
    Diagnosis diagnosis = diagnoseAgent(agent, agents);
    std::erase_if(diagnosis, [](const AgentProblem& p) { return p.kind == "disabled"; });
    if (hasError(diagnosis))
      invalid.emplace(agent.path, std::move(diagnosis));
  }
  return invalid;
}

bool hasError(const Diagnosis& diagnosis) {
  return countOf(diagnosis, AgentProblem::error) > 0;
}

size_t countOf(const Diagnosis& diagnosis, AgentProblem::Severity severity) {
  return static_cast<size_t>(
      std::count_if(diagnosis.begin(), diagnosis.end(),
                    [&](const AgentProblem& problem) { return problem.severity == severity; }));
}

}  // namespace morvane
