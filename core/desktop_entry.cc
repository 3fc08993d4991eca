#include "desktop_entry.h"

#include "shell_words.h"
#include "unicode_text.h"

namespace morvane {
namespace {

/// A value of a desktop entry with the escapes of the file format resolved: \s \n \t \r \\.
std::string unescaped(std::string_view raw) {
  std::string value;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      const char escaped = raw[i + 1];
      const size_t at = std::string_view("sntr\\").find(escaped);
      if (at != std::string_view::npos) {
        value += " \n\t\r\\"[at];
        ++i;
        continue;
      }
    }
    value += raw[i];
  }
  return value;
}

/// The value of `key` in the "Desktop Entry" group.
std::optional<std::string> entryValue(std::string_view entry, std::string_view key) {
  bool inGroup = false;
  for (std::string_view line : nonEmptyLines(entry)) {
    if (line.starts_with('[')) {
      inGroup = trimWhitespace(line) == "[Desktop Entry]";
      continue;
    }
    if (!inGroup || !line.starts_with(key))
      continue;
    const std::string_view rest = trimWhitespace(line.substr(key.size()));
    if (rest.starts_with('='))
      return unescaped(trimWhitespace(rest.substr(1)));
  }
  return std::nullopt;
}

/// A word with its field codes replaced; `usedFile` is set when one stood for the file.
std::optional<std::string> expandedWord(const std::string& word, const std::filesystem::path& file,
                                        bool& usedFile) {
  if (word == "%f" || word == "%F" || word == "%u" || word == "%U") {
    usedFile = true;
    return word == "%f" || word == "%F" ? file.string() : fileUrl(file);
  }
  std::string expanded;
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%' || i + 1 == word.size()) {
      expanded += word[i];
      continue;
    }
    const char code = word[++i];
    if (code == '%')
      expanded += '%';
    else if (code == 'f' || code == 'F') {
      expanded += file.string();
      usedFile = true;
    } else if (code == 'u' || code == 'U') {
      expanded += fileUrl(file);
      usedFile = true;
    }
  }
  // A word that was nothing but a dropped field code goes with it.
  if (expanded.empty() && !word.empty())
    return std::nullopt;
  return expanded;
}

}  // namespace

std::string fileUrl(const std::filesystem::path& path) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~/";
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path.string()) {
    if (kPlain.find(c) != std::string_view::npos) {
      url += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      url += '%';
      url += kHex[byte >> 4];
      url += kHex[byte & 0xF];
    }
  }
  return url;
}

std::optional<std::vector<std::string>> desktopEntryCommand(std::string_view entry,
                                                            const std::filesystem::path& file) {
  std::optional<std::string> exec = entryValue(entry, "Exec");
  if (!exec)
    return std::nullopt;
  Result<std::vector<std::string>> words = splitShellWords(*exec);
  if (!words || words->empty())
    return std::nullopt;
  std::vector<std::string> command;
  bool usedFile = false;
  for (const std::string& word : *words) {
    if (std::optional<std::string> expanded = expandedWord(word, file, usedFile))
      command.push_back(std::move(*expanded));
  }
  if (command.empty())
    return std::nullopt;
  if (!usedFile)
    command.push_back(file.string());
  return command;
}

}  // namespace morvane
