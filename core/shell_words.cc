#include "shell_words.h"

#include "language.h"

namespace morvane {
namespace {

Failure unclosedQuote() {
  return Failure{L("参数中的引号没有闭合", "A quote in the arguments is not closed")};
}

/// Appends the text of a quoted stretch starting at the quote `line[at]`; gives the position of
/// its closing quote, or npos when there is none.
size_t appendQuoted(std::string_view line, size_t at, std::string& word) {
  if (line[at] == '\'') {
    const size_t close = line.find('\'', at + 1);
    if (close != std::string_view::npos)
      word.append(line.substr(at + 1, close - at - 1));
    return close;
  }
  for (size_t i = at + 1; i < line.size(); ++i) {
    if (line[i] == '"')
      return i;
    if (line[i] == '\\' && i + 1 < line.size() &&
        std::string_view("$`\"\\\n").find(line[i + 1]) != std::string_view::npos) {
      if (line[++i] != '\n')
        word += line[i];
      continue;
    }
    word += line[i];
  }
  return std::string_view::npos;
}

}  // namespace

Result<std::vector<std::string>> splitShellWords(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // a word has started, even if it is still empty ("")
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord)
        words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '\'' || c == '"') {
      i = appendQuoted(line, i, word);
      if (i == std::string_view::npos)
        return std::unexpected(unclosedQuote());
      inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      if (line[++i] == '\n')
        continue;  // a backslash and a line feed join the lines
      word += line[i];
      inWord = true;
    } else {
      word += c;  // a backslash at the very end has nothing to escape and stays
      inWord = true;
    }
  }
  if (inWord)
    words.push_back(std::move(word));
  return words;
}

}  // namespace morvane
