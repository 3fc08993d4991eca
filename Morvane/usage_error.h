#pragma once

#include <cstdint>
#include <string>

namespace morvane {

/// A command line whose option lacks its operand or has a bad one.
struct UsageError {
  enum Kind : uint8_t {
    /// "--load", "--unload", "--status" or "--schedule" without an agent after it.
    missingAgent,
    /// "--lines" without a number in range after it.
    badLineCount,
    /// "--new" without a label after it.
    missingLabel,
    /// "--new" without a program after "--".
    missingProgram,
    /// "--log" without a file after it.
    missingLogFile,
    /// Something between "--new <label>" and "--" that is none of its options.
    unknownNewOption,
  };
  Kind kind;
  /// The option at fault, e.g. "--load"; for unknownNewOption, the argument.
  std::string option;

  /// Whether the error belongs to "--new", which reports on standard error.
  bool ofNewAgent() const { return kind >= missingLabel; }
};

}  // namespace morvane
