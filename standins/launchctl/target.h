#pragma once

#include <sys/types.h>

#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace launchctl {

/// Parses a domain target `gui/<uid>` for the caller; on failure prints the complaint (with
/// `usage`) and returns the exit status.
std::expected<uid_t, int> resolveDomain(std::string_view text, std::string_view usage);

/// Parses a service target `gui/<uid>/<label>` for the caller and returns its label; on failure
/// prints the complaint (with `usage`) and returns the exit status.
std::expected<std::string, int> resolveService(std::string_view text, std::string_view usage);

/// The label of the one service-target argument a subcommand takes; on a wrong count or a bad
/// target prints the complaint (with `usage`) and returns the exit status.
std::expected<std::string, int> serviceArgument(std::span<const std::string> args,
                                                std::string_view usage);

}  // namespace launchctl
