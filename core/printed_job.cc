#include "printed_job.h"

#include <charconv>

#include "agents.h"
#include "language.h"
#include "platform.h"
#include "shell.h"

namespace morvane::Agents {

std::string_view takeLine(std::string_view text, size_t& at) {
  size_t end = text.find('\n', at);
  if (end == std::string_view::npos)
    end = text.size();
  const std::string_view line = text.substr(at, end - at);
  at = end + 1;
  return line;
}

std::optional<std::time_t> parsePrintedNextRun(std::string_view text) {
  constexpr std::string_view kKey = "next run = ";
  size_t at = 0;
  while (at < text.size()) {
    std::string_view line = takeLine(text, at);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || !line.substr(start).starts_with(kKey))
      continue;
    // The service's own line, not one of a block nested in it (such as the run history).
    if (start != 1 || line[0] != '\t')
      continue;
    line = line.substr(start + kKey.size());
    std::time_t seconds = 0;
    const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), seconds);
    if (error != std::errc() || rest != line.data() + line.size() || seconds <= 0)
      return std::nullopt;
    return seconds;
  }
  return std::nullopt;
}

Result<PrintedJob> printedJob(const std::string& label, double timeout) {
  const ShellResult printed = Shell::run(platform::toolPath(platform::Tool::launchctl),
                                         {"print", serviceTarget(label)}, timeout);
  if (printed.timedOut) {
    const std::string seconds = std::to_string(static_cast<long long>(timeout));
    return fail(L([&] { return "launchctl print 在 " + seconds + " 秒内没有回应"; },
                  [&] { return "launchctl print did not answer within " + seconds + " seconds"; }));
  }
  if (!printed.ok()) {
    const std::string reason = printed.message();
    return fail(reason.empty() ? "launchctl print: " + std::to_string(printed.status) : reason);
  }
  return PrintedJob{parsePrintedRuns(printed.standardOutput).value_or(Runs{}),
                    parsePrintedNextRun(printed.standardOutput)};
}

}  // namespace morvane::Agents
