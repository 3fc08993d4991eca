#include "usage.h"

#include <cstdio>

#include "commands.h"

namespace launchctl {

void printOverview(std::FILE* out) {
  std::fprintf(out, "Usage: %.*s\n\nSubcommands:\n", static_cast<int>(kGeneralUsage.size()),
               kGeneralUsage.data());
  for (const Subcommand& sub : subcommands()) {
    std::fprintf(out, "\t%-16.*s%.*s\n", static_cast<int>(sub.name.size()), sub.name.data(),
                 static_cast<int>(sub.summary.size()), sub.summary.data());
  }
}

int usageError(std::string_view usage) {
  std::fprintf(stderr, "Usage: %.*s\n", static_cast<int>(usage.size()), usage.data());
  return kExitUsage;
}

int targetError(std::string_view usage) {
  std::fputs("Unrecognized target specifier.\n", stderr);
  return usageError(usage);
}

}  // namespace launchctl
