#include "unicode_text.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(NonEmptyLines, SplitsAtEveryLineBreakAndDropsEmptyLines) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(nonEmptyLines("a\nb\r\nc\rd\ve\ff"), (Lines{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(nonEmptyLines("a\u0085b\u2028c\u2029d"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(nonEmptyLines("\n\n a \r\n\r\n"), (Lines{" a "}));
  EXPECT_EQ(nonEmptyLines(""), Lines{});
  EXPECT_EQ(nonEmptyLines("tab\tinside"), (Lines{"tab\tinside"}));
}

TEST(Trim, RemovesUnicodeSpacesAndOnlyTheRightBreaks) {
  EXPECT_EQ(trimWhitespace("\t\u3000 x y \u00a0\t"), "x y");
  EXPECT_EQ(trimWhitespace("\nx\n"), "\nx\n");
  EXPECT_EQ(trimWhitespaceAndNewlines("\r\n\u0085 x\u2003\v\f"), "x");
  EXPECT_EQ(trimWhitespaceAndNewlines(" \n "), "");
  // Bytes that are no valid UTF-8 are never space: trimming stops at them, from either end.
  EXPECT_EQ(trimWhitespace("\xE2\x80 x \xE3\x80\x80"), "\xE2\x80 x");
  EXPECT_EQ(trimWhitespace(" x\x80\xE3\x80\x80"), "x\x80");
  EXPECT_EQ(trimWhitespace("x\x80\x80\x80\x80 "), "x\x80\x80\x80\x80");
  EXPECT_EQ(trimWhitespace("x\xE3\x80 "), "x\xE3\x80");
}

TEST(LowercaseSortKey, UsesFullCaseMappingAndCanonicalEquivalence) {
  EXPECT_EQ(lowercaseSortKey("ABC.Def"), "abc.def");
  // Full mapping: capital I with dot above lowers to i + combining dot.
  EXPECT_EQ(lowercaseSortKey("\u0130"), "i\u0307");
  // Decomposed and precomposed forms compare equal.
  EXPECT_EQ(lowercaseSortKey("E\u0301"), lowercaseSortKey("\u00e9"));
  EXPECT_EQ(lowercaseSortKey("ΣΑΣ"), lowercaseSortKey("σας"));
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(LowercaseSortKey, AsciiTakesTheSameKeyAsTheFullMapping) {
  // A trailing "é" sends the text through the full Unicode mapping; the ASCII part must come out
  // the same either way.
  std::string all;
  for (char c = 1; c < 0x7F; ++c)
    all += c;
  EXPECT_EQ(lowercaseSortKey(all) + "é", lowercaseSortKey(all + "é"));
  EXPECT_EQ(lowercaseSortKey("Com.Example.JOB"), "com.example.job");
}

TEST(SearchKey, FoldsCaseWidthAndEquivalentSpellingsAsciiAlikeByBothRoutes) {
  EXPECT_EQ(searchKey("Com.Example.JOB"), "com.example.job");
  EXPECT_EQ(searchKey("Straße"), searchKey("STRASSE"));
  EXPECT_EQ(searchKey("ｓｙｎｃ"), "sync");
  EXPECT_EQ(searchKey("E\u0301"), searchKey("\u00e9"));
  EXPECT_EQ(searchKey("ΣΑΣ"), searchKey("σας"));
  EXPECT_NE(searchKey("备份").find(searchKey("份")), std::string::npos);
  std::string all;
  for (char c = 1; c < 0x7F; ++c)
    all += c;
  EXPECT_EQ(searchKey(all) + searchKey("é"), searchKey(all + "é"));
}

TEST(VisibleControlCharacters, EscapesControlsAndBrokenBytesOnly) {
  EXPECT_EQ(visibleControlCharacters("plain \\ label, 中文 ✓"), "plain \\ label, 中文 ✓");
  EXPECT_EQ(visibleControlCharacters("a\tb\nc\rd\x1b[1m\x7f"), "a\\tb\\nc\\rd\\x1B[1m\\x7F");
  EXPECT_EQ(visibleControlCharacters(std::string("\0", 1) + "\u0085\u2028\u2029"),
            "\\x00\\u0085\\u2028\\u2029");
  EXPECT_EQ(visibleControlCharacters("x\xff\xc3"), "x\\xFF\\xC3");
  // Bidirectional embeddings, overrides, isolates and marks would reorder what a terminal shows;
  // joiners and the unassigned code points beside them stay.
  EXPECT_EQ(visibleControlCharacters("a\u202Ab\u202Ec\u2066d\u2069e\u200Ff\u061Cg\u200Eh"),
            "a\\u202Ab\\u202Ec\\u2066d\\u2069e\\u200Ff\\u061Cg\\u200Eh");
  EXPECT_EQ(visibleControlCharacters("\u200D\u2065\u200B"), "\u200D\u2065\u200B");
  EXPECT_TRUE(containsBidiControl("com.\u202Eevil.gnp"));
  EXPECT_TRUE(containsBidiControl("x\u061C"));
  EXPECT_FALSE(containsBidiControl("com.example\u200D中\xff"));
  // Text of several lines keeps its tabs and line feeds, and nothing else.
  EXPECT_EQ(visibleControlCharacters("a\tb\nc\rd\x1b]0;t\a\u202E", Layout::lines),
            "a\tb\nc\\rd\\x1B]0;t\\x07\\u202E");
}

}  // namespace
}  // namespace morvane
