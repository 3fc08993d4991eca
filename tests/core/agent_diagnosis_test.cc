#include "agent_diagnosis.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "agent_diagnosis_keys.h"
#include "agents.h"
#include "language.h"
#include "test_support.h"

namespace morvane {
namespace {

/// An XML property list around `body`, the inside of its dictionary.
std::string plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         body + "</dict>\n</plist>\n";
}

/// The dictionary body of a sound agent that runs `program`, before `more`.
std::string job(const std::string& program, const std::string& more = "") {
  return "<key>Label</key><string>com.example.job</string>\n"
         "<key>ProgramArguments</key><array><string>" +
         program + "</string></array>\n" + more;
}

std::vector<std::string> kinds(const Diagnosis& diagnosis) {
  std::vector<std::string> found;
  for (const AgentProblem& problem : diagnosis)
    found.push_back(problem.kind);
  return found;
}

std::vector<std::string> sentences(const Diagnosis& diagnosis) {
  std::vector<std::string> found;
  for (const AgentProblem& problem : diagnosis)
    found.push_back(sentence(problem));
  return found;
}

class DiagnoseAgentFile : public ::testing::Test {
 protected:
  void SetUp() override { Language::apply(std::nullopt); }
  void TearDown() override { Language::apply(std::nullopt); }

  Diagnosis of(const std::string& bytes) {
    testing::writeFile(dir / "job.plist", bytes);
    return diagnoseAgentFile(dir / "job.plist");
  }

