#include "unit_launch.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "agent_units.h"
#include "session.h"
#include "systemd_library.h"

namespace open_app {

namespace systemd = morvane::systemd;

namespace {

/// How long open waits for the manager to have started the application.
constexpr auto kStartPatience = std::chrono::seconds(10);

/// Variables systemd sets afresh for each service; the caller's would mislead the application.
constexpr const char* kServiceVariables[] = {"INVOCATION_ID", "JOURNAL_STREAM", "NOTIFY_SOCKET",
                                             "LISTEN_PID",    "LISTEN_FDS",     "LISTEN_FDNAMES",
                                             "MANAGERPID",    "WATCHDOG_PID",   "WATCHDOG_USEC"};

/// The application's environment: the caller's, without what the manager must supply.
std::vector<std::string> applicationEnvironment(bool takeSessionFromManager) {
  std::map<std::string, std::string> environment = ownEnvironment();
  for (const char* name : kServiceVariables)
    environment.erase(name);
  if (takeSessionFromManager) {
    for (const char* name : kSessionVariables)
      environment.erase(name);
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment)
    entries.push_back(name + "=" + value);
  return entries;
}

/// A fresh unit name for one run of the application.
std::string unitNameFor(const std::filesystem::path& executable) {
  std::random_device random;
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
  return "app-" + morvane::AgentUnits::escapedForUnitName(executable.filename().string()) + "-" +
         suffix + ".service";
}

/// Appends one command property (ExecStart, ExecStartPre): the program and its argv.
int appendCommand(sd_bus_message* message, const char* property,
                  const std::vector<std::string>& argv) {
  int r = systemd::sd_bus_message_open_container(message, 'r', "sv");
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "s", property);
  if (r >= 0)
    r = systemd::sd_bus_message_open_container(message, 'v', "a(sasb)");
  if (r >= 0)
    r = systemd::sd_bus_message_open_container(message, 'a', "(sasb)");
  if (r >= 0)
    r = systemd::sd_bus_message_open_container(message, 'r', "sasb");
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "s", argv.front().c_str());
  std::vector<const char*> words;
  for (const std::string& word : argv)
    words.push_back(word.c_str());
  words.push_back(nullptr);
  if (r >= 0)
    r = systemd::sd_bus_message_append_strv(message, const_cast<char**>(words.data()));
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "b", 0);
  for (int level = 0; level < 4 && r >= 0; ++level)
    r = systemd::sd_bus_message_close_container(message);
  return r;
}

/// Appends the environment property.
int appendEnvironment(sd_bus_message* message, const std::vector<std::string>& entries) {
  int r = systemd::sd_bus_message_open_container(message, 'r', "sv");
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "s", "Environment");
  if (r >= 0)
    r = systemd::sd_bus_message_open_container(message, 'v', "as");
  std::vector<const char*> words;
  for (const std::string& entry : entries)
    words.push_back(entry.c_str());
  words.push_back(nullptr);
  if (r >= 0)
    r = systemd::sd_bus_message_append_strv(message, const_cast<char**>(words.data()));
  for (int level = 0; level < 2 && r >= 0; ++level)
    r = systemd::sd_bus_message_close_container(message);
  return r;
}

/// The unit's main process, or 0 when it has none (any more).
pid_t mainPid(sd_bus* bus, const std::string& unit) {
  char* path = nullptr;
  if (systemd::sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.c_str(), &path) < 0)
    return 0;
  uint32_t pid = 0;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int r = systemd::sd_bus_get_property_trivial(bus, "org.freedesktop.systemd1", path,
                                                     "org.freedesktop.systemd1.Service", "MainPID",
                                                     &error, 'u', &pid);
  systemd::sd_bus_error_free(&error);
  std::free(path);
  return r >= 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

std::string launchInUnit(user_manager::Connection& connection,
                         const std::filesystem::path& executable,
                         const std::filesystem::path& opener, pid_t* started) {
  const bool takeSessionFromManager = !hasDisplay(ownEnvironment());
  bool awaitSession = false;
  try {
    awaitSession = takeSessionFromManager && !hasDisplay(connection.environment());
  } catch (const user_manager::ManagerError& error) {
    return error.what();
  }
  const std::string name = unitNameFor(executable);
  sd_bus* bus = connection.bus();
  sd_bus_message* message = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = systemd::sd_bus_message_new_method_call(
      bus, &message, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
      "org.freedesktop.systemd1.Manager", "StartTransientUnit");
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "ss", name.c_str(), "fail");
  if (r >= 0)
    r = systemd::sd_bus_message_open_container(message, 'a', "(sv)");
  const std::string description =
      "Opened " + executable.parent_path().parent_path().parent_path().string();
  if (r >= 0)
    r = systemd::sd_bus_message_append(
        message, "(sv)(sv)(sv)(sv)(sv)(sv)(sv)(sv)", "Description", "s", description.c_str(),
        "Type", "s", "exec", "KillMode", "s", "process", "CollectMode", "s", "inactive-or-failed",
        "TimeoutStartUSec", "t", UINT64_MAX, "StandardInput", "s", "null", "StandardOutput", "s",
        "journal", "StandardError", "s", "journal");
  if (r >= 0)
    r = appendEnvironment(message, applicationEnvironment(takeSessionFromManager));
  if (r >= 0 && awaitSession)
    r = appendCommand(
        message, "ExecStartPre",
        {opener.string(), "--await-session",
         std::to_string(std::chrono::seconds(kSessionPatience).count()), executable.string()});
  if (r >= 0)
    r = appendCommand(message, "ExecStart", {executable.string()});
  if (r >= 0)
    r = systemd::sd_bus_message_close_container(message);
  if (r >= 0)
    r = systemd::sd_bus_message_append(message, "a(sa(sv))", 0);
  if (r >= 0)
    r = systemd::sd_bus_call(bus, message, 0, &error, &reply);
  const char* job = nullptr;
  if (r >= 0)
    r = systemd::sd_bus_message_read(reply, "o", &job);
  std::string failure;
  std::string jobPath = job != nullptr ? job : "";
  if (r < 0)
    failure = std::string("the user manager did not start ") + executable.string() + ": " +
              (systemd::sd_bus_error_is_set(&error) ? error.message : std::strerror(-r));
  systemd::sd_bus_error_free(&error);
  systemd::sd_bus_message_unref(reply);
  systemd::sd_bus_message_unref(message);
  if (!failure.empty() || awaitSession)
    return failure;
  // Without a wait for the session, the start job ends once the program is executing.
  try {
    connection.awaitJobs({jobPath}, std::chrono::steady_clock::now() + kStartPatience);
  } catch (const user_manager::ManagerError& lost) {
    return lost.what();
  }
  if (connection.jobResult(jobPath) != "done")
    return executable.string() + " could not be started; journalctl --user -u " + name +
           " says why";
  if (started != nullptr)
    *started = mainPid(bus, name);
  return "";
}

}  // namespace open_app
