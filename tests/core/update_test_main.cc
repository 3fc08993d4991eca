#include <gtest/gtest.h>

#include <cstdlib>

#include "language.h"
#include "update_server.h"

namespace morvane::testing {

LocalServer& updateServer() {
  static LocalServer server;
  return server;
}

}  // namespace morvane::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::unsetenv("MORVANE_LANG");
  morvane::Language::apply("en");
  ::setenv("MORVANE_UPDATE_URL", morvane::testing::updateServer().url().c_str(), 1);
  return RUN_ALL_TESTS();
}
