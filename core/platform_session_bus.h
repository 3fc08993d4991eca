#pragma once

namespace morvane::platform {

/// Keeps the desktop libraries of this process, and the programs it starts, from starting a
/// session bus of their own when the session has none (no DBUS_SESSION_BUS_ADDRESS, no bus at
/// $XDG_RUNTIME_DIR/bus): a bus started so would outlive the process. Call before any of them runs.
void keepFromStartingASessionBus();

}  // namespace morvane::platform
