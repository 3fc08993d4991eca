// codesign: `codesign --sign - [--force] <bundle>` seals a bundle and
// `codesign --verify [--deep] [--strict] <bundle>` checks it, exiting 1 with a one-line reason
// when the bundle is unsigned, missing, or differs from its seal.

#include <cstdio>
#include <string>
#include <vector>

#include "seal.h"

namespace {

int usage() {
  std::fputs(
      "Usage: codesign --verify [--deep] [--strict] <bundle>\n"
      "       codesign --sign - [--force] [--deep] <bundle>\n",
      stderr);
  return 2;
}

struct Request {
  bool verify = false;
  bool sign = false;
  std::string bundle;
};

/// Reads the options; false on anything this codesign does not know.
bool parse(const std::vector<std::string>& args, Request& request) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--verify" || arg == "-v") {
      request.verify = true;
    } else if (arg == "--sign" || arg == "-s") {
      if (i + 1 >= args.size() || args[i + 1] != "-")
        return false;  // only ad-hoc signing
      request.sign = true;
      ++i;
    } else if (arg == "--deep" || arg == "--strict" || arg == "--force" || arg == "-f") {
      continue;
    } else if (!arg.empty() && arg[0] != '-' && request.bundle.empty()) {
      request.bundle = arg;
    } else {
      return false;
    }
  }
  return request.verify != request.sign && !request.bundle.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parse(std::vector<std::string>(argv + 1, argv + argc), request))
    return usage();
  std::string error =
      request.sign ? codesign::sealBundle(request.bundle) : codesign::verifyBundle(request.bundle);
  if (error.empty())
    return 0;
  std::fprintf(stderr, "%s\n", error.c_str());
  return 1;
}
