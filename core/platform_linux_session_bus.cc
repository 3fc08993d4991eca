// The Linux side of living without a session bus. The D-Bus library, when no bus address is set
// and there is no bus at $XDG_RUNTIME_DIR/bus, starts one for the X display (dbus-launch
// --autolaunch), which then lives as long as the display does. An address it cannot use makes
// every attempt to reach a session bus fail at once instead.

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform_session_bus.h"

namespace morvane::platform {

void keepFromStartingASessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0')
    return;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && runtime[0] == '/' &&
      ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
    return;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

}  // namespace morvane::platform
