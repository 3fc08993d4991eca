#pragma once

#include <cstdio>
#include <string_view>

namespace launchctl {

/// Exit status for a command line that could not be understood (EX_USAGE).
inline constexpr int kExitUsage = 64;
/// Exit status when a target names a domain that does not belong to the caller.
inline constexpr int kExitNoDomain = 113;
/// Exit status for a failure inside this program itself (state directory unusable, etc.).
inline constexpr int kExitFailure = 1;

/// The general usage (without "Usage: "), shown for unknown or missing subcommands.
inline constexpr std::string_view kGeneralUsage = "launchctl <subcommand> ... | help [subcommand]";

/// Prints the overview of all subcommands to `out`.
void printOverview(std::FILE* out);

/// Prints `usage` as a "Usage: ..." line on standard error and returns kExitUsage.
int usageError(std::string_view usage);

/// Prints the target complaint followed by `usage` on standard error and returns kExitUsage.
int targetError(std::string_view usage);

}  // namespace launchctl
