#include "state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

namespace launchctl {
namespace {

using nlohmann::json;

/// Converts a process identity to its JSON form.
json ToJson(const ProcessId& id) {
  return {{"pid", id.pid}, {"start", id.start}};
}

/// Returns the object stored under `key`, or null when there is none.
const json* ObjectAt(const json& doc, const char* key) {
  const auto found = doc.find(key);
  return found != doc.end() && found->is_object() ? &*found : nullptr;
}

/// Reads the process identity stored under `key`, tolerating a missing entry.
ProcessId ProcessFromJson(const json& doc, const char* key) {
  const json* value = ObjectAt(doc, key);
  if (value == nullptr) {
    return {};
  }
  return {value->value("pid", pid_t{0}), value->value("start", std::uint64_t{0})};
}

json ToJson(const JobRecord& job) {
  return {{"plist", job.plist_path},
          {"job", ToJson(job.job)},
          {"supervisor", ToJson(job.supervisor)},
          {"last_status", job.last_status},
          {"exit_timeout", job.exit_timeout},
          {"being_removed", job.being_removed}};
}

JobRecord JobFromJson(const json& value) {
  JobRecord job;
  job.plist_path = value.value("plist", std::string());
  job.job = ProcessFromJson(value, "job");
  job.supervisor = ProcessFromJson(value, "supervisor");
  job.last_status = value.value("last_status", 0);
  job.exit_timeout = value.value("exit_timeout", 5u);
  job.being_removed = value.value("being_removed", false);
  return job;
}

/// Builds a State from the parsed file; throws json exceptions on a malformed file.
State StateFromJson(const json& doc) {
  State state;
  if (const json* disabled = ObjectAt(doc, "disabled")) {
    for (const auto& [label, value] : disabled->items()) {
      state.disabled[label] = value.get<bool>();
    }
  }
  if (const json* jobs = ObjectAt(doc, "jobs")) {
    for (const auto& [label, value] : jobs->items()) {
      state.jobs[label] = JobFromJson(value);
    }
  }
  return state;
}

/// Writes all of `text` to `fd`; returns false on failure.
bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

State LoadState(const std::filesystem::path& state_dir) {
  std::ifstream in(state_dir / "state.json");
  if (!in) {
    return {};
  }
  std::stringstream text;
  text << in.rdbuf();
  const json doc = json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) {
    return {};
  }
  try {
    return StateFromJson(doc);
  } catch (const json::exception&) {
    return {};
  }
}

void SaveState(const std::filesystem::path& state_dir, const State& state) {
  json doc = {{"disabled", json::object()}, {"jobs", json::object()}};
  for (const auto& [label, disabled] : state.disabled) {
    doc["disabled"][label] = disabled;
  }
  for (const auto& [label, job] : state.jobs) {
    doc["jobs"][label] = ToJson(job);
  }
  const std::filesystem::path final_path = state_dir / "state.json";
  const std::filesystem::path temp_path = state_dir / ("state.json." + std::to_string(getpid()));
  const int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), temp_path.string());
  }
  const bool written = WriteAll(fd, doc.dump(2) + "\n") && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written || rename(temp_path.c_str(), final_path.c_str()) != 0) {
    const int failure = written ? errno : error;
    unlink(temp_path.c_str());
    throw std::system_error(failure, std::generic_category(), final_path.string());
  }
}

}  // namespace launchctl
