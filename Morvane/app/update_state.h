#pragma once

#include <string>
#include <variant>

#include "updater.h"

namespace morvane {

using Updater::Staged;

/// Where the in-app update flow stands.
namespace UpdateStates {
/// A newer release was found and is being downloaded and verified.
struct Downloading {
  std::string version;
  friend bool operator==(const Downloading&, const Downloading&) = default;
};
/// An update is staged and ready to install.
struct Ready {
  Staged staged;
  friend bool operator==(const Ready&, const Ready&) = default;
};
/// Nothing in progress; checks may start.
struct Idle {
  friend bool operator==(const Idle&, const Idle&) = default;
};
/// A check is in progress.
struct Checking {
  friend bool operator==(const Checking&, const Checking&) = default;
};
}  // namespace UpdateStates

using UpdateState = std::variant<UpdateStates::Downloading, UpdateStates::Ready, UpdateStates::Idle,
                                 UpdateStates::Checking>;

}  // namespace morvane
