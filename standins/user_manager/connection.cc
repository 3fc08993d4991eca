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
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

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

/// The object path of a unit.
std::string unitPath(const std::string& name) {
  char* path = nullptr;
  if (systemd::sd_bus_path_encode("/org/freedesktop/systemd1/unit", name.c_str(), &path) < 0) {
    throw ManagerError("cannot name the unit " + name);
  }
  std::string result = path;
  std::free(path);
  return result;
}

}  // namespace

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

namespace {

/// Collects the reply of one asynchronous property Get into a slot.
struct PendingGet {
  sd_bus_slot* slot = nullptr;
  char type = 'u';
  std::int64_t value = 0;
  bool done = false;
  int error = 0;
};

int onProperty(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* pending = static_cast<PendingGet*>(userdata);
  pending->done = true;
  if (systemd::sd_bus_message_is_method_error(reply, nullptr)) {
    pending->error = -EIO;
    return 0;
  }
  const char contents[2] = {pending->type, '\0'};
  int r = systemd::sd_bus_message_enter_container(reply, 'v', contents);
  if (r >= 0 && pending->type == 'u') {
    std::uint32_t value = 0;
    r = systemd::sd_bus_message_read_basic(reply, 'u', &value);
    pending->value = value;
  } else if (r >= 0) {
    std::int32_t value = 0;
    r = systemd::sd_bus_message_read_basic(reply, 'i', &value);
    pending->value = value;
  }
  if (r < 0) {
    pending->error = r;
  }
  return 0;
}

}  // namespace

std::vector<ServiceRuntime> Connection::serviceRuntimes(const std::vector<UnitStatus>& services) {
  struct Property {
    const char* name;
    char type;
  };
  constexpr Property kAsked[] = {{"MainPID", 'u'}, {"ExecMainCode", 'i'}, {"ExecMainStatus", 'i'}};
  constexpr size_t kCount = std::size(kAsked);
  std::vector<PendingGet> pending(services.size() * kCount);
  for (size_t i = 0; i < services.size(); ++i) {
    const std::string path = unitPath(services[i].name);
    const bool running = services[i].subState == "running";
    for (size_t j = 0; j < kCount; ++j) {
      PendingGet& get = pending[i * kCount + j];
      get.type = kAsked[j].type;
      if (running && j > 0) {
        get.done = true;  // reset when the running process started
        continue;
      }
      const int r = systemd::sd_bus_call_method_async(
          shared_->bus, &get.slot, kDestination, path.c_str(), kProperties, "Get", onProperty, &get,
          "ss", "org.freedesktop.systemd1.Service", kAsked[j].name);
      if (r < 0) {
        for (PendingGet& sent : pending) {
          systemd::sd_bus_slot_unref(sent.slot);
        }
        raise("asking for the state of " + services[i].name, nullptr, r);
      }
    }
  }
  const auto allDone = [&] {
    for (const PendingGet& get : pending) {
      if (!get.done) {
        return false;
      }
    }
    return true;
  };
  int failure = 0;
  while (!allDone() && failure == 0) {
    const int processed = systemd::sd_bus_process(shared_->bus, nullptr);
    if (processed < 0) {
      failure = processed;
    } else if (processed == 0) {
      if (const int waited = systemd::sd_bus_wait(shared_->bus, kCallTimeoutUsec); waited <= 0) {
        failure = waited < 0 ? waited : -ETIMEDOUT;
      }
    }
  }
  for (PendingGet& get : pending) {
    systemd::sd_bus_slot_unref(get.slot);
  }
  if (failure < 0) {
    raise("reporting the state of its services", nullptr, failure);
  }
  std::vector<ServiceRuntime> runtimes;
  for (size_t i = 0; i < services.size(); ++i) {
    const PendingGet* got = &pending[i * kCount];
    runtimes.push_back({static_cast<pid_t>(got[0].value), static_cast<std::int32_t>(got[1].value),
                        static_cast<std::int32_t>(got[2].value)});
  }
  return runtimes;
}

std::uint64_t Connection::unitProperty(const std::string& name, const std::string& interface,
                                       const std::string& property) {
  ErrorHolder error;
  std::uint64_t value = 0;
  const std::string iface = "org.freedesktop.systemd1." + interface;
  const int r = systemd::sd_bus_get_property_trivial(shared_->bus, kDestination,
                                                     unitPath(name).c_str(), iface.c_str(),
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
