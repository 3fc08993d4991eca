#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "failure.h"

namespace morvane {

/// Prints "✗ " and the failure's text (escaped for a terminal, its lines kept); gives 1, the
/// exit status of a failed mode.
int32_t printFailure(std::ostream& stream, const Failure& failure);

/// printFailure() when there is a problem; 0 when there is none.
int32_t reportProblem(std::ostream& stream, const std::optional<Failure>& problem);

}  // namespace morvane
