#include "private_mounts.h"

#include <unistd.h>

#include <optional>

#include "test_support.h"

namespace morvane::testing {
namespace {

constexpr const char* kUnshare = "/usr/bin/unshare";

/// Why no file system can be mounted in a mount namespace of its own here; nothing when one can.
/// Asked once: a small memory file system mounted on a folder of its own.
const std::optional<std::string>& privateMountsUnavailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    if (::access(kUnshare, X_OK) != 0)
      return std::string(kUnshare) + " is not installed";
    TempDir target;
    const ShellResult probe =
        Shell::run(kUnshare,
                   {"--mount", "/bin/sh", "-c", "mount -t tmpfs -o size=64k tmpfs \"$1\"", "sh",
                    target.path().string()},
                   30);
    if (probe.ok())
      return std::nullopt;
    return probe.message().empty() ? "unshare ended with status " + std::to_string(probe.status)
                                   : probe.message();
  }();
  return reason;
}

}  // namespace

std::expected<ShellResult, std::string> runWithPrivateMounts(
    const std::string& script, const std::vector<std::string>& arguments, double timeout,
    const Shell::Environment& environment) {
  if (const std::optional<std::string>& reason = privateMountsUnavailable())
    return std::unexpected("no mount namespace of its own here: " + *reason);
  std::vector<std::string> line{"--mount", "/bin/sh", "-c", script, "sh"};
  line.insert(line.end(), arguments.begin(), arguments.end());
  ShellResult result = Shell::run(kUnshare, line, timeout, environment);
  if (result.status == 99)
    return std::unexpected("its mounts could not be made: " + result.message());
  return result;
}

}  // namespace morvane::testing
