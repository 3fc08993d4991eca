#include "agent_units.h"

#include <cstdint>
#include <cstdio>

namespace morvane::AgentUnits {
namespace {

/// systemd refuses unit names of 256 characters and more; the unit file is first written under
/// a longer temporary name, which must fit the file system's 255 bytes too.
constexpr size_t kLongestName = 220;

bool isPlain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
         c == '_' || c == '.';
}

/// One escaped character of a label, as systemd-escape writes it.
std::string escaped(char c, bool first) {
  if (c == '/')
    return "-";
  if (isPlain(c) && !(first && c == '.'))
    return std::string(1, c);
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned char>(c));
  return text;
}

/// 64-bit FNV-1a: stable across builds, unlike std::hash.
std::uint64_t digest(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string escapedForUnitName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    out += escaped(text[i], i == 0);
  return out;
}

std::string unitName(std::string_view label, std::string_view suffix) {
  // Every agent unit's suffix fits ".service"; keeping the stem the same for all suffixes makes
  // a timer and its service share it.
  const size_t room = kLongestName - kPrefix.size() - std::string_view(".service").size();
  std::string stem;
  bool fits = true;
  for (size_t i = 0; i < label.size(); ++i) {
    const std::string piece = escaped(label[i], i == 0);
    if (stem.size() + piece.size() > room) {
      fits = false;
      break;
    }
    stem += piece;
  }
  if (!fits) {
    char mark[19];
    std::snprintf(mark, sizeof mark, ".%016llx.", static_cast<unsigned long long>(digest(label)));
    std::string head;
    for (size_t i = 0; i < label.size(); ++i) {
      const std::string piece = escaped(label[i], false);
      if (head.size() + piece.size() > room - (sizeof mark - 1))
        break;
      head += piece;
    }
    stem = mark + head;
  }
  return std::string(kPrefix) + stem + std::string(suffix);
}

std::optional<std::string> labelOf(std::string_view name) {
  if (!name.starts_with(kPrefix))
    return std::nullopt;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < kPrefix.size())
    return std::nullopt;
  const std::string_view stem = name.substr(kPrefix.size(), dot - kPrefix.size());
  if (stem.empty() || stem.front() == '.')
    return std::nullopt;
  std::string label;
  for (size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] == '-') {
      label += '/';
    } else if (stem[i] == '\\' && i + 3 < stem.size() && stem[i + 1] == 'x' &&
               hexValue(stem[i + 2]) >= 0 && hexValue(stem[i + 3]) >= 0) {
      label += static_cast<char>(hexValue(stem[i + 2]) * 16 + hexValue(stem[i + 3]));
      i += 3;
    } else {
      label += stem[i];
    }
  }
  return label;
}

}  // namespace morvane::AgentUnits
