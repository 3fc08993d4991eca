#include "cli.h"
#include "platform.h"

namespace morvane::CLI {

int32_t version(std::ostream& out) {
  const auto& info = platform::mainBundle().info;
  auto version = info.find("CFBundleShortVersionString");
  out << "Morvane " << (version != info.end() ? version->second : "0") << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
