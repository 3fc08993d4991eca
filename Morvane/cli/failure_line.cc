#include "failure_line.h"

#include "unicode_text.h"

namespace morvane {

int32_t printFailure(std::ostream& stream, const Failure& failure) {
  stream << "✗ " << visibleControlCharacters(failure.text, Layout::lines) << "\n" << std::flush;
  return 1;
}

int32_t reportProblem(std::ostream& stream, const std::optional<Failure>& problem) {
  return problem ? printFailure(stream, *problem) : 0;
}

}  // namespace morvane
