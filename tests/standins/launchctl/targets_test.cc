// Command lines the stand-in must refuse, with launchctl's texts and exit statuses.

#include <unistd.h>

#include "harness.h"

namespace launchctl_test {
namespace {

using TargetsTest = LaunchctlTest;

TEST_P(TargetsTest, NoSubcommandPrintsUsage) {
  const Result result = run({});
  EXPECT_EQ(result.status, 64);
  EXPECT_TRUE(result.err.starts_with("Usage: launchctl <subcommand> ... | help [subcommand]\n"))
      << result.err;
}

TEST_P(TargetsTest, UnknownSubcommandIsNamed) {
  const Result result = run({"frobnicate", domain()});
  EXPECT_EQ(result.status, 64);
  EXPECT_EQ(result.err,
            "Unrecognized subcommand: frobnicate\n"
            "Usage: launchctl <subcommand> ... | help [subcommand]\n");
  EXPECT_EQ(result.out, "");
}

TEST_P(TargetsTest, MalformedTargetsAreUnrecognized) {
  const std::string plist = writeJob("a.b", {"true"});
  const std::vector<std::vector<std::string>> commandLines = {
      {"print-disabled", "gui/"},
      {"print-disabled", "foo"},
      {"print-disabled", "gui/abc"},
      {"print-disabled", "gui/-1"},
      {"print-disabled", "gui/99999999999999999999"},
      {"print-disabled", service("a.b")},  // a service where a domain is needed
      {"print-disabled", "user/" + std::to_string(getuid())},
      {"bootstrap", service("a.b"), plist},
      {"bootstrap", "", plist},
      {"bootout", domain()},  // a domain where a service is needed
      {"bootout", domain() + "/"},
      {"bootout", ""},
      {"enable", "gui//a.b"},
      {"disable", "system/a.b"},
  };
  for (const auto& args : commandLines) {
    const Result result = run(args);
    EXPECT_EQ(result.status, 64) << args[0] << " " << args[1];
    EXPECT_TRUE(
        result.err.starts_with("Unrecognized target specifier.\nUsage: launchctl " + args[0] + " "))
        << args[1] << ": " << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(listRows().size(), 0u) << "a refused bootstrap must load nothing";
}

TEST_P(TargetsTest, AnotherUsersDomainIsNotFound) {
  const std::string other = std::to_string(getuid() + 1);
  const std::vector<std::vector<std::string>> commandLines = {
      {"print-disabled", "gui/" + other},
      {"bootstrap", "gui/" + other, writeJob("a.b", {"true"})},
      {"bootout", "gui/" + other + "/a.b"},
      {"enable", "gui/" + other + "/a.b"},
      {"disable", "gui/" + other + "/a.b"},
  };
  for (const auto& args : commandLines) {
    const Result result = run(args);
    EXPECT_EQ(result.status, 113) << args[0];
    EXPECT_EQ(result.err, "Could not find domain for user gui: " + other + "\n") << args[0];
  }
  EXPECT_EQ(listRows().size(), 0u);
}

TEST_P(TargetsTest, MissingOrExtraArgumentsPrintUsage) {
  const std::vector<std::vector<std::string>> commandLines = {
      {"bootstrap"}, {"bootstrap", domain()}, {"bootout"},       {"enable"},
      {"disable"},   {"print-disabled"},      {"list", "extra"}, {"enable", service("a"), "b"},
  };
  for (const auto& args : commandLines) {
    const Result result = run(args);
    EXPECT_EQ(result.status, 64) << args[0];
    EXPECT_TRUE(result.err.starts_with("Usage: launchctl " + args[0])) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_P(TargetsTest, HelpNamesEverySubcommandUsed) {
  const Result result = run({"help"});
  EXPECT_EQ(result.status, 0);
  for (const char* name : {"bootstrap", "bootout", "enable", "disable", "print-disabled", "list"}) {
    EXPECT_NE(result.out.find(std::string("\t") + name + " "), std::string::npos) << name;
  }
  EXPECT_EQ(run({"help", "bootout"}).out, "Usage: launchctl bootout <service-target>\n");
}

LAUNCHCTL_ON_BOTH_ENGINES(TargetsTest);

}  // namespace
}  // namespace launchctl_test
