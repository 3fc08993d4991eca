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

/// Runs the chosen mode and gives the process's exit status.
int runEntry(int argc, char** argv);

}  // namespace morvane
