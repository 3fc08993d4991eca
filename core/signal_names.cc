#include "signal_names.h"

#include <signal.h>

#include <array>
#include <utility>

namespace morvane {
namespace {

#define MORVANE_SIGNAL(name) std::pair<int, const char*>(name, #name)

// Built from the macros, so the numbers are this system's own.
constexpr std::array kSignals = {
    MORVANE_SIGNAL(SIGHUP),    MORVANE_SIGNAL(SIGINT),  MORVANE_SIGNAL(SIGQUIT),
    MORVANE_SIGNAL(SIGILL),    MORVANE_SIGNAL(SIGTRAP), MORVANE_SIGNAL(SIGABRT),
    MORVANE_SIGNAL(SIGBUS),    MORVANE_SIGNAL(SIGFPE),  MORVANE_SIGNAL(SIGKILL),
    MORVANE_SIGNAL(SIGUSR1),   MORVANE_SIGNAL(SIGSEGV), MORVANE_SIGNAL(SIGUSR2),
    MORVANE_SIGNAL(SIGPIPE),   MORVANE_SIGNAL(SIGALRM), MORVANE_SIGNAL(SIGTERM),
    MORVANE_SIGNAL(SIGCHLD),   MORVANE_SIGNAL(SIGCONT), MORVANE_SIGNAL(SIGSTOP),
    MORVANE_SIGNAL(SIGTSTP),   MORVANE_SIGNAL(SIGTTIN), MORVANE_SIGNAL(SIGTTOU),
    MORVANE_SIGNAL(SIGURG),    MORVANE_SIGNAL(SIGXCPU), MORVANE_SIGNAL(SIGXFSZ),
    MORVANE_SIGNAL(SIGVTALRM), MORVANE_SIGNAL(SIGPROF), MORVANE_SIGNAL(SIGWINCH),
    MORVANE_SIGNAL(SIGIO),     MORVANE_SIGNAL(SIGSYS),
};

#undef MORVANE_SIGNAL

}  // namespace

std::optional<std::string> signalName(int64_t number) {
  for (const auto& [value, name] : kSignals) {
    if (value == number)
      return name;
  }
  return std::nullopt;
}

std::optional<int> signalNumber(std::string_view name) {
  const std::string_view bare = name.starts_with("SIG") ? name.substr(3) : name;
  for (const auto& [value, full] : kSignals) {
    if (bare == std::string_view(full).substr(3))
      return value;
  }
  return std::nullopt;
}

}  // namespace morvane
