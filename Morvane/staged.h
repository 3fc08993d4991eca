#pragma once

#include <filesystem>
#include <string>

namespace morvane {

/// A downloaded and verified update waiting to be installed.
struct Staged {
  /// The version the staged bundle carries.
  std::string version;
  /// The unpacked application bundle.
  std::filesystem::path app;

  friend bool operator==(const Staged&, const Staged&) = default;
};

}  // namespace morvane
