#pragma once

#include <expected>
#include <string>

namespace morvane {

/// A complete, user-readable error message, already in the interface language.
struct Failure {
  std::string text;
};

/// The outcome of an operation that can fail: its value, or a Failure.
template <class T>
using Result = std::expected<T, Failure>;

/// The outcome of an operation that can fail and has no value.
using Outcome = std::expected<void, Failure>;

/// Wraps a failure text for returning from a Result-valued operation.
inline std::unexpected<Failure> fail(std::string text) {
  return std::unexpected<Failure>(Failure{std::move(text)});
}

}  // namespace morvane
