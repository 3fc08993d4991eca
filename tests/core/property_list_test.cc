#include "property_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "agents.h"
#include "test_support.h"

namespace morvane {
namespace {

/// A binary property list of arrays: array i holds the objects `children[i]`; object 0 is the
/// top. References and offsets take four bytes.
std::string binaryArrays(const std::vector<std::vector<uint32_t>>& children) {
  auto bigEndian = [](std::string& out, uint64_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
      out += static_cast<char>((value >> shift) & 0xFF);
  };
  std::string bytes = "bplist00";
  std::vector<uint64_t> offsets;
  for (const auto& refs : children) {
    offsets.push_back(bytes.size());
    if (refs.size() < 15) {
      bytes += static_cast<char>(0xA0 | refs.size());
    } else {
      bytes += '\xAF';
      bytes += '\x12';
      bigEndian(bytes, refs.size(), 4);
    }
    for (uint32_t ref : refs)
      bigEndian(bytes, ref, 4);
  }
  const uint64_t table = bytes.size();
  for (uint64_t offset : offsets)
    bigEndian(bytes, offset, 4);
  bytes += std::string(6, '\0');
  bytes += '\x04';
  bytes += '\x04';
  bigEndian(bytes, children.size(), 8);
  bigEndian(bytes, 0, 8);
  bigEndian(bytes, table, 8);
  return bytes;
}

/// `levels` arrays, each holding the next one `fanOut` times.
std::string chain(uint32_t levels, size_t fanOut) {
  std::vector<std::vector<uint32_t>> children(levels);
  for (uint32_t i = 0; i + 1 < levels; ++i)
    children[i].assign(fanOut, i + 1);
  return binaryArrays(children);
}

TEST(BinaryPropertyListLimits, OrdinaryNestingAndSharingParse) {
  PlistPtr nested = parsePropertyList(chain(100, 1));
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(plist_get_node_type(nested.get()), PLIST_ARRAY);
  EXPECT_NE(parsePropertyList(chain(12, 2)), nullptr);  // 4,095 objects once expanded
}

TEST(BinaryPropertyListLimits, DeepNestingIsRefusedWithoutRecursing) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(parsePropertyList(chain(100000, 1)), nullptr);
  EXPECT_EQ(parsePropertyList(chain(600, 1)), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(BinaryPropertyListLimits, ExponentialSharingIsRefused) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(parsePropertyList(chain(40, 2)), nullptr);
  EXPECT_EQ(parsePropertyList(chain(30, 3)), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(BinaryPropertyListLimits, CyclesAreRefused) {
  EXPECT_EQ(parsePropertyList(binaryArrays({{1}, {0}})), nullptr);
  EXPECT_EQ(parsePropertyList(binaryArrays({{0}})), nullptr);
}

TEST(BinaryPropertyListLimits, CapsAreParameters) {
  EXPECT_TRUE(binaryPropertyListWithinLimits(chain(10, 1), {.depth = 10}));
  EXPECT_FALSE(binaryPropertyListWithinLimits(chain(11, 1), {.depth = 10}));
  EXPECT_TRUE(binaryPropertyListWithinLimits(chain(4, 2), {.expandedObjects = 15}));
  EXPECT_FALSE(binaryPropertyListWithinLimits(chain(4, 2), {.expandedObjects = 14}));
  EXPECT_TRUE(binaryPropertyListWithinLimits("<?xml", {.depth = 1}));
}

TEST(BinaryPropertyListLimits, TruncatedOrLyingTrailersAreLeftToTheParser) {
  std::string bytes = chain(5, 1);
  EXPECT_TRUE(binaryPropertyListWithinLimits(bytes.substr(0, 20), {}));
  bytes[bytes.size() - 1] = '\x7F';  // offset table past the end
  EXPECT_TRUE(binaryPropertyListWithinLimits(bytes, {}));
  EXPECT_EQ(parsePropertyList(bytes), nullptr);
}

TEST(Label, HostileBinaryListsFallBackToTheFileName) {
  testing::TempDir dir;
  testing::writeFile(dir / "deep.plist", chain(100000, 1));
  testing::writeFile(dir / "bomb.plist", chain(40, 2));
  EXPECT_EQ(Agents::label(dir / "deep.plist"), "deep");
  EXPECT_EQ(Agents::label(dir / "bomb.plist"), "bomb");
}

}  // namespace
}  // namespace morvane
