#include "new_agent.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

#include "language.h"
#include "platform.h"
#include "shell_words.h"
#include "unicode_text.h"
#include "utf8_repair.h"

namespace morvane::NewAgents {
namespace {

/// The longest file name the file system takes.
constexpr size_t kMaxFileName = 255;

bool isUtf8(std::string_view text) {
  return repairUtf8(std::string(text)) == text;
}

/// "/", a C0 or C1 control character, or DEL.
bool hasUnusableCharacter(std::string_view label) {
  for (size_t i = 0; i < label.size(); ++i) {
    const auto byte = static_cast<unsigned char>(label[i]);
    if (byte == '/' || byte < 0x20 || byte == 0x7F)
      return true;
    if (byte == 0xC2 && i + 1 < label.size() && static_cast<unsigned char>(label[i + 1]) < 0xA0)
      return true;
  }
  return false;
}

Problem badInterval() {
  return {Field::interval,
          L("间隔必须是大于 0 的整数", "The interval must be a whole number above 0")};
}

std::string notUtf8() {
  return L("不是有效的 UTF-8 文本", "Not valid UTF-8 text");
}

std::optional<std::string> labelProblem(const NewAgent& agent,
                                        const std::filesystem::path& directory,
                                        const TakenLabels& taken) {
  const std::string& label = agent.label;
  if (label.empty())
    return L("请填写标签", "Enter a label");
  if (!isUtf8(label))
    return notUtf8();
  if (hasUnusableCharacter(label))
    return L("标签不能含有“/”或控制字符", "A label cannot contain “/” or control characters");
  if (containsBidiControl(label))
    return L("标签不能含有改变文字方向的字符（如 U+202E）",
             "A label cannot contain characters that reorder text (such as U+202E)");
  if (label.size() + std::string_view(".plist").size() > kMaxFileName)
    return L("标签太长", "The label is too long");
  const std::string path = plistPath(agent, directory).string();
  if (std::error_code error;
      std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found)
    return alreadyExists(path);
  if (auto file = taken.files.find(label); file != taken.files.end())
    return L([&] { return "「" + label + "」已被 " + file->second + " 使用"; },
             [&] { return label + " is already used by " + file->second; });
  if (taken.loaded.contains(label))
    return L([&] { return "「" + label + "」已在 launchd 中加载"; },
             [&] { return label + " is already loaded in launchd"; });
  return std::nullopt;
}

std::optional<std::string> programProblem(const std::string& program) {
  if (program.empty())
    return L("请选择程序", "Choose a program");
  if (!isUtf8(program))
    return notUtf8();
  struct stat info {};
  if (!program.starts_with('/') || ::stat(program.c_str(), &info) != 0)
    return L([&] { return "找不到程序：" + program; },
             [&] { return "No such program: " + program; });
  if (!S_ISREG(info.st_mode) || ::access(program.c_str(), X_OK) != 0)
    return L([&] { return program + " 不可执行"; }, [&] { return program + " is not executable"; });
  return std::nullopt;
}

std::optional<std::string> logProblem(const std::string& log) {
  if (!isUtf8(log))
    return notUtf8();
  if (!log.starts_with('/'))
    return L("日志文件需要完整路径", "Give the log file's full path");
  const std::filesystem::path path(log);
  std::error_code error;
  if (!std::filesystem::is_directory(path.parent_path(), error))
    return L([&] { return "没有这个文件夹：" + path.parent_path().string(); },
             [&] { return "No such folder: " + path.parent_path().string(); });
  if (std::filesystem::is_directory(path, error))
    return L([&] { return log + " 是文件夹"; }, [&] { return log + " is a folder"; });
  return std::nullopt;
}

}  // namespace

TakenLabels takenLabels(const Agents::ScannedAgents& scan) {
  TakenLabels taken;
  for (const Agent& agent : scan.agents)
    taken.files.emplace(agent.label, agent.file);
  for (const auto& [label, status] : scan.lastExitStatuses)
    taken.loaded.insert(label);
  return taken;
}

std::expected<int64_t, Problem> interval(std::string_view typed, int64_t unit) {
  int64_t count = 0;
  auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), count);
  if (typed.empty() || error != std::errc() || end != typed.data() + typed.size() || count <= 0 ||
      unit <= 0 || count > kMaxInterval / unit)
    return std::unexpected(badInterval());
  return count * unit;
}

std::expected<std::vector<std::string>, Problem> arguments(std::string_view typed) {
  Result<std::vector<std::string>> words = splitShellWords(typed);
  if (!words)
    return std::unexpected(Problem{Field::arguments, words.error().text});
  return std::move(*words);
}

std::string resolvedProgram(std::string_view typed, const std::filesystem::path& base) {
  if (typed.empty())
    return {};
  if (typed.find('/') != std::string_view::npos)
    return (base / typed).lexically_normal().string();
  if (std::optional<std::filesystem::path> found = platform::findProgram(typed))
    return found->string();
  return std::string(typed);
}

std::string alreadyExists(const std::filesystem::path& path) {
  return L([&] { return path.string() + " 已经存在"; },
           [&] { return path.string() + " already exists"; });
}

std::filesystem::path plistPath(const NewAgent& agent, const std::filesystem::path& directory) {
  return directory / (agent.label + ".plist");
}

std::vector<Problem> problems(const NewAgent& agent, const std::filesystem::path& directory,
                              const TakenLabels& taken) {
  std::vector<Problem> found;
  if (auto problem = labelProblem(agent, directory, taken))
    found.push_back({Field::label, *problem});
  if (auto problem = programProblem(agent.program))
    found.push_back({Field::program, *problem});
  for (const std::string& argument : agent.arguments) {
    if (!isUtf8(argument)) {
      found.push_back({Field::arguments, notUtf8()});
      break;
    }
  }
  if (agent.startInterval && (*agent.startInterval <= 0 || *agent.startInterval > kMaxInterval))
    found.push_back(badInterval());
  if (agent.startInterval && !agent.calendar.empty())
    found.push_back({Field::calendar, L("不能既每隔一段时间又在定时运行",
                                        "Choose either an interval or times of day, not both")});
  if (agent.log) {
    if (auto problem = logProblem(*agent.log))
      found.push_back({Field::log, *problem});
  }
  return found;
}

}  // namespace morvane::NewAgents
