#include "service_runtimes.h"

#include <cerrno>
#include <type_traits>

#include "systemd_library.h"

namespace user_manager {

namespace systemd = morvane::systemd;

namespace {

static_assert(std::is_same_v<pid_t, std::int32_t>, "a main pid is stored as an int32 property");

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kService = "org.freedesktop.systemd1.Service";

/// How long the manager may leave every answer unsent before it counts as not answering.
constexpr std::uint64_t kAnswerTimeoutUsec = 10'000'000;

/// Where one answer goes: a property of a service's runtime and the batch that waits for it.
struct PendingGet {
  sd_bus_slot* slot = nullptr;
  std::int32_t* target = nullptr;
  char type = 'i';
  std::size_t* outstanding = nullptr;
  bool* unanswered = nullptr;
};

/// Stores one answer. A unit that left memory since it was listed answers with an error or
/// nothing usable: its property stays 0, as for a service that never ran. The answer sd-bus makes
/// up for a call that timed out or whose connection closed is a failure of the whole batch.
int onProperty(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* get = static_cast<PendingGet*>(userdata);
  --*get->outstanding;
  if (systemd::sd_bus_message_is_method_error(reply, "org.freedesktop.DBus.Error.NoReply")) {
    *get->unanswered = true;
    return 0;
  }
  const char contents[2] = {get->type, '\0'};
  if (systemd::sd_bus_message_is_method_error(reply, nullptr) ||
      systemd::sd_bus_message_enter_container(reply, 'v', contents) < 0) {
    return 0;
  }
  if (get->type == 'u') {
    std::uint32_t value = 0;
    if (systemd::sd_bus_message_read_basic(reply, 'u', &value) >= 0) {
      *get->target = static_cast<std::int32_t>(value);
    }
  } else {
    systemd::sd_bus_message_read_basic(reply, 'i', get->target);
  }
  return 0;
}

}  // namespace

/// The answers and their slots; it never moves, as sd-bus holds pointers into it.
struct PendingRuntimes::Batch {
  std::vector<ServiceRuntime> runtimes;
  std::vector<PendingGet> gets;
  std::size_t outstanding = 0;  ///< Answers not yet read: counted, never searched for.
  bool unanswered = false;

  ~Batch() {
    for (PendingGet& get : gets) {
      systemd::sd_bus_slot_unref(get.slot);
    }
  }
};

PendingRuntimes::PendingRuntimes(Connection& connection,
                                 const std::vector<RuntimeRequest>& requests)
    : connection_(connection), batch_(std::make_unique<Batch>()) {
  Batch& batch = *batch_;
  batch.runtimes.resize(requests.size());
  std::size_t asked = 0;
  for (const RuntimeRequest& request : requests) {
    asked += (request.mainPid ? 1 : 0) + (request.lastExit ? 2 : 0);
  }
  batch.gets.reserve(asked);  // the slots point into it
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const RuntimeRequest& request = requests[i];
    ServiceRuntime& runtime = batch.runtimes[i];
    struct Asked {
      bool wanted;
      const char* property;
      std::int32_t* target;
      char type;
    };
    const Asked properties[] = {
        {request.mainPid, "MainPID", &runtime.mainPid, 'u'},
        {request.lastExit, "ExecMainCode", &runtime.execMainCode, 'i'},
        {request.lastExit, "ExecMainStatus", &runtime.execMainStatus, 'i'},
    };
    if (!request.mainPid && !request.lastExit) {
      continue;
    }
    const std::string path = unitObjectPath(request.service);
    for (const Asked& property : properties) {
      if (!property.wanted) {
        continue;
      }
      PendingGet& get = batch.gets.emplace_back(PendingGet{nullptr, property.target, property.type,
                                                           &batch.outstanding, &batch.unanswered});
      const int r = systemd::sd_bus_call_method_async(connection_.bus(), &get.slot, kDestination,
                                                      path.c_str(), kProperties, "Get", onProperty,
                                                      &get, "ss", kService, property.property);
      if (r < 0) {
        raise("asking for the state of " + request.service, nullptr, r);
      }
      ++batch.outstanding;
    }
  }
}

PendingRuntimes::~PendingRuntimes() = default;

std::vector<ServiceRuntime> PendingRuntimes::await() {
  Batch& batch = *batch_;
  sd_bus* bus = connection_.bus();
  int failure = 0;
  while (batch.outstanding > 0 && failure == 0) {
    const int processed = systemd::sd_bus_process(bus, nullptr);
    if (processed < 0) {
      failure = processed;
    } else if (processed == 0) {
      if (const int waited = systemd::sd_bus_wait(bus, kAnswerTimeoutUsec); waited <= 0) {
        failure = waited < 0 ? waited : -ETIMEDOUT;
      }
    }
  }
  if (failure == 0 && batch.unanswered) {
    failure = -ETIMEDOUT;
  }
  if (failure < 0) {
    raise("reporting the state of its services", nullptr, failure);
  }
  return std::move(batch.runtimes);
}

std::vector<ServiceRuntime> serviceRuntimes(Connection& connection,
                                            const std::vector<RuntimeRequest>& requests) {
  return PendingRuntimes(connection, requests).await();
}

}  // namespace user_manager
