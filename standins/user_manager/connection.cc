#include "connection.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "systemd_library.h"

namespace user_manager {

namespace systemd = morvane::systemd;

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";

/// How long one call may take before the manager counts as not answering.
constexpr std::uint64_t kCallTimeoutUsec = 10'000'000;

/// Frees an sd_bus_error at the end of a scope.
struct ErrorHolder {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~ErrorHolder() { systemd::sd_bus_error_free(&error); }
};

/// Frees a message at the end of a scope.
struct MessageHolder {
  sd_bus_message* message = nullptr;
  ~MessageHolder() { systemd::sd_bus_message_unref(message); }
};

/// An sd-bus address for a socket path: every byte outside the safe set percent-encoded.
std::string socketAddress(const std::filesystem::path& socket) {
  std::string address = "unix:path=";
  for (const unsigned char c : socket.string()) {
    if (std::isalnum(c) || std::strchr("-_/.\\", c) != nullptr) {
      address += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02x", c);
      address += escaped;
    }
  }
  return address;
}

}  // namespace

std::string unitObjectPath(const std::string& name) {
  char* path = nullptr;
  if (systemd::sd_bus_path_encode("/org/freedesktop/systemd1/unit", name.c_str(), &path) < 0) {
    throw ManagerError("cannot name the unit " + name);
  }
  std::string result = path;
  std::free(path);
  return result;
}

[[noreturn]] void raise(const std::string& what, const sd_bus_error* error, int result) {
  std::string text = "the systemd user manager failed at " + what + ": ";
  if (error != nullptr && systemd::sd_bus_error_is_set(error) && error->message != nullptr) {
    text += error->message;
  } else {
    text += std::strerror(-result);
  }
  throw ManagerError(text);
}

bool isLive(const std::string& activeState) {
  return activeState == "active" || activeState == "activating" || activeState == "deactivating" ||
         activeState == "reloading";
}

/// The bus and what outlives moves of the Connection: the finished jobs the JobRemoved match
/// collects.
struct Connection::Shared {
  sd_bus* bus = nullptr;
  sd_bus_slot* jobRemoved = nullptr;
  std::map<std::string, std::string> finishedJobs;  ///< job path → its result
  std::filesystem::path runtimeDirectory;
  ~Shared() {
    systemd::sd_bus_slot_unref(jobRemoved);
    systemd::sd_bus_flush_close_unref(bus);
  }
};

std::filesystem::path userRuntimeDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    return runtime;
  }
  return "/run/user/" + std::to_string(getuid());
}

std::expected<Connection, std::string> Connection::open(const std::filesystem::path& runtime) {
  const std::filesystem::path socket = runtime / "systemd" / "private";
  std::error_code missing;
  if (!std::filesystem::exists(socket, missing)) {
    return std::unexpected(socket.string() + " does not exist");
  }
  if (systemd::library() == nullptr) {
    return std::unexpected("libsystemd is not installed");
  }
  auto shared = std::make_unique<Shared>();
  shared->runtimeDirectory = runtime;
  if (systemd::sd_bus_new(&shared->bus) < 0 ||
      systemd::sd_bus_set_address(shared->bus, socketAddress(socket).c_str()) < 0) {
    return std::unexpected("cannot set up a connection to " + socket.string());
  }
  systemd::sd_bus_set_method_call_timeout(shared->bus, kCallTimeoutUsec);
  if (const int started = systemd::sd_bus_start(shared->bus); started < 0) {
    return std::unexpected(socket.string() + ": " + std::strerror(-started));
  }
  // A direct connection receives the manager's signals without subscribing.
  const int matched = systemd::sd_bus_match_signal(
      shared->bus, &shared->jobRemoved, nullptr, kManagerPath, kManager, "JobRemoved",
      [](sd_bus_message* message, void* userdata, sd_bus_error*) {
        std::uint32_t id = 0;
        const char* job = nullptr;
        const char* unit = nullptr;
        const char* result = nullptr;
        if (systemd::sd_bus_message_read(message, "uoss", &id, &job, &unit, &result) >= 0 &&
            job != nullptr) {
          static_cast<Shared*>(userdata)->finishedJobs[job] = result != nullptr ? result : "";
        }
        return 0;
      },
      shared.get());
  if (matched < 0) {
    return std::unexpected("cannot watch the jobs of " + socket.string());
  }
  return Connection(std::move(shared));
}

Connection::Connection(std::unique_ptr<Shared> shared) : shared_(std::move(shared)) {}
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;
Connection::~Connection() = default;

const std::filesystem::path& Connection::runtimeDirectory() const {
  return shared_->runtimeDirectory;
}

sd_bus* Connection::bus() const {
  return shared_->bus;
}

