// --help, --version and command-line errors, in-process and through the built executable.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli.h"
#include "shell.h"
#include "terminal_width.h"
#include "test_support.h"

namespace morvane {
namespace {

class Help : public ::testing::Test {
 protected:
  std::string help() {
    std::ostringstream out;
    EXPECT_EQ(CLI::help(out), 0);
    return out.str();
  }
  /// The option column of each "  --option  description" line.
  std::vector<std::string> options(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    const std::regex row(R"(^  (--\S.*?)  +\S.*$)");
    for (std::string line; std::getline(lines, line);) {
      if (std::smatch match; std::regex_match(line, match, row))
        found.push_back(match[1]);
    }
    return found;
  }

  testing::TempDir data_;
  testing::ScopedEnv dataVariable_{"MORVANE_HOME", data_.path().string()};
  testing::ScopedEnv language_{"MORVANE_LANG", "en"};
};

TEST_F(Help, EveryOptionHasOneLineAndTheReadmeListsEachOne) {
  const std::vector<std::string> listed = options(help());
  EXPECT_EQ(listed, (std::vector<std::string>{"--list",
                                              "--list --json",
                                              "--load <agent>",
                                              "--unload <agent>",
                                              "--status <agent>",
                                              "--status <agent> --lines N",
                                              "--status <agent> --json",
                                              "--new <label> -- <program> …",
                                              "--new … --at-load",
                                              "--new … --keep-alive",
                                              "--new … --every <seconds>",
                                              "--new … --at HH:MM",
                                              "--new … --at HH:MM --on <days>",
                                              "--new … --at HH:MM --day D",
                                              "--new … --log <file>",
                                              "--schedule <agent> --at HH:MM",
                                              "--schedule … --every <seconds>",
                                              "--schedule … --none",
                                              "--check [<agent>…]",
                                              "--check … --json",
                                              "--selftest",
                                              "--update",
                                              "--update --check",
                                              "--help",
                                              "--version"}));
  const std::string readme = testing::readText(MORVANE_SOURCE_DIR "/README.md");
  for (const std::string& option : listed)
    EXPECT_NE(readme.find("| `" + option + "` |"), std::string::npos) << option;
}

TEST_F(Help, ChineseDescriptionsStartInTheSameColumn) {
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  std::istringstream lines(help());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "用法：Morvane [选项]");
  size_t rows = 0;
  while (std::getline(lines, line) && line.starts_with("  --")) {
    size_t description = line.find_first_not_of(' ', line.find("  ", 2));
    EXPECT_EQ(terminalWidth(line.substr(0, description)), 34u) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 25u);
  EXPECT_EQ(line, "不带选项时启动菜单栏应用。");
}

TEST(UsageErrorText, OneLineNamingTheOptionInBothLanguages) {
  testing::TempDir data;
  testing::ScopedEnv dataVariable("MORVANE_HOME", data.path().string());
  testing::ScopedEnv english("MORVANE_LANG", "en");
  std::ostringstream out;
  EXPECT_EQ(CLI::usageError(out, {UsageError::missingAgent, "--unload"}), 1);
  EXPECT_EQ(CLI::usageError(out, {UsageError::badLineCount, "--lines"}), 1);
  EXPECT_EQ(CLI::usageError(out, {UsageError::unknownNewOption, "--x\x1b]"}), 1);
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(CLI::usageError(out, {UsageError::missingAgent, "--status"}), 1);
  EXPECT_EQ(CLI::usageError(out, {UsageError::missingLabel, "--new"}), 1);
  EXPECT_EQ(out.str(),
            "✗ --unload needs an agent: a label or a file name\n"
            "✗ --lines needs a number from 0 to 1000\n"
            "✗ --new does not take --x\\x1B]\n"
            "✗ --status 后面需要一个启动项：标签或文件名\n"
            "✗ --new 后面需要新启动项的标签\n");
}

TEST(TerminalWidth, WideCharactersTakeTwoColumnsAndMarksNone) {
  EXPECT_EQ(terminalWidth("Current"), 7u);
  EXPECT_EQ(terminalWidth("当前版本"), 8u);
  EXPECT_EQ(terminalWidth("ｆｕｌｌ"), 8u);   // full-width Latin
  EXPECT_EQ(terminalWidth("e\xCC\x81"), 1u);  // e + combining acute
  EXPECT_EQ(terminalWidth("bad\xFF"), 4u);
  EXPECT_EQ(padToWidth("上次退出", 12), "上次退出    ");
  EXPECT_EQ(padToWidth("Last exit", 12), "Last exit   ");
  EXPECT_EQ(padToWidth("much too long", 4), "much too long");
}

/// The built program, run as a user would run it.
ShellResult runProgram(const std::vector<std::string>& arguments, const testing::TempDir& home) {
  return Shell::run(
      MORVANE_EXECUTABLE, arguments, 60,
      {{"HOME", home.path()}, {"MORVANE_HOME", home / "data"}, {"MORVANE_LANG", "en"}});
}

TEST(Program, VersionHelpAndMissingAgentFromTheCommandLine) {
  testing::TempDir home;
  ShellResult version = runProgram({"--version"}, home);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.standardOutput, "Morvane " MORVANE_VERSION "\n");

  ShellResult help = runProgram({"--help"}, home);
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.standardOutput.starts_with("Usage: Morvane [option]\n"));

  ShellResult missing = runProgram({"--load"}, home);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.standardOutput, "✗ --load needs an agent: a label or a file name\n");

  // A refused --new says why on standard error.
  ShellResult refused = runProgram({"--new", "com.example.job", "--at-load"}, home);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.standardOutput, "");
  EXPECT_EQ(refused.standardError, "✗ --new needs a program after --\n");

  ShellResult listing = runProgram({"--json", "--list", "--load", "x"}, home);
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(listing.standardOutput, "[]\n");
}

TEST(Version, WithoutABundleIsZero) {
  std::ostringstream out;
  EXPECT_EQ(CLI::version(out), 0);
  EXPECT_EQ(out.str(), "Morvane 0\n");  // the test program is in no bundle
}

}  // namespace
}  // namespace morvane
