#include "label_cache_reader.h"

#include <gtest/gtest.h>

namespace morvane::Agents {
namespace {

TEST(LabelCacheReader, KeepsOnlyWellShapedEntriesOfTheSameFolder) {
  const std::string text = R"({"directory": "/h/LaunchAgents", "files": {
      "a.plist": [1, 2, 30, -4, 5, "com.a"],
      "b.plist": [1, 3, 30, 4, 5, "com.b", "more"],
      "short.plist": [1, 2, 3, 4, 5],
      "text.plist": [1, "2", 3, 4, 5, "com.text"],
      "nested.plist": [1, 2, [3], 4, 5, "com.nested"],
      "object.plist": {"0": 1},
      "scalar.plist": "com.scalar",
      "twice.plist": [1, 2, 3, 4, 5, "com.first"],
      "twice.plist": [1, 2, 3, 4, 5, 6]
    }, "other": {"files": {"x.plist": [1, 2, 3, 4, 5, "com.x"]}}})";
  const RememberedLabels labels = parseLabelCache(text, "/h/LaunchAgents");
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels.at("a.plist").label, "com.a");
  EXPECT_EQ(labels.at("a.plist").identity, (FileIdentity{1, 2, 30, -4, 5}));
  EXPECT_EQ(labels.at("b.plist").label, "com.b");

  // Another folder, a document of another shape, or no document at all: nothing is trusted.
  EXPECT_TRUE(parseLabelCache(text, "/other/LaunchAgents").empty());
  for (const char* broken :
       {"[1, 2", "[]", "5", R"({"files": {"a.plist": [1, 2, 3, 4, 5, "com.a"]}})",
        R"({"directory": "/h/LaunchAgents", "files": []})", R"({"directory": "/h/LaunchAgents"})",
        R"({"directory": "/h/LaunchAgents", "files": {"a.plist": [1, 2, 3, 4, 5, "com.a"]}} x)"})
    EXPECT_TRUE(parseLabelCache(broken, "/h/LaunchAgents").empty()) << broken;
}

}  // namespace
}  // namespace morvane::Agents
