#include "utf8_repair.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(RepairUtf8, KeepsValidTextAndReplacesEachMaximalInvalidSubpart) {
  EXPECT_EQ(repairUtf8("plain ascii"), "plain ascii");
  EXPECT_EQ(repairUtf8("中文 ✓ 😀"), "中文 ✓ 😀");
  EXPECT_EQ(repairUtf8("a\x80z"), "a\uFFFDz");
  // A truncated three-byte sequence is one error; an overlong form and a lone lead are too.
  EXPECT_EQ(repairUtf8("\xE4\xB8z"), "\uFFFDz");
  EXPECT_EQ(repairUtf8("\xC0\xAF"), "\uFFFD\uFFFD");
  EXPECT_EQ(repairUtf8(std::string("x\0y", 3)), std::string("x\0y", 3));
  EXPECT_EQ(repairUtf8("long ascii prefix before the bad byte\xFF"),
            "long ascii prefix before the bad byte\uFFFD");
}

}  // namespace
}  // namespace morvane
