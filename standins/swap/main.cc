// swap: `swap <path> <path>` makes two files or folders change places in one step, so that
// neither path is ever missing; the installer exchanges the installed and the new bundle with it.

#include <cstdio>
#include <string>

#include "exchange.h"

int main(int argc, char** argv) {
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
    std::fputs("Usage: swap <path> <path>\n", stderr);
    return 2;
  }
  const std::string reason = swap_paths::exchange(argv[1], argv[2]);
  if (reason.empty())
    return 0;
  std::fprintf(stderr, "swap: %s and %s: %s\n", argv[1], argv[2], reason.c_str());
  return 1;
}
