#pragma once

#include <filesystem>
#include <string>

namespace open_app {

/// The executable of the bundle at `bundle`: Contents/MacOS/<CFBundleExecutable>. Empty, with
/// `error` set, when the path is not an application bundle with a runnable executable.
std::filesystem::path bundleExecutable(const std::filesystem::path& bundle, std::string& error);

}  // namespace open_app
