#include "target.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <optional>

#include "usage.h"

namespace launchctl {
namespace {

constexpr std::string_view kGuiPrefix = "gui/";

/// A target split into its uid and the optional label after it.
struct ParsedTarget {
  uid_t uid;
  std::optional<std::string_view> label;
};

/// Parses a whole string of decimal digits into a uid.
std::optional<uid_t> parseUid(std::string_view digits) {
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
    return std::nullopt;
  }
  uid_t uid = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), uid);
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return uid;
}

/// Splits `gui/<uid>[/<label>]`; returns nullopt when the text has another shape.
std::optional<ParsedTarget> parseTarget(std::string_view text) {
  if (!text.starts_with(kGuiPrefix)) {
    return std::nullopt;
  }
  text.remove_prefix(kGuiPrefix.size());
  const std::size_t slash = text.find('/');
  const std::optional<uid_t> uid = parseUid(text.substr(0, slash));
  if (!uid) {
    return std::nullopt;
  }
  if (slash == std::string_view::npos) {
    return ParsedTarget{*uid, std::nullopt};
  }
  return ParsedTarget{*uid, text.substr(slash + 1)};
}

/// Prints the complaint about a domain of another user and returns its exit status.
int foreignDomain(uid_t uid) {
  std::fprintf(stderr, "Could not find domain for user gui: %u\n", static_cast<unsigned>(uid));
  return kExitNoDomain;
}

}  // namespace

std::expected<uid_t, int> resolveDomain(std::string_view text, std::string_view usage) {
  const std::optional<ParsedTarget> target = parseTarget(text);
  if (!target || target->label) {
    return std::unexpected(targetError(usage));
  }
  if (target->uid != getuid()) {
    return std::unexpected(foreignDomain(target->uid));
  }
  return target->uid;
}

std::expected<std::string, int> resolveService(std::string_view text, std::string_view usage) {
  const std::optional<ParsedTarget> target = parseTarget(text);
  if (!target || !target->label || target->label->empty()) {
    return std::unexpected(targetError(usage));
  }
  if (target->uid != getuid()) {
    return std::unexpected(foreignDomain(target->uid));
  }
  return std::string(*target->label);
}

std::expected<std::string, int> serviceArgument(std::span<const std::string> args,
                                                std::string_view usage) {
  if (args.size() != 1) {
    return std::unexpected(usageError(usage));
  }
  return resolveService(args[0], usage);
}

}  // namespace launchctl
