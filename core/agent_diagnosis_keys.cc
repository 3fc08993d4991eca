#include "agent_diagnosis_keys.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <numeric>

#include "calendar_schedule.h"
#include "language.h"
#include "unicode_text.h"

namespace morvane::diagnosis {
namespace {

/// The types a key's value may have, as a set of bits.
enum Kind : uint8_t {
  boolean = 1,
  integer = 2,
  text = 4,
  list = 8,
  dictionary = 16,
};

/// The service manager's keys, each with the types it takes. Label, Program and
/// ProgramArguments are here for their names only: the caller judges them.
const std::map<std::string_view, uint8_t>& knownKeys() {
  static const std::map<std::string_view, uint8_t> keys = {
      {"AbandonProcessGroup", boolean},
      {"AssociatedBundleIdentifiers", text | list},
      {"Debug", boolean},
      {"Disabled", boolean},
      {"EnableGlobbing", boolean},
      {"EnablePressuredExit", boolean},
      {"EnableTransactions", boolean},
      {"EnvironmentVariables", dictionary},
      {"ExitTimeOut", integer},
      {"GroupName", text},
      {"HardResourceLimits", dictionary},
      {"InitGroups", boolean},
      {"KeepAlive", boolean | dictionary},
      {"Label", text},
      {"LaunchEvents", dictionary},
      {"LaunchOnlyOnce", boolean},
      {"LegacyTimers", boolean},
      {"LimitLoadFromHardware", dictionary},
      {"LimitLoadFromHosts", list},
      {"LimitLoadToHardware", dictionary},
      {"LimitLoadToHosts", list},
      {"LimitLoadToSessionType", text | list},
      {"LowPriorityBackgroundIO", boolean},
      {"LowPriorityIO", boolean},
      {"MachServices", dictionary},
      {"MaterializeDatalessFiles", boolean},
      {"Nice", integer},
      {"OnDemand", boolean},
      {"ProcessType", text},
      {"Program", text},
      {"ProgramArguments", list},
      {"QueueDirectories", list},
      {"RootDirectory", text},
      {"RunAtLoad", boolean},
      {"ServiceIPC", boolean},
      {"SessionCreate", boolean},
      {"Sockets", dictionary},
      {"SoftResourceLimits", dictionary},
      {"StandardErrorPath", text},
      {"StandardInPath", text},
      {"StandardOutPath", text},
      {"StartCalendarInterval", dictionary | list},
      {"StartInterval", integer},
      {"StartOnMount", boolean},
      {"ThrottleInterval", integer},
      {"TimeOut", integer},
      {"Umask", integer | text},
      {"UserName", text},
      {"WaitForDebugger", boolean},
      {"WatchPaths", list},
      {"WorkingDirectory", text},
      {"inetdCompatibility", dictionary},
  };
  return keys;
}

uint8_t kindOf(plist_t value) {
  switch (plist_get_node_type(value)) {
    case PLIST_BOOLEAN:
      return boolean;
    case PLIST_UINT:
      return integer;
    case PLIST_STRING:
      return text;
    case PLIST_ARRAY:
      return list;
    case PLIST_DICT:
      return dictionary;
    default:
      return 0;
  }
}

/// "true or false", "a whole number", ... for the types a key takes.
std::string expectedText(uint8_t kinds) {
  std::vector<std::string> names;
  if (kinds & boolean)
    names.push_back(L("true 或 false", "true or false"));
  if (kinds & integer)
    names.push_back(L("整数", "a whole number"));
  if (kinds & text)
    names.push_back(L("文本", "text"));
  if (kinds & list)
    names.push_back(L("列表", "a list"));
  if (kinds & dictionary)
    names.push_back(L("字典", "a dictionary"));
  std::string joined;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0)
      joined += i + 1 == names.size() ? L("或", " or ") : L("、", ", ");
    joined += names[i];
  }
  return joined;
}

