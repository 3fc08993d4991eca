#include "settings.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(DecodeSettings, MissingAndNullMembersTakeTheirDefaults) {
  for (const char* text : {"{}", R"({"autoUpdate":null,"friendlyNames":null,"language":null,
                                      "notifyOnFailure":null})"}) {
    std::optional<Settings> settings = decodeSettings(text);
    ASSERT_TRUE(settings) << text;
    EXPECT_EQ(*settings, Settings{}) << text;
  }
  std::optional<Settings> onlyLanguage = decodeSettings(R"({"language":"en"})");
  ASSERT_TRUE(onlyLanguage);
  EXPECT_TRUE(onlyLanguage->autoUpdate);
  EXPECT_EQ(onlyLanguage->language, "en");
  EXPECT_EQ(onlyLanguage->friendlyNames, defaultFriendlyNames());
  // A file from before failure notices notifies; one that turned them off keeps them off.
  EXPECT_TRUE(onlyLanguage->notifyOnFailure);
  EXPECT_FALSE(decodeSettings(R"({"notifyOnFailure":false})")->notifyOnFailure);
}

TEST(DecodeSettings, FriendlyNamesReplaceTheDefaultsWhole) {
  std::optional<Settings> empty = decodeSettings(R"({"friendlyNames":{}})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->friendlyNames.empty());
  std::optional<Settings> own =
      decodeSettings(R"({"autoUpdate":false,"friendlyNames":{"a\/b":"名字"},"extra":[1]})");
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->autoUpdate);
  EXPECT_EQ(own->friendlyNames, (FriendlyNames{{"a/b", "名字"}}));
}

TEST(DecodeSettings, AnyWrongTypeRejectsTheWholeFile) {
  for (const char* text :
       {R"({"autoUpdate":"yes"})", R"({"autoUpdate":1})", R"({"language":5})",
        R"({"notifyOnFailure":"yes"})", R"({"notifyOnFailure":0})", R"({"friendlyNames":[]})",
        R"({"friendlyNames":{"a":1}})", R"({"friendlyNames":{"a":null}})", "[]", "null", "\"text\"",
        "", "{", "{} trailing", "{\"language\":\"\xff\"}"})
    EXPECT_FALSE(decodeSettings(text)) << text;
}

TEST(DecodeSettings, TheWholeTextMustBeJsonNotOnlyWhatComesBeforeANul) {
  EXPECT_FALSE(decodeSettings(std::string_view("{\"language\":\"zh\"}\0junk", 20)));
  EXPECT_FALSE(decodeSettings(std::string_view("{\"language\":\"zh\"}\0", 18)));
  EXPECT_EQ(decodeSettings("{\"language\":\"zh\"}")->language, "zh");
}

TEST(EncodeSettings, WritesSortedMembersOnePerLineWithEscapedSlashes) {
  Settings settings;
  settings.friendlyNames = {{"z.job", "Zed"}, {"a/job", "A/B"}};
  EXPECT_EQ(encodeSettings(settings),
            "{\n"
            "  \"autoUpdate\": true,\n"
            "  \"friendlyNames\": {\n"
            "    \"a\\/job\": \"A\\/B\",\n"
            "    \"z.job\": \"Zed\"\n"
            "  },\n"
            "  \"notifyOnFailure\": true\n"
            "}\n");
  settings.language = "zh";
  settings.friendlyNames.clear();
  settings.autoUpdate = false;
  settings.notifyOnFailure = false;
  EXPECT_EQ(encodeSettings(settings),
            "{\n  \"autoUpdate\": false,\n  \"friendlyNames\": {},\n  \"language\": \"zh\",\n"
            "  \"notifyOnFailure\": false\n}\n");
}

TEST(EncodeSettings, RoundTripsThroughDecode) {
  Settings settings;
  settings.language = "zh-Hant";
  settings.notifyOnFailure = false;
  settings.friendlyNames["quote\"back\\slash/"] = "tab\tnewline\n中";
  settings.otherMembers["zz notes"] = R"(["keep",{"a":null,"b":"c/d"}])";
  EXPECT_EQ(decodeSettings(encodeSettings(settings)), settings);
  EXPECT_EQ(decodeSettings(encodeSettings(Settings{})), Settings{});
}

}  // namespace
}  // namespace morvane
