#pragma once

#include <string>
#include <vector>

namespace morvane {

/// What a command line asks the program to do.
enum class Mode { list, selfTest, update, checkForUpdate, menuBarApp };

/// "--list" wins over "--selftest", which wins over "--update" (with "--check": only check);
/// with none of them the menu-bar application starts.
Mode chooseMode(const std::vector<std::string>& arguments);

/// Puts the folder of the bundled tools first on this process's PATH, so that scripts it
/// starts (the update installer) find them by name.
void putHelpersFirstOnPath();

/// Starts the menu-bar application and gives its exit status.
using AppStarter = int (*)(int argc, char** argv);

/// Runs the chosen mode and gives the process's exit status; `startApp` runs the menu-bar
/// application (the command-line modes need no GUI toolkit, so it is handed in).
int runEntry(int argc, char** argv, AppStarter startApp = nullptr);

}  // namespace morvane