  testing::ScopedEnv english{"MORVANE_LANG", "en"};
  testing::TempDir dir;
};

TEST_F(DiagnoseAgentFile, SaysWhereAndWhyAFileIsNoAgent) {
  // The line and column of the XML parser's stop; libplist alone cannot say.
  Diagnosis broken = of(plist(job("/bin/sh") + "<key>RunAtLoad</key><true>\n"));
  ASSERT_EQ(kinds(broken), std::vector<std::string>{"not-property-list"});
  EXPECT_TRUE(sentence(broken[0]).starts_with(
      "It is not a property list: the XML parser stopped at line 7, column "))
      << sentence(broken[0]);
  EXPECT_EQ(kinds(of("just some words")), std::vector<std::string>{"not-property-list"});
  EXPECT_EQ(kinds(of("bplist00 garbage")), std::vector<std::string>{"not-property-list"});
  EXPECT_EQ(sentences(of("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>")),
            std::vector<std::string>{"Its top level is a list, not a dictionary: put the keys in "
                                     "one <dict>."});
  EXPECT_EQ(kinds(diagnoseAgentFile(dir / "gone.plist")), std::vector<std::string>{"unreadable"});

  EXPECT_EQ(kinds(of(plist("<key>ProgramArguments</key><array><string>/bin/sh</string></array>"))),
            std::vector<std::string>{"missing-label"});
  EXPECT_EQ(kinds(of(plist("<key>Label</key><integer>3</integer>"
                           "<key>Program</key><string>/bin/sh</string>"))),
            std::vector<std::string>{"label-not-text"});
  EXPECT_EQ(sentences(of(plist("<key>Label</key><string>x</string>"))),
            std::vector<std::string>{"It has no Program and no ProgramArguments: add "
                                     "ProgramArguments with the program's path first."});
  EXPECT_EQ(kinds(of(plist("<key>Label</key><string>x</string>"
                           "<key>ProgramArguments</key><array/>"))),
            std::vector<std::string>{"arguments-empty"});
  EXPECT_EQ(kinds(of(plist("<key>Label</key><string>x</string><key>ProgramArguments</key>"
                           "<array><string>/bin/sh</string><integer>1</integer></array>"))),
            std::vector<std::string>{"arguments-not-texts"});
  EXPECT_EQ(kinds(of(plist("<key>Label</key><string>x</string>"
                           "<key>ProgramArguments</key><string>/bin/sh</string>"))),
            std::vector<std::string>{"arguments-not-texts"});
  // A sound agent has nothing to report.
  EXPECT_TRUE(of(plist(job("/bin/sh", "<key>RunAtLoad</key><true/>"))).empty());
}

TEST_F(DiagnoseAgentFile, LooksForTheProgramAsTheManagerWould) {
  testing::writeScript(dir / "bin" / "tool", "exit 0");
  testing::writeFile(dir / "plain", "not a program");
  ::chmod((dir / "plain").c_str(), 0644);
  const std::string gone = (dir / "gone").string();

  Diagnosis missing = of(plist(job(gone)));
  ASSERT_EQ(kinds(missing), std::vector<std::string>{"program-missing"});
  EXPECT_TRUE(missing[0].failsAtStart);
  EXPECT_EQ(sentence(missing[0]),
            "Its program " + gone + " does not exist: install it or correct the path.");
  EXPECT_EQ(kinds(of(plist(job(dir.path().string())))), std::vector<std::string>{"program-folder"});
  EXPECT_EQ(kinds(of(plist(job((dir / "plain").string())))),
            std::vector<std::string>{"program-not-executable"});
  // "Program" is what runs; ProgramArguments then only gives the arguments.
  EXPECT_TRUE(of(plist("<key>Label</key><string>x</string><key>Program</key><string>" +
                       (dir / "bin" / "tool").string() +
                       "</string><key>ProgramArguments</key><array><string>shown</string>"
                       "</array>"))
                  .empty());
  // A bare name is looked up on the agent's own PATH when it sets one.
  EXPECT_EQ(kinds(of(plist(job("tool")))), std::vector<std::string>{"program-not-found"});
  EXPECT_TRUE(of(plist(job("tool",
                           "<key>EnvironmentVariables</key><dict><key>PATH</key><string>"
                           "/nowhere:" +
                               (dir / "bin").string() + "</string></dict>")))
                  .empty());
  // A relative path starts in the working directory.
  EXPECT_TRUE(of(plist(job("bin/tool", "<key>WorkingDirectory</key><string>" + dir.path().string() +
                                           "</string>")))
                  .empty());
  EXPECT_EQ(kinds(of(plist(job("bin/tool")))), std::vector<std::string>{"program-missing"});
}

TEST_F(DiagnoseAgentFile, JudgesKnownAndUnknownKeys) {
  EXPECT_EQ(sentences(of(plist(job("/bin/sh", "<key>RunAtLoad</key><string>yes</string>")))),
            std::vector<std::string>{
                "RunAtLoad is the text \"yes\", not true or false: write <true/> or <false/>."});
  EXPECT_EQ(sentences(of(plist(job("/bin/sh", "<key>RunAtload</key><true/>")))),
            std::vector<std::string>{"RunAtload: did you mean RunAtLoad?"});
  EXPECT_EQ(kinds(of(plist(job("/bin/sh", "<key>keepalive</key><true/>")))),
            std::vector<std::string>{"near-key"});
  Diagnosis unknown = of(plist(job("/bin/sh", "<key>com.example.Setting</key><true/>")));
  ASSERT_EQ(kinds(unknown), std::vector<std::string>{"unknown-key"});
  EXPECT_EQ(unknown[0].severity, AgentProblem::note);
  EXPECT_FALSE(hasError(unknown));

  EXPECT_EQ(sentences(of(plist(job("/bin/sh",
                                   "<key>StartCalendarInterval</key><array>"
                                   "<dict><key>Hour</key><integer>3</integer></dict>"
                                   "<dict><key>Hour</key><integer>25</integer></dict>"
                                   "</array>")))),
            std::vector<std::string>{
                "StartCalendarInterval Hour is 25, outside 0 to 23: use a value from 0 to 23."});
  EXPECT_EQ(kinds(of(plist(job("/bin/sh",
                               "<key>StartCalendarInterval</key><dict>"
                               "<key>Weekday</key><integer>-1</integer>"
                               "<key>Minutes</key><integer>5</integer></dict>")))),
            (std::vector<std::string>{"calendar-range", "near-key"}));
  EXPECT_EQ(kinds(of(plist(job("/bin/sh", "<key>StartInterval</key><integer>0</integer>")))),
            std::vector<std::string>{"interval-zero"});
  EXPECT_EQ(kinds(of(plist(job("/bin/sh",
                               "<key>KeepAlive</key><dict/>"
                               "<key>Umask</key><string>022</string>")))),
            std::vector<std::string>{});  // keys that take more than one type

  EXPECT_EQ(diagnosis::nearestKey("ProgramArgument", {"Program", "ProgramArguments"}),
            "ProgramArguments");
  EXPECT_EQ(diagnosis::nearestKey("Nicety", {"Nice"}), std::nullopt);
}

TEST_F(DiagnoseAgentFile, NeedsAFolderForEachLog) {
  const std::string log = (dir / "logs" / "out.log").string();
  Diagnosis missing = of(plist(job("/bin/sh", "<key>StandardOutPath</key><string>" + log +
                                                  "</string><key>StandardErrorPath</key><string>" +
                                                  log + "</string>")));
  ASSERT_EQ(kinds(missing), std::vector<std::string>{"log-folder-missing"});  // named once
  EXPECT_EQ(sentence(missing[0]), "The folder of its log " + log + " does not exist: create " +
                                      (dir / "logs").string() + ".");
  std::filesystem::create_directory(dir / "logs");
  EXPECT_TRUE(of(plist(job("/bin/sh", "<key>StandardErrorPath</key><string>" + log + "</string>")))
                  .empty());
  testing::writeFile(dir / "file", "");
  EXPECT_EQ(kinds(of(plist(job("/bin/sh", "<key>StandardErrorPath</key><string>" +
                                              (dir / "file" / "x.log").string() + "</string>")))),
            std::vector<std::string>{"log-folder-missing"});
}

TEST_F(DiagnoseAgentFile, SurroundingsAddSharedLabelsAndStateInEitherLanguage) {
  testing::writeFile(dir / "a.plist", plist(job("/bin/sh")));
  testing::writeFile(dir / "b.plist", plist(job("/bin/sh")));
  Agent a{"a.plist", (dir / "a.plist").string(), "com.example.job", true, 7, true};
  Agent b{"b.plist", (dir / "b.plist").string(), "com.example.job", false, {}, false};
  Agent other{"c.plist", (dir / "c.plist").string(), "com.example.other", false, {}, false};
  const std::vector<Agent> agents{a, b, other};

  Diagnosis shared = diagnoseAgent(a, agents);
  EXPECT_EQ(kinds(shared), (std::vector<std::string>{"duplicate-label", "disabled"}));
  EXPECT_EQ(sentence(shared[0]),
            "b.plist uses the label com.example.job as well: give one of them another Label.");
  EXPECT_EQ(sentence(shared[1]), "It is disabled: enable it with launchctl enable " +
                                     Agents::serviceTarget("com.example.job") +
                                     "; loading it here does so first.");
  EXPECT_EQ(kinds(diagnoseAgent(a, agents, true)),
            (std::vector<std::string>{"duplicate-label", "already-loaded", "disabled"}));

  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(sentence(diagnoseAgent(b, agents)[0]),
            "a.plist 也使用标签 com.example.job：请给其中一个换一个 Label。");
  EXPECT_EQ(sentences(of(plist(job("/bin/sh", "<key>RunAtload</key><true/>")))),
            std::vector<std::string>{"RunAtload：是不是想写 RunAtLoad？"});
  EXPECT_EQ(sentences(of(plist(job("/bin/sh", "<key>RunAtLoad</key><string>yes</string>")))),
            std::vector<std::string>{
                "RunAtLoad 是文本“yes”，不是 true 或 false：请写成 <true/> 或 <false/>。"});
}

}  // namespace
}  // namespace morvane