std::vector<UnitStatus> Connection::listUnits(const std::vector<std::string>& patterns) {
  ErrorHolder error;
  MessageHolder call;
  MessageHolder reply;
  int r = systemd::sd_bus_message_new_method_call(shared_->bus, &call.message, kDestination,
                                                  kManagerPath, kManager, "ListUnitsByPatterns");
  if (r >= 0) {
    r = systemd::sd_bus_message_append_strv(call.message, nullptr);
  }
  if (r >= 0) {
    std::vector<const char*> words;
    for (const std::string& pattern : patterns) {
      words.push_back(pattern.c_str());
    }
    words.push_back(nullptr);
    r = systemd::sd_bus_message_append_strv(call.message, const_cast<char**>(words.data()));
  }
  if (r >= 0) {
    r = systemd::sd_bus_call(shared_->bus, call.message, 0, &error.error, &reply.message);
  }
  if (r < 0) {
    raise("listing units", &error.error, r);
  }
  std::vector<UnitStatus> units;
  r = systemd::sd_bus_message_enter_container(reply.message, 'a', "(ssssssouso)");
  while (r > 0) {
    const char* name = nullptr;
    const char* description = nullptr;
    const char* active = nullptr;
    const char* sub = nullptr;
    r = systemd::sd_bus_message_read(reply.message, "(ssssssouso)", &name, &description, nullptr,
                                     &active, &sub, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (r > 0) {
      units.push_back({name, description, active, sub});
    }
  }
  if (r < 0) {
    raise("reading the list of units", nullptr, r);
  }
  return units;
}

std::optional<UnitStatus> Connection::unit(const std::string& name) {
  std::vector<UnitStatus> units = listUnits({name});
  for (UnitStatus& status : units) {
    if (status.name == name) {
      return std::move(status);
    }
  }
  return std::nullopt;
}

namespace {

/// Calls a Manager method taking a unit name and "replace", returning the job path; nullopt
/// when the unit is not loaded and `missingIsFine`.
std::optional<std::string> queueJob(sd_bus* bus, const char* method, const std::string& name,
                                    bool missingIsFine) {
  ErrorHolder error;
  MessageHolder reply;
  int r = systemd::sd_bus_call_method(bus, kDestination, kManagerPath, kManager, method,
                                      &error.error, &reply.message, "ss", name.c_str(), "replace");
  if (r < 0 && missingIsFine &&
      systemd::sd_bus_error_has_name(&error.error, "org.freedesktop.systemd1.NoSuchUnit")) {
    return std::nullopt;
  }
  const char* job = nullptr;
  if (r >= 0) {
    r = systemd::sd_bus_message_read(reply.message, "o", &job);
  }
  if (r < 0 || job == nullptr) {
    raise(std::string(method) + " " + name, &error.error, r);
  }
  return job;
}

}  // namespace

std::string Connection::startUnit(const std::string& name) {
  return *queueJob(shared_->bus, "StartUnit", name, false);
}

std::optional<std::string> Connection::stopUnit(const std::string& name) {
  return queueJob(shared_->bus, "StopUnit", name, true);
}

void Connection::resetFailed(const std::string& name) {
  ErrorHolder error;
  const int r =
      systemd::sd_bus_call_method(shared_->bus, kDestination, kManagerPath, kManager,
                                  "ResetFailedUnit", &error.error, nullptr, "s", name.c_str());
  if (r < 0 &&
      !systemd::sd_bus_error_has_name(&error.error, "org.freedesktop.systemd1.NoSuchUnit")) {
    raise("ResetFailedUnit " + name, &error.error, r);
  }
}

std::string Connection::jobResult(const std::string& job) const {
  const auto found = shared_->finishedJobs.find(job);
  return found != shared_->finishedJobs.end() ? found->second : "";
}

std::set<std::string> Connection::awaitJobs(std::set<std::string> jobs,
                                            std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    std::erase_if(jobs,
                  [&](const std::string& job) { return shared_->finishedJobs.contains(job); });
    if (jobs.empty()) {
      return jobs;
    }
    const int processed = systemd::sd_bus_process(shared_->bus, nullptr);
    if (processed < 0) {
      raise("waiting for its jobs", nullptr, processed);
    }
    if (processed > 0) {
      continue;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      return jobs;
    }
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    if (const int waited = systemd::sd_bus_wait(shared_->bus, static_cast<std::uint64_t>(usec));
        waited < 0) {
      raise("waiting for its jobs", nullptr, waited);
    }
  }
}

std::uint64_t Connection::unitProperty(const std::string& name, const std::string& interface,
                                       const std::string& property) {
  ErrorHolder error;
  std::uint64_t value = 0;
  const std::string iface = "org.freedesktop.systemd1." + interface;
  const int r = systemd::sd_bus_get_property_trivial(shared_->bus, kDestination,
                                                     unitObjectPath(name).c_str(), iface.c_str(),
                                                     property.c_str(), &error.error, 't', &value);
  if (r < 0) {
    raise("reading " + property + " of " + name, &error.error, r);
  }
  return value;
}

std::map<std::string, std::string> Connection::environment() {
  ErrorHolder error;
  char** entries = nullptr;
  const int r = systemd::sd_bus_get_property_strv(shared_->bus, kDestination, kManagerPath,
                                                  kManager, "Environment", &error.error, &entries);
  if (r < 0) {
    raise("reading its environment", &error.error, r);
  }
  std::map<std::string, std::string> environment;
  for (char** entry = entries; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) {
      environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    std::free(*entry);
  }
  std::free(entries);
  return environment;
}

void Connection::enableUnitFiles(const std::vector<std::string>& names) {
  ErrorHolder error;
  MessageHolder call;
  int r = systemd::sd_bus_message_new_method_call(shared_->bus, &call.message, kDestination,
                                                  kManagerPath, kManager, "EnableUnitFiles");
  std::vector<const char*> words;
  for (const std::string& name : names) {
    words.push_back(name.c_str());
  }
  words.push_back(nullptr);
  if (r >= 0) {
    r = systemd::sd_bus_message_append_strv(call.message, const_cast<char**>(words.data()));
  }
  if (r >= 0) {
    r = systemd::sd_bus_message_append(call.message, "bb", 0, 1);
  }
  if (r >= 0) {
    r = systemd::sd_bus_call(shared_->bus, call.message, 0, &error.error, nullptr);
  }
  if (r < 0) {
    raise("enabling " + names.front(), &error.error, r);
  }
}

}  // namespace user_manager
