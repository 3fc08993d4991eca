#pragma once

#include <filesystem>

namespace launchctl {

/// Returns the caller's home directory: $HOME when it is an absolute path, otherwise the
/// password database entry for the real uid.
std::filesystem::path homeDirectory();

/// Returns `<home>/.launchd-standin` without creating it.
std::filesystem::path stateDirectoryPath();

/// Returns `<home>/.launchd-standin`, the directory holding this manager's lock file and
/// state file, creating it (mode 0700) when missing; throws when that is impossible.
std::filesystem::path stateDirectory();

}  // namespace launchctl