/// "write <true/> or <false/>", ... for the types a key takes.
std::string tagsText(uint8_t kinds) {
  std::vector<std::string> tags;
  if (kinds & boolean)
    tags.push_back("<true/>");
  if (kinds & boolean)
    tags.push_back("<false/>");
  if (kinds & integer)
    tags.push_back("<integer>");
  if (kinds & text)
    tags.push_back("<string>");
  if (kinds & list)
    tags.push_back("<array>");
  if (kinds & dictionary)
    tags.push_back("<dict>");
  std::string joined;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i > 0)
      joined += i + 1 == tags.size() ? L(" 或 ", " or ") : ", ";
    joined += tags[i];
  }
  return L([&] { return "请写成 " + joined; }, [&] { return "write " + joined; });
}

/// Latin text after Chinese gets a space before it.
std::string spacedAfterIdeograph(const std::string& text) {
  return !text.empty() && static_cast<unsigned char>(text[0]) < 0x80 ? " " + text : text;
}

AgentProblem wrongType(const std::string& name, plist_t value, uint8_t kinds) {
  const std::string is = valueDescription(value);
  const std::string expected = expectedText(kinds);
  return keyProblem(AgentProblem::error, "wrong-type",
                    L([&] { return name + " 是" + is + "，不是" + spacedAfterIdeograph(expected); },
                      [&] { return name + " is " + is + ", not " + expected; }),
                    tagsText(kinds));
}

AgentProblem unknownKey(const std::string& name, const std::vector<std::string_view>& known) {
  const std::string shown = visibleControlCharacters(name);
  if (std::optional<std::string_view> meant = nearestKey(name, known))
    return keyProblem(AgentProblem::error, "near-key", shown,
                      L([&] { return "是不是想写 " + std::string(*meant) + "？"; },
                        [&] { return "did you mean " + std::string(*meant) + "?"; }));
  return keyProblem(AgentProblem::note, "unknown-key",
                    L([&] { return shown + " 不是服务管理器认识的键"; },
                      [&] { return shown + " is not a key the service manager knows"; }),
                    L("它会被忽略；若是写错了请改正", "it is ignored; correct it if it is a typo"));
}

std::vector<std::string_view> names(const std::map<std::string_view, uint8_t>& keys) {
  std::vector<std::string_view> result;
  for (const auto& [name, kinds] : keys)
    result.push_back(name);
  return result;
}

std::vector<std::string_view> calendarNames() {
  std::vector<std::string_view> result;
  for (const CalendarField& field : kCalendarFields)
    result.push_back(field.key);
  return result;
}

/// One dictionary of StartCalendarInterval.
void checkCalendarEntry(plist_t entry, Diagnosis& found) {
  if (plist_get_node_type(entry) != PLIST_DICT) {
    found.push_back(wrongType("StartCalendarInterval", entry, dictionary));
    return;
  }
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(entry, &iterator);
  for (;;) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(entry, iterator, &rawKey, &value);
    if (rawKey == nullptr)
      break;
    const std::string key(rawKey);
    std::free(rawKey);
    const auto* field = std::find_if(std::begin(kCalendarFields), std::end(kCalendarFields),
                                     [&](const CalendarField& f) { return f.key == key; });
    const std::string name = "StartCalendarInterval " + key;
    if (field == std::end(kCalendarFields)) {
      found.push_back(unknownKey(key, calendarNames()));
      continue;
    }
    if (plist_get_node_type(value) != PLIST_UINT) {
      found.push_back(wrongType(name, value, integer));
      continue;
    }
    uint64_t raw = 0;
    plist_get_uint_val(value, &raw);
    const auto number = static_cast<int64_t>(raw);  // negative numbers arrive as two's complement
    if (number >= field->least && number <= field->most)
      continue;
    const std::string range = std::to_string(field->least), top = std::to_string(field->most);
    found.push_back(keyProblem(
        AgentProblem::error, "calendar-range",
        L([&] { return name + " 是 " + std::to_string(number) + "，超出 " + range + " 到 " + top; },
          [&] {
            return name + " is " + std::to_string(number) + ", outside " + range + " to " + top;
          }),
        L([&] { return "请用 " + range + " 到 " + top + " 之间的值"; },
          [&] { return "use a value from " + range + " to " + top; })));
  }
  std::free(iterator);
}

