#pragma once

#include "local_server.h"

namespace morvane::testing {

/// The update server every test in this program talks to: MORVANE_UPDATE_URL points at it
/// from before the first test, since the program reads that variable once.
LocalServer& updateServer();

}  // namespace morvane::testing
