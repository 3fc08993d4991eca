// ditto: the one form Morvane uses, `ditto -x -k <zip> <directory>`, which unpacks a zip
// archive into a directory.

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "extract.h"

namespace {

int usage() {
  std::fputs("Usage: ditto -x -k <archive.zip> <directory>\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Entry names are UTF-8; in the C locale libarchive could not convert them and would warn.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 4 ||
      !((args[0] == "-x" && args[1] == "-k") || (args[0] == "-k" && args[1] == "-x")))
    return usage();
  std::string error = ditto::extractZip(args[2], args[3]);
  if (error.empty())
    return 0;
  std::fprintf(stderr, "ditto: %s\n", error.c_str());
  return 1;
}
