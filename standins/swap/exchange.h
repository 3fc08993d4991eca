#pragma once

#include <string>

namespace swap_paths {

/// Makes the two existing paths change places atomically: at every moment each of them holds
/// one of the two things, never neither. Both must lie on one file system. Returns an empty text
/// on success, else the system's reason.
std::string exchange(const std::string& first, const std::string& second);

}  // namespace swap_paths
