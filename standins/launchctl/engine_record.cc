#include "engine_record.h"

#include <dirent.h>

#include <stdexcept>

#include "agent_units.h"
#include "file_io.h"

namespace launchctl {
namespace {

constexpr const char* kFileName = "engine";
constexpr std::string_view kBuiltin = "builtin\n";
constexpr std::string_view kSystemd = "systemd\n";

}  // namespace

std::optional<EngineRecord> readEngineRecord(const std::filesystem::path& stateDir) {
  const auto text = morvane::readRegularFile(stateDir / kFileName);
  if (!text) {
    return std::nullopt;
  }
  if (*text == kBuiltin) {
    return EngineRecord{};
  }
  if (text->starts_with(kSystemd) && text->ends_with('\n') && text->size() > kSystemd.size() + 1 &&
      (*text)[kSystemd.size()] == '/') {
    return EngineRecord{true, text->substr(kSystemd.size(), text->size() - kSystemd.size() - 1)};
  }
  return std::nullopt;
}

void writeEngineRecord(const std::filesystem::path& stateDir, const EngineRecord& record) {
  const std::string text = record.systemd
                               ? std::string(kSystemd) + record.runtimeDirectory.string() + "\n"
                               : std::string(kBuiltin);
  if (const morvane::Outcome written = morvane::writeFileAtomically(stateDir / kFileName, text);
      !written) {
    throw std::runtime_error(written.error().text);
  }
}

bool systemdHoldsJobs(const std::filesystem::path& runtimeDirectory) {
  DIR* folders = opendir((runtimeDirectory / "launchagents").c_str());
  if (folders == nullptr) {
    return false;
  }
  bool found = false;
  while (const dirent* entry = readdir(folders)) {
    if (std::string_view(entry->d_name).starts_with(morvane::AgentUnits::kPrefix)) {
      found = true;
      break;
    }
  }
  closedir(folders);
  return found;
}

}  // namespace launchctl