void checkCalendar(plist_t value, Diagnosis& found) {
  if (plist_get_node_type(value) != PLIST_ARRAY) {
    checkCalendarEntry(value, found);
    return;
  }
  for (uint32_t i = 0; i < plist_array_get_size(value); ++i)
    checkCalendarEntry(plist_array_get_item(value, i), found);
}

void checkInterval(plist_t value, Diagnosis& found) {
  uint64_t raw = 0;
  plist_get_uint_val(value, &raw);
  const auto seconds = static_cast<int64_t>(raw);
  if (seconds > 0)
    return;
  const std::string number = std::to_string(seconds);
  found.push_back(keyProblem(
      AgentProblem::error, "interval-zero",
      L([&] { return "StartInterval 是 " + number; }, [&] { return "StartInterval is " + number; }),
      L("请写两次运行之间的秒数，至少为 1", "give the seconds between runs, 1 or more")));
}

/// Edits that turn `a` into `b`: insertions, deletions, changes and swaps of neighbours.
size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i)
    d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j)
    d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

}  // namespace

AgentProblem keyProblem(AgentProblem::Severity severity, std::string kind, std::string cause,
                        std::string fix) {
  AgentProblem problem{severity, std::move(kind), std::move(cause), std::move(fix)};
  problem.causeStartsWithName = true;
  return problem;
}

std::optional<std::string_view> nearestKey(std::string_view key,
                                           const std::vector<std::string_view>& known) {
  const std::string lower = lowered(key);
  const size_t allowed = key.size() >= 8 ? 2 : 1;
  std::optional<std::string_view> best;
  size_t bestDistance = allowed + 1;
  for (std::string_view candidate : known) {
    // Case is the commonest slip and counts for nothing.
    const size_t distance = editDistance(lower, lowered(candidate));
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string valueDescription(plist_t value) {
  switch (plist_get_node_type(value)) {
    case PLIST_BOOLEAN: {
      uint8_t on = 0;
      plist_get_bool_val(value, &on);
      return on ? "true" : "false";
    }
    case PLIST_UINT: {
      uint64_t raw = 0;
      plist_get_uint_val(value, &raw);
      const std::string number = std::to_string(static_cast<int64_t>(raw));
      return L([&] { return "数字 " + number; }, [&] { return "the number " + number; });
    }
    case PLIST_STRING: {
      char* raw = nullptr;
      plist_get_string_val(value, &raw);
      std::string shown = visibleControlCharacters(raw != nullptr ? raw : "");
      std::free(raw);
      if (shown.size() > 40)
        shown = shown.substr(0, 40) + "…";
      return L([&] { return "文本“" + shown + "”"; }, [&] { return "the text \"" + shown + "\""; });
    }
    case PLIST_REAL:
      return L("小数", "a decimal number");
    case PLIST_ARRAY:
      return L("列表", "a list");
    case PLIST_DICT:
      return L("字典", "a dictionary");
    case PLIST_DATE:
      return L("日期", "a date");
    case PLIST_DATA:
      return L("二进制数据", "data");
    default:
      return L("未知类型的值", "a value of unknown type");
  }
}

void checkKeys(plist_t dictionary, Diagnosis& found) {
  const auto& keys = knownKeys();
  static const std::vector<std::string_view> known = names(keys);
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(dictionary, &iterator);
  for (;;) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dictionary, iterator, &rawKey, &value);
    if (rawKey == nullptr)
      break;
    const std::string key(rawKey);
    std::free(rawKey);
    const auto entry = keys.find(key);
    if (entry == keys.end()) {
      found.push_back(unknownKey(key, known));
      continue;
    }
    if (key == "Label" || key == "Program" || key == "ProgramArguments")
      continue;
    if ((kindOf(value) & entry->second) == 0) {
      found.push_back(wrongType(key, value, entry->second));
      continue;
    }
    if (key == "StartCalendarInterval")
      checkCalendar(value, found);
    else if (key == "StartInterval")
      checkInterval(value, found);
  }
  std::free(iterator);
}

}  // namespace morvane::diagnosis
