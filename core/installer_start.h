#pragma once

#include <filesystem>
#include <string>

#include "failure.h"
#include "updater.h"

namespace morvane::Updater::detail {

/// The descriptors the installer script finds the update's locks on: the data directory's, and
/// the bundle's.
inline constexpr int kInstallerLockDescriptor = 9;
inline constexpr int kInstallerBundleLockDescriptor = 8;

/// Runs `/bin/sh -c command`, which starts the installer script in the background, and makes
/// sure the script really runs before giving success.
///
/// The shell and what it starts get `lock` as descriptors 9 and 8, and this process lets go of
/// its own hold. Success comes once `firstLine` appears in `log` after its present end. The shell
/// failing, or the lock coming free before the line appears (the script could not start, or ended
/// at once), is a failure naming the reason the shell or the log gave; so is `timeout` seconds
/// passing first.
Outcome startInstaller(const std::string& command, UpdateLock lock,
                       const std::filesystem::path& log, const std::string& firstLine,
                       double timeout);

}  // namespace morvane::Updater::detail
