#include "entry.h"

#include <signal.h>

#include <algorithm>
#include <iostream>

#include "cli.h"
#include "interruptions.h"

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

int runEntry(int argc, char** argv) {
  // A parent that ignores SIGCHLD would leave us unable to collect any child's status.
  ::signal(SIGCHLD, SIG_DFL);
  switch (chooseMode(std::vector<std::string>(argv, argv + argc))) {
    case Mode::list:
      return CLI::list(std::cout);
    case Mode::selfTest:
      if (int status = CLI::selfTest(std::cout); CLI::signalOfStatus(status) != 0)
        CLI::endBySignal(CLI::signalOfStatus(status));
      else
        return status;
    case Mode::update:
    case Mode::checkForUpdate:
      std::cerr << "morvane: --update is not available in this build yet\n";
      return 1;
    case Mode::menuBarApp:
      std::cerr << "morvane: the menu-bar application is not available in this build yet; "
                   "use --list or --selftest\n";
      return 1;
  }
  return 1;
}

}  // namespace morvane
