#include "entry.h"

#include <algorithm>
#include <iostream>

#include "cli.h"

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

int runEntry(int argc, char** argv, AppStarter startApp) {
  switch (chooseMode(std::vector<std::string>(argv, argv + argc))) {
    case Mode::list:
      return CLI::list(std::cout);
    case Mode::selfTest:
      return CLI::selfTest(std::cout);
    case Mode::update:
    case Mode::checkForUpdate:
      std::cerr << "morvane: --update is not available in this build yet\n";
      return 1;
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
