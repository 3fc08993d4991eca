#include "engine.h"

namespace launchctl {

void printStillStopping(const std::string& label, pid_t pid,
                        std::optional<std::chrono::seconds> killIn) {
  std::fprintf(stderr, "Boot-out failed: %d: Operation now in progress\n", kStillStopping);
  if (killIn) {
    std::fprintf(stderr,
                 "Waiting for %s (pid %d) to exit after SIGTERM; SIGKILL follows in %lld s.\n",
                 label.c_str(), static_cast<int>(pid), static_cast<long long>(killIn->count()));
  } else {
    std::fprintf(stderr,
                 "Waiting for %s (pid %d) to exit after SIGTERM; its ExitTimeOut of 0 means it is "
                 "never sent SIGKILL.\n",
                 label.c_str(), static_cast<int>(pid));
  }
}

}  // namespace launchctl
