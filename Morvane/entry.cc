#include "entry.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "cli.h"
#include "platform.h"

namespace morvane {

Mode chooseMode(const std::vector<std::string>& arguments) {
  auto has = [&](const char* option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
  };
  if (has("--list"))
    return Mode::list;
  if (has("--selftest"))
    return Mode::selfTest;
  if (has("--update"))
    return has("--check") ? Mode::checkForUpdate : Mode::update;
  return Mode::menuBarApp;
}

void putHelpersFirstOnPath() {
  const std::string helpers = platform::toolPath(platform::Tool::open).parent_path().string();
  const char* path = std::getenv("PATH");
  const std::string value = path != nullptr && path[0] != '\0' ? helpers + ":" + path : helpers;
  ::setenv("PATH", value.c_str(), 1);
}

int runEntry(int argc, char** argv, AppStarter startApp) {
  putHelpersFirstOnPath();
  switch (chooseMode(std::vector<std::string>(argv, argv + argc))) {
    case Mode::list:
      return CLI::list(std::cout);
    case Mode::selfTest:
      return CLI::selfTest(std::cout);
    case Mode::update:
      return CLI::update(false, std::cout);
    case Mode::checkForUpdate:
      return CLI::update(true, std::cout);
    case Mode::menuBarApp:
      if (startApp != nullptr)
        return startApp(argc, argv);
      std::cerr << "morvane: the menu-bar application is not available in this build yet; "
                   "use --list or --selftest\n";
      return 1;
  }
  return 1;
}

}  // namespace morvane
