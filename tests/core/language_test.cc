#include "language.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace morvane {
namespace {

using testing::ScopedEnv;

TEST(LanguageDetect, EnvironmentOverridesThePreference) {
  for (const char* value : {"zh", "ZH_TW", "zh-Hant", "Zh"}) {
    ScopedEnv lang("MORVANE_LANG", value);
    EXPECT_EQ(Language::detect("en"), Language::chinese) << value;
  }
  for (const char* value : {"en", "Chinese", "cn", " zh"}) {
    ScopedEnv lang("MORVANE_LANG", value);
    EXPECT_EQ(Language::detect("zh"), Language::english) << value;
  }
}

TEST(LanguageDetect, PreferenceDecidesWhenTheEnvironmentIsEmptyOrUnset) {
  for (std::optional<std::string> env :
       {std::optional<std::string>(""), std::optional<std::string>()}) {
    ScopedEnv lang("MORVANE_LANG", env);
    EXPECT_EQ(Language::detect("ZH"), Language::chinese);
    EXPECT_EQ(Language::detect("zh-Hans"), Language::chinese);
    EXPECT_EQ(Language::detect("en"), Language::english);
    EXPECT_EQ(Language::detect("fr"), Language::english);
  }
}

TEST(LanguageFromSystem, BundleOfferingChineseDecidesByItsPreferredLocalization) {
  platform::Bundle bundle;
  bundle.localizations = {"en", "zh-Hans"};
  bundle.developmentRegion = "en";
  EXPECT_EQ(Language::fromSystem(bundle, {"zh-CN"}), Language::chinese);
  EXPECT_EQ(Language::fromSystem(bundle, {"fr-FR", "zh-TW"}), Language::chinese);
  EXPECT_EQ(Language::fromSystem(bundle, {"en-US", "zh-CN"}), Language::english);
  // No match falls back to the development region.
  EXPECT_EQ(Language::fromSystem(bundle, {"fr"}), Language::english);
  EXPECT_EQ(Language::fromSystem(bundle, {}), Language::english);
}

TEST(LanguageFromSystem, WithoutAChineseLocalizationTheUsersFirstLanguageDecides) {
  platform::Bundle bare;
  EXPECT_EQ(Language::fromSystem(bare, {"zh-CN", "en"}), Language::chinese);
  EXPECT_EQ(Language::fromSystem(bare, {"de", "zh"}), Language::english);
  // No language information at all gives Chinese.
  EXPECT_EQ(Language::fromSystem(bare, {}), Language::chinese);
  platform::Bundle capitalised;
  capitalised.localizations = {"ZH-Hans", "en"};  // the test is on the name as declared
  EXPECT_EQ(Language::fromSystem(capitalised, {"fr"}), Language::english);
}

TEST(LanguageApply, ChangesTheCurrentLanguageAndLPicksByIt) {
  ScopedEnv lang("MORVANE_LANG", std::nullopt);
  Language::apply("zh");
  EXPECT_EQ(Language::current(), Language::chinese);
  EXPECT_EQ(L("中", "en"), "中");
  Language::apply("en");
  EXPECT_EQ(Language::current(), Language::english);
  EXPECT_EQ(L("中", "en"), "en");
}

TEST(LanguageApply, LEvaluatesOnlyTheChosenText) {
  ScopedEnv lang("MORVANE_LANG", std::nullopt);
  int chineseBuilt = 0, englishBuilt = 0;
  auto chinese = [&] {
    ++chineseBuilt;
    return std::string("中");
  };
  auto english = [&] {
    ++englishBuilt;
    return std::string("en");
  };
  Language::apply("en");
  EXPECT_EQ(L(chinese, english), "en");
  Language::apply("zh");
  EXPECT_EQ(L(chinese, english), "中");
  EXPECT_EQ(chineseBuilt, 1);
  EXPECT_EQ(englishBuilt, 1);
}

TEST(PreferredLanguages, ReadsTheLocaleVariablesInOrderAndSkipsCAndPosix) {
  ScopedEnv language("LANGUAGE", "zh_TW:C:en_GB");
  ScopedEnv all("LC_ALL", "C.UTF-8");
  ScopedEnv messages("LC_MESSAGES", "POSIX");
  ScopedEnv lang("LANG", "de_DE.UTF-8@euro");
  EXPECT_EQ(platform::preferredLanguages(), (std::vector<std::string>{"zh-TW", "en-GB", "de-DE"}));
  ScopedEnv noLanguage("LANGUAGE", "");
  ScopedEnv noLang("LANG", std::nullopt);
  EXPECT_TRUE(platform::preferredLanguages().empty());
}

}  // namespace
}  // namespace morvane
