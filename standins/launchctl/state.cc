#include "state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <system_error>

#include "fd_io.h"
#include "file_io.h"
#include "utf8.h"

namespace launchctl {
namespace {

using nlohmann::json;

/// Converts a process identity to its JSON form.
json toJson(const ProcessId& id) {
  return {{"pid", id.pid}, {"start", id.start}};
}

/// Thrown for a state file that exists but cannot be used.
struct Unusable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A name (label or path) as the state file keeps it. JSON text holds only UTF-8, and names are
/// bytes: one that is not UTF-8 is kept as a NUL, which no name holds, and its bytes in hex.
std::string storedName(const std::string& name) {
  if (isUtf8(name)) {
    return name;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string stored(1, '\0');
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    stored += kDigits[byte >> 4];
    stored += kDigits[byte & 0xf];
  }
  return stored;
}

/// The name storedName kept as `stored`.
std::string nameFromStored(const std::string& stored) {
  if (stored.empty() || stored.front() != '\0') {
    return stored;
  }
  if (stored.size() % 2 == 0) {
    throw Unusable("a name is neither text nor bytes");
  }
  std::string name;
  for (size_t i = 1; i < stored.size(); i += 2) {
    unsigned byte = 0;
    const char* end = stored.data() + i + 2;
    if (std::from_chars(stored.data() + i, end, byte, 16).ptr != end) {
      throw Unusable("a name is neither text nor bytes");
    }
    name += static_cast<char>(byte);
  }
  return name;
}

/// Returns the object stored under `key`, or null when there is none; a value of another type
/// makes the file unusable.
const json* objectAt(const json& doc, const char* key) {
  const auto found = doc.find(key);
  if (found == doc.end()) {
    return nullptr;
  }
  if (!found->is_object()) {
    throw Unusable(std::string("\"") + key + "\" is not an object");
  }
  return &*found;
}

/// Reads the process identity stored under `key`, tolerating a missing entry.
ProcessId processFromJson(const json& doc, const char* key) {
  const json* value = objectAt(doc, key);
  if (value == nullptr) {
    return {};
  }
  return {value->value("pid", pid_t{0}), value->value("start", std::uint64_t{0})};
}

json toJson(const JobRecord& job) {
  return {{"plist", storedName(job.plistPath)},
          {"job", toJson(job.job)},
          {"supervisor", toJson(job.supervisor)},
          {"last_status", job.lastStatus},
          {"exit_timeout", job.exitTimeout},
          {"being_removed", job.beingRemoved},
          {"kill_at", job.killAt},
          {"id", job.id}};
}

JobRecord jobFromJson(const json& value) {
  if (!value.is_object()) {
    throw Unusable("a job is not an object");
  }
  JobRecord job;
  job.plistPath = nameFromStored(value.value("plist", std::string()));
  job.job = processFromJson(value, "job");
  job.supervisor = processFromJson(value, "supervisor");
  job.lastStatus = value.value("last_status", 0);
  job.exitTimeout = value.value("exit_timeout", 5u);
  job.beingRemoved = value.value("being_removed", false);
  job.killAt = value.value("kill_at", std::int64_t{0});
  job.id = value.value("id", std::uint64_t{0});
  return job;
}

/// Builds a State from the parsed file; throws json exceptions on a malformed file.
State stateFromJson(const json& doc) {
  State state;
  if (const json* disabled = objectAt(doc, "disabled")) {
    for (const auto& [label, value] : disabled->items()) {
      state.disabled[nameFromStored(label)] = value.get<bool>();
    }
  }
  if (const json* jobs = objectAt(doc, "jobs")) {
    for (const auto& [label, value] : jobs->items()) {
      state.jobs[nameFromStored(label)] = jobFromJson(value);
    }
  }
  return state;
}

}  // namespace

State loadState(const std::filesystem::path& stateDir) {
  const std::filesystem::path path = stateDir / "state.json";
  const auto text = morvane::readRegularFile(path);
  if (!text && text.error() == ENOENT) {
    return {};
  }
  // A state file that cannot be used is never replaced: saving over it would drop every job and
  // override it holds. Every command fails until someone looks at it.
  const auto unusable = [&](const std::string& reason) {
    return std::runtime_error(path.string() + ": " + reason +
                              "; the file is kept as it is, move it away to start afresh");
  };
  if (!text) {
    throw unusable(std::generic_category().message(text.error()));
  }
  const json doc = json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object() || text->find('\0') != std::string::npos) {
    throw unusable("not a JSON object");
  }
  try {
    return stateFromJson(doc);
  } catch (const json::exception&) {
    throw unusable("wrongly typed value");
  } catch (const Unusable& e) {
    throw unusable(e.what());
  }
}

std::uint64_t newRecordId() {
  std::random_device source;
  return (std::uint64_t{source()} << 32) | source();
}

void saveState(const std::filesystem::path& stateDir, const State& state) {
  json doc = {{"disabled", json::object()}, {"jobs", json::object()}};
  for (const auto& [label, disabled] : state.disabled) {
    doc["disabled"][storedName(label)] = disabled;
  }
  for (const auto& [label, job] : state.jobs) {
    doc["jobs"][storedName(label)] = toJson(job);
  }
  const std::filesystem::path finalPath = stateDir / "state.json";
  const std::filesystem::path tempPath = stateDir / ("state.json." + std::to_string(getpid()));
  const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), tempPath.string());
  }
  const std::string text = doc.dump(2) + "\n";
  const bool written = writeFully(fd, text.data(), text.size()) && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written || rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int failure = written ? errno : error;
    unlink(tempPath.c_str());
    throw std::system_error(failure, std::generic_category(), finalPath.string());
  }
  morvane::removeAbandonedTemporaries(stateDir, "state.json.");
}

}  // namespace launchctl
