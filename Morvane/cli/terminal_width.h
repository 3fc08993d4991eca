#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

/// The columns UTF-8 text takes in a terminal: two for a wide or full-width character (CJK),
/// none for a combining mark, one for anything else.
size_t terminalWidth(std::string_view text);

/// `text` followed by enough spaces to fill `columns` terminal columns (none when it is wider).
std::string padToWidth(std::string text, size_t columns);

}  // namespace morvane
