#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "failure.h"

namespace morvane {

/// Splits a line into words the way a POSIX shell does, without running one and without
/// expanding anything ($, ~, * and the like stay as typed).
///
/// Blanks (space, tab, line feed) separate words. Inside single quotes every character is
/// literal; inside double quotes a backslash escapes only $, `, ", \ and a line feed; outside
/// quotes a backslash keeps the next character (a backslash before a line feed joins the lines).
/// Quotes join with what touches them, so a"b"'c' is one word, and "" is an empty word. Fails
/// when a quote is not closed.
Result<std::vector<std::string>> splitShellWords(std::string_view line);

}  // namespace morvane
