// open: `open [-g] <bundle>` starts the bundle's executable in the background and returns.

#include <cstdio>
#include <string>
#include <vector>

#include "bundle_executable.h"
#include "launch.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "-g")
    args.erase(args.begin());  // "do not bring to the foreground": nothing comes forward here
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fputs("Usage: open [-g] <application bundle>\n", stderr);
    return 1;
  }
  std::string error;
  const std::filesystem::path executable = open_app::bundleExecutable(args[0], error);
  if (executable.empty() || !(error = open_app::launchDetached(executable)).empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
