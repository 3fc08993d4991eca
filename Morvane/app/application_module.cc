// The application module: the parts of the program that need the GUI toolkit or the network.
// Keeping them out of the executable keeps their libraries out of every command-line run.

#include "application_module.h"

#include <iostream>

#include "app_delegate.h"
#include "cli.h"

extern "C" __attribute__((visibility("default"))) int morvaneRunModuleMode(morvane::Mode mode,
                                                                           int argc, char** argv) {
  using morvane::Mode;
  switch (mode) {
    case Mode::update:
      return morvane::CLI::update(false, std::cout);
    case Mode::checkForUpdate:
      return morvane::CLI::update(true, std::cout);
    case Mode::menuBarApp:
      return morvane::runMenuBarApp(argc, argv);
    default:
      std::cerr << "morvane: this mode is not part of the application module\n";
      return 1;
  }
}
