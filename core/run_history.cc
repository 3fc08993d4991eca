#include "run_history.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "agent_units.h"
#include "signal_names.h"

namespace morvane {
namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;

constexpr std::pair<RunCause, std::string_view> kCauseWords[] = {
    {RunCause::load, "load"},
    {RunCause::keepAlive, "keepalive"},
    {RunCause::interval, "interval"},
    {RunCause::calendar, "calendar"},
};

std::string momentText(const std::optional<int64_t>& micros) {
  if (!micros)
    return "-";
  char text[40];
  const int64_t seconds = *micros / kMicrosPerSecond;
  const int64_t rest = *micros % kMicrosPerSecond;
  std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, seconds, rest < 0 ? -rest : rest);
  return text;
}

/// "1765292000.123456789" as microseconds (extra decimals dropped), "-" as nothing; false for
/// anything else.
bool parseMoment(std::string_view word, std::optional<int64_t>& moment) {
  if (word == "-") {
    moment.reset();
    return true;
  }
  const size_t dot = word.find('.');
  const std::string_view whole = word.substr(0, dot);
  int64_t seconds = 0;
  if (whole.empty() || whole.front() == '-' ||
      std::from_chars(whole.data(), whole.data() + whole.size(), seconds).ptr !=
          whole.data() + whole.size())
    return false;
  int64_t micros = 0;
  if (dot != std::string_view::npos) {
    const std::string_view decimals = word.substr(dot + 1);
    if (decimals.empty())
      return false;
    int64_t scale = kMicrosPerSecond;
    for (const char digit : decimals) {
      if (digit < '0' || digit > '9')
        return false;
      scale /= 10;
      micros += (digit - '0') * scale;
    }
  }
  if (seconds > INT64_MAX / kMicrosPerSecond - 1)
    return false;
  moment = seconds * kMicrosPerSecond + micros;
  return true;
}

/// The end of a run from its two words; false when they are no end.
bool parseEnd(std::string_view how, std::string_view value, std::optional<int64_t>& status) {
  if (how == "-" && value == "-") {
    status.reset();
    return true;
  }
  int number = 0;
  const bool numeric =
      !value.empty() && std::from_chars(value.data(), value.data() + value.size(), number).ptr ==
                            value.data() + value.size();
  if (how == "exited" && numeric) {
    status = number;
    return true;
  }
  if (how == "killed" || how == "dumped") {
    const std::optional<int> signal = numeric ? std::optional(number) : signalNumber(value);
    if (!signal || *signal <= 0)
      return false;
    status = -*signal;
    return true;
  }
  return false;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(" \t", at);
    if (start == std::string_view::npos)
      break;
    const size_t end = std::min(line.find_first_of(" \t", start), line.size());
    out.push_back(line.substr(start, end - start));
    at = end;
  }
  return out;
}

}  // namespace

std::string runLine(const Run& run) {
  std::string end = "- -";
  if (run.status) {
    const int64_t status = *run.status;
    std::optional<std::string> signal = status < 0 ? signalName(-status) : std::nullopt;
    end = status >= 0 ? "exited " + std::to_string(status)
          : signal    ? "killed " + signal->substr(3)
                      : "killed " + std::to_string(-status);
  }
  std::string_view cause = "-";
  for (const auto& [value, word] : kCauseWords) {
    if (value == run.cause)
      cause = word;
  }
  return momentText(run.started) + " " + momentText(run.ended) + " " + end + " " +
         std::string(cause) + (run.unloaded ? " unloaded" : "");
}

std::optional<Run> parseRunLine(std::string_view line) {
  const std::vector<std::string_view> parts = words(line);
  if (parts.size() != 5 && !(parts.size() == 6 && parts[5] == "unloaded"))
    return std::nullopt;
  Run run;
  if (!parseMoment(parts[0], run.started) || !parseMoment(parts[1], run.ended) ||
      !parseEnd(parts[2], parts[3], run.status))
    return std::nullopt;
  // An end without a status, or a status without an end, is no run of ours.
  if (run.ended.has_value() != run.status.has_value())
    return std::nullopt;
  for (const auto& [value, word] : kCauseWords) {
    if (parts[4] == word)
      run.cause = value;
  }
  run.unloaded = parts.size() == 6;
  return run;
}

Runs parseRuns(std::string_view text) {
  Runs runs;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      end = text.size();
    if (std::optional<Run> run = parseRunLine(text.substr(at, end - at)))
      runs.push_back(*run);
    at = end + 1;
  }
  return runs;
}

std::string runsText(const Runs& runs) {
  std::string text;
  const size_t first = runs.size() > kKeptRuns ? runs.size() - kKeptRuns : 0;
  for (size_t i = first; i < runs.size(); ++i)
    text += runLine(runs[i]) + "\n";
  return text;
}

std::string runRecordName(std::string_view label) {
  return AgentUnits::unitName(label, ".runs");
}

}  // namespace morvane
