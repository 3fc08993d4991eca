// The agents' log on Linux: the journal of the user's systemd manager, for the agents the
// bundled launchctl runs there (see agent_units.h).

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "agent_units.h"
#include "file_io.h"
#include "language.h"
#include "log_tail.h"
#include "platform.h"
#include "systemd_library.h"
#include "utf8_repair.h"

namespace morvane::platform {
namespace {

/// Closes a journal at the end of a scope.
struct JournalHolder {
  sd_journal* journal = nullptr;
  ~JournalHolder() { systemd::sd_journal_close(journal); }
};

Failure journalFailure(int error) {
  return Failure{L([&] { return "读不到日志：" + describeErrno(-error); },
                   [&] { return "the journal cannot be read: " + describeErrno(-error); })};
}

/// Whether `relative` exists in the user's runtime directory: XDG_RUNTIME_DIR, or where systemd
/// puts it when that is unset (as under cron, su or sudo -u).
bool existsUnderRuntimeDirectory(const std::filesystem::path& relative) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path directory =
      runtime != nullptr && runtime[0] == '/'
          ? std::filesystem::path(runtime)
          : std::filesystem::path("/run/user/" + std::to_string(::getuid()));
  std::error_code ignored;
  return std::filesystem::exists(directory / relative, ignored);
}

/// Whether the unit file of the agent's service is loaded in the user's manager.
bool loadedAsUnit(const std::string& unit) {
  return existsUnderRuntimeDirectory(std::filesystem::path("systemd") / "user" / unit);
}

/// The message of the current entry: its text, cut and repaired as a file's line would be.
std::string message(sd_journal* journal) {
  const void* data = nullptr;
  size_t length = 0;
  if (systemd::sd_journal_get_data(journal, "MESSAGE", &data, &length) < 0)
    return "";
  std::string_view text(static_cast<const char*>(data), length);
  text.remove_prefix(std::min(text.size(), std::string_view("MESSAGE=").size()));
  if (text.size() > kTailLineLimit)
    return "…" + repairUtf8(std::string(text.substr(text.size() - kTailLineLimit)));
  return repairUtf8(std::string(text));
}

/// Adds one more alternative to the journal's filter: every match in `matches` at once.
int addMatches(sd_journal* journal, std::initializer_list<std::string> matches) {
  for (const std::string& match : matches)
    if (int r = systemd::sd_journal_add_match(journal, match.data(), match.size()); r < 0)
      return r;
  return systemd::sd_journal_add_disjunction(journal);
}

/// The last `count` lines the agent's processes wrote to the journal, oldest first.
Result<std::vector<std::string>> journalLines(const std::string& unit, size_t count) {
  JournalHolder holder;
  if (int r = systemd::sd_journal_open(&holder.journal, SD_JOURNAL_LOCAL_ONLY); r < 0)
    return std::unexpected(journalFailure(r));
  // The unit's output carries its name as identifier (see the launchctl's unit file); what its
  // processes log otherwise is known by their unit, while they are there to be asked.
  const std::string userMatch = "_UID=" + std::to_string(::getuid());
  for (const char* field : {"SYSLOG_IDENTIFIER=", "_SYSTEMD_USER_UNIT="}) {
    const std::string unitMatch = field + unit;
    if (int r = addMatches(holder.journal, {unitMatch, userMatch}); r < 0)
      return std::unexpected(journalFailure(r));
  }
  if (int r = systemd::sd_journal_seek_tail(holder.journal); r < 0)
    return std::unexpected(journalFailure(r));
  std::vector<std::string> lines;
  while (lines.size() < count) {
    const int r = systemd::sd_journal_previous(holder.journal);
    if (r < 0)
      return std::unexpected(journalFailure(r));
    if (r == 0)
      break;
    lines.push_back(message(holder.journal));
  }
  std::reverse(lines.begin(), lines.end());
  return lines;
}

}  // namespace

std::optional<ServiceLog> agentServiceLog(const std::string& label, size_t count) {
  // Only a user manager runs agents as units; without one, libsystemd is not even loaded.
  if (!existsUnderRuntimeDirectory(std::filesystem::path("systemd") / "private") ||
      systemd::library() == nullptr)
    return std::nullopt;
  const std::string unit = AgentUnits::unitName(label, ".service");
  // One line at least, to tell whether there is a log at all.
  Result<std::vector<std::string>> lines = journalLines(unit, std::max<size_t>(count, 1));
  const bool logged = lines && !lines->empty();
  if (!logged && !loadedAsUnit(unit))
    return std::nullopt;
  if (count == 0 && lines)
    lines->clear();
  return ServiceLog{unit, std::move(lines)};
}

}  // namespace morvane::platform
