#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <string_view>

namespace launchctl {

/// Parses a domain target `gui/<uid>` for the caller; on failure prints the complaint (with
/// `usage`) and returns the exit status.
std::expected<uid_t, int> resolveDomain(std::string_view text, std::string_view usage);

/// Parses a service target `gui/<uid>/<label>` for the caller and returns its label; on failure
/// prints the complaint (with `usage`) and returns the exit status.
std::expected<std::string, int> resolveService(std::string_view text, std::string_view usage);

}  // namespace launchctl
