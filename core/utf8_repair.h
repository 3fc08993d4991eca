#pragma once

#include <string>

namespace morvane {

/// Takes bytes as UTF-8, replacing every invalid sequence with U+FFFD. Needs no ICU library, so
/// the bundled tools that use it start without loading one.
std::string repairUtf8(std::string bytes);

}  // namespace morvane
