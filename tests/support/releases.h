#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace morvane::testing {

/// A release package on disk and its SHA-256.
struct Package {
  std::filesystem::path zip;
  std::string sha256;
};

/// Packages the built application at `version` with scripts/release into `outDir`; with an
/// `identifier`, the bundle carries that identifier instead of the app's own.
Package makeRelease(const std::string& version, const std::filesystem::path& outDir,
                    const std::string& identifier = "");

/// Unpacks `package`, lets `change` edit the tree (whose top holds Morvane.app), and zips it
/// again in place, links kept as links.
Package repack(const Package& package,
               const std::function<void(const std::filesystem::path&)>& change);

/// The SHA-256 of a file, as sha256sum prints it.
std::string sha256Of(const std::filesystem::path& file);

}  // namespace morvane::testing
