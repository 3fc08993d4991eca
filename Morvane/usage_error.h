#pragma once

#include <cstdint>
#include <string>

namespace morvane {

/// A command line whose option lacks its operand or has a bad one.
struct UsageError {
  enum Kind : uint8_t {
    /// "--load", "--unload" or "--status" without an agent after it.
    missingAgent,
    /// "--lines" without a number in range after it.
    badLineCount,
  };
  Kind kind;
  /// The option at fault, e.g. "--load".
  std::string option;
};

}  // namespace morvane
