// bootstrap: reading XML and binary job property lists, starting the program the way the job
// asks, and every refusal.

#include <plist/plist.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "test_support.h"

namespace launchctl_test {
namespace {

using BootstrapTest = LaunchctlTest;
using BuiltinBootstrapTest = BuiltinLaunchctlTest;

constexpr char kRefusal[] =
    "Bootstrap failed: 5: Input/output error\n"
    "Try re-running the command as root for richer errors.\n";

TEST_P(BootstrapTest, StartedJobIsListedWithLivePidUntilBootout) {
  load("org.example.sleeper", {"sleep", "30"});
  // The pid is recorded before bootstrap returns.
  const std::optional<ListRow> row = rowOf("org.example.sleeper");
  ASSERT_TRUE(row);
  ASSERT_NE(row->pid, "-");
  EXPECT_EQ(row->status, 0);
  const pid_t pid = static_cast<pid_t>(std::stol(row->pid));
  EXPECT_EQ(kill(pid, 0), 0);
  EXPECT_TRUE(isRunning(pid));

  const Result bootout = run({"bootout", service("org.example.sleeper")});
  EXPECT_EQ(bootout.status, 0);
  EXPECT_EQ(bootout.out + bootout.err, "");
  EXPECT_TRUE(pidIsGone(pid)) << "the job must be reaped, not left a zombie";
  EXPECT_FALSE(rowOf("org.example.sleeper"));
}

TEST_P(BootstrapTest, BinaryPropertyListWithProgramAndArguments) {
  const std::filesystem::path marker = home_ / "argv0";
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "Label", plist_new_string("org.example.binary"));
  plist_dict_set_item(dict, "Program", plist_new_string("/bin/sh"));
  plist_t args = plist_new_array();
  for (const std::string& arg : {std::string("custom-name"), std::string("-c"),
                                 "echo \"$0\" > " + marker.string() + "; exec sleep 30"}) {
    plist_array_append_item(args, plist_new_string(arg.c_str()));
  }
  plist_dict_set_item(dict, "ProgramArguments", args);
  plist_dict_set_item(dict, "RunAtLoad", plist_new_bool(1));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &bytes, &length);
  plist_free(dict);
  ASSERT_NE(bytes, nullptr);
  const std::filesystem::path path = home_ / "binary.plist";
  writeFile(path, std::string(bytes, length));
  plist_to_bin_free(bytes);
  ASSERT_TRUE(readFile(path).starts_with("bplist00"));

  const Result result = run({"bootstrap", domain(), path.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_GT(pidOf("org.example.binary"), 0);
  // Program is what runs; ProgramArguments supplies its argv, including argv[0].
  EXPECT_TRUE(eventually([&] { return readFile(marker) == "custom-name\n"; })) << readFile(marker);
}

TEST_P(BootstrapTest, JobRunsWithItsDirectoryEnvironmentStreamsAndSettings) {
  const std::filesystem::path work = home_ / "work";
  std::filesystem::create_directory(work);
  const std::filesystem::path in = home_ / "in.txt";
  const std::filesystem::path out = home_ / "out.log";
  const std::filesystem::path err = home_ / "err.log";
  writeFile(in, "from standard input\n");
  writeFile(out, "earlier\n");
  load("org.example.env",
       {"/bin/sh", "-c", "pwd; echo \"$FOO $INVOKER\"; echo oops >&2; cat; umask; nice; echo done"},
       xmlString("WorkingDirectory", work.string()) + "<key>EnvironmentVariables</key><dict>" +
           "<key>FOO</key><string>bar</string><key>INVOKER</key><string>job</string></dict>\n" +
           xmlString("StandardInPath", in.string()) + xmlString("StandardOutPath", out.string()) +
           xmlString("StandardErrorPath", err.string()) + xmlString("Umask", "027") +
           "<key>Nice</key><integer>5</integer>\n");
  ASSERT_EQ(waitForExit("org.example.env"), 0);
  // Outputs are appended to what the files held.
  EXPECT_EQ(readFile(out),
            "earlier\n" + work.string() + "\nbar job\nfrom standard input\n0027\n5\ndone\n");
  EXPECT_EQ(readFile(err), "oops\n");
}

TEST_P(BootstrapTest, ArgumentsEnvironmentAndPathsReachTheJobExactly) {
  const std::vector<std::string> words = {"plain",     "two words",
                                          "",          "$HOME ${HOME} $$",
                                          "%h %% %",   "quote\" apostrophe' \\",
                                          ";",         "new\nline\ttab",
                                          "ünïcödé ✓", "-",
                                          "@"};
  const std::string odd = "value with $HOME %h \"quotes\" \\ and\nnewline";
  // A folder name a unit file cannot spell as it is.
  const std::filesystem::path work = home_ / "odd \\ dir %n\nline ";
  std::filesystem::create_directory(work);
  std::vector<std::string> arguments = {
      "/bin/sh", "-c", "printf '%s\\0' \"$@\" > argv; printf '%s' \"$ODD\" > env; pwd > cwd", "sh"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  load("org.example.words", arguments,
       xmlString("WorkingDirectory", work.string()) +
           "<key>EnvironmentVariables</key><dict><key>ODD</key><string>" + odd +
           "</string></dict>\n" + xmlString("StandardOutPath", (work / "out %p log").string()));
  ASSERT_EQ(waitForExit("org.example.words"), 0);
  std::vector<std::string> received;
  const std::string argv = readFile(work / "argv");
  for (size_t start = 0; start < argv.size();) {
    const size_t end = argv.find('\0', start);
    received.push_back(argv.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(received, words);
  EXPECT_EQ(readFile(work / "env"), odd);
  EXPECT_EQ(readFile(work / "cwd"), work.string() + "\n");
  EXPECT_TRUE(std::filesystem::exists(work / "out %p log"));
}

TEST_P(BootstrapTest, HostileLabelsProgramsAndPathsAreKeptExactly) {
  // Each label is listed and booted out as it is written; each program runs from the path it
  // names, in the folder and with the output its job names, ".." taken as the kernel takes it.
  const std::vector<std::string> labels = {"ka.bs\\",
                                           " spaced label ",
                                           std::string(210, 'l') + " ",
                                           " " + std::string(210, 'm'),
                                           "pct%n$HOME$$",
                                           "quote\"'",
                                           "tail\\\\\\",
                                           "ünï cödé\\"};
  const std::vector<std::string> programs = {"job$x",       "job$$x", "q\"uote", "ap'os",
                                             "back\\slash", "pct%n",  "sp ace ", "dots"};
  std::filesystem::create_directories(home_ / "bin" / "sub");
  std::filesystem::create_directories(home_ / "work" / "sub");
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE(labels[i]);
    const std::filesystem::path program = home_ / "bin" / programs[i];
    writeFile(program,
              "#!/bin/sh\nprintf '%s|%s|%s\\n' " + std::to_string(i) + " \"$1\" \"$(pwd)\"\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const std::string file = "job" + std::to_string(i) + ".plist";
    writeFile(home_ / file,
              xmlPlist(xmlString("Label", labels[i]) +
                       xmlString("Program", (home_ / "bin" / "sub" / ".." / programs[i]).string()) +
                       xmlStrings("ProgramArguments", {"name " + programs[i], "$HOME %n"}) +
                       xmlString("WorkingDirectory", (home_ / "work" / "sub" / "..").string()) +
                       xmlString("StandardOutPath",
                                 (home_ / "work" / "sub" / ".." / ("out" + programs[i])).string()) +
                       xmlBool("RunAtLoad", true)));
    const Result loaded = run({"bootstrap", domain(), (home_ / file).string()});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(waitForExit(labels[i]), 0);
    EXPECT_EQ(readFile(home_ / "work" / ("out" + programs[i])),
              std::to_string(i) + "|$HOME %n|" + (home_ / "work").string() + "\n");
  }
  EXPECT_EQ(listRows().size(), labels.size());
  for (const std::string& label : labels) {
    EXPECT_EQ(run({"bootout", service(label)}).status, 0) << label;
  }
  EXPECT_TRUE(listRows().empty());
}

TEST_P(BootstrapTest, WhatCannotRunIsRefusedInTheSameWordsOnEitherEngine) {
  const std::string args = xmlStrings("ProgramArguments", {"true"});
  std::string manyEntries = "<key>StartCalendarInterval</key><array>";
  for (int minute = 0; minute < 59; ++minute) {
    for (int hour : {1, 2}) {
      manyEntries += "<dict><key>Minute</key><integer>" + std::to_string(minute) +
                     "</integer><key>Hour</key><integer>" + std::to_string(hour) +
                     "</integer></dict>";
    }
  }
  manyEntries += "</array>\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {xmlStrings("ProgramArguments", {"echo", "not \xff UTF-8"}),
       "a program argument is not UTF-8 text"},
      {xmlStrings("ProgramArguments",
                  {"echo", std::string(600'000, 'a'), std::string(600'000, 'b')}),
       "its program arguments are longer than 1 MB"},
      {args + "<key>EnvironmentVariables</key><dict><key>A</key><string>\xc3(</string></dict>\n",
       "an environment variable is not UTF-8 text"},
      {args + manyEntries,
       "StartCalendarInterval has 118 different entries; at most 100 are taken"},
  };
  const std::string path = (home_ / "refused.plist").string();
  for (const auto& [entries, reason] : cases) {
    writeFile(path, xmlPlist(xmlString("Label", "org.example.refused") + entries));
    const Result result = run({"bootstrap", domain(), path});
    EXPECT_EQ(result.status, 5) << reason;
    EXPECT_EQ(result.err, path + ": " + reason + "\nBootstrap failed: 5: Input/output error\n");
  }
  EXPECT_TRUE(listRows().empty());

  // Identical entries are merged, and one that can never fire is left out with a line in the
  // job's log: what is left loads.
  std::string merged = "<key>StartCalendarInterval</key><array>";
  for (int copy = 0; copy < 5000; ++copy) {
    merged += "<dict><key>Minute</key><integer>7</integer></dict>";
  }
  merged += "<dict><key>Month</key><integer>2</integer><key>Day</key><integer>30</integer></dict>";
  merged += "</array>\n";
  const std::filesystem::path log = home_ / "err.log";
  loadEntries("org.example.merged", args + xmlString("StandardErrorPath", log.string()) + merged);
  EXPECT_EQ(readFile(log),
            "launchctl: org.example.merged: the StartCalendarInterval entry Month 2, Day 30 can "
            "never fire; it is left out\n");
  EXPECT_TRUE(rowOf("org.example.merged"));
}

TEST_P(BootstrapTest, UnknownKeysAreIgnoredAndTheDefaultsApply) {
  const std::filesystem::path out = home_ / "out.log";
  load("org.example.plain", {"/bin/sh", "-c", "pwd; cat"},
       xmlString("StandardOutPath", out.string()) + xmlString("LimitLoadToSessionType", "Aqua") +
           "<key>WatchPaths</key><array><string>/tmp</string></array>\n" +
           "<key>MachServices</key><dict><key>a.b</key><true/></dict>\n");
  ASSERT_EQ(waitForExit("org.example.plain"), 0);
  // The root directory, and nothing on standard input.
  EXPECT_EQ(readFile(out), "/\n");
}

TEST_F(BuiltinBootstrapTest, JobInheritsInvokersEnvironmentAndSearchesPath) {
  const std::filesystem::path out = home_ / "out.log";
  const std::string plist = writeJob("org.example.inherit", {"sh", "-c", "echo $MARK; exit 7"},
                                     xmlString("StandardOutPath", out.string()));
  const Result result = run({"bootstrap", domain(), plist}, {{"MARK", "from-invoker"}});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(waitForExit("org.example.inherit"), 7);
  EXPECT_EQ(readFile(out), "from-invoker\n");
}

TEST_P(BootstrapTest, ProgramThatCannotRunIsLoadedAndShowsFailureStatus) {
  const std::filesystem::path path = home_ / "broken.plist";
  writeFile(path,
            xmlPlist(xmlString("Label", "org.example.broken") +
                     xmlString("Program", "/nonexistent/program") + xmlBool("RunAtLoad", true)));
  const Result result = run({"bootstrap", domain(), path.string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(waitForExit("org.example.broken"), 78);
  // A program is looked for on the job's PATH only, never on the manager's own.
  load("org.example.unfound", {"true"},
       "<key>EnvironmentVariables</key><dict><key>PATH</key><string>" + home_.string() +
           "</string></dict>\n");
  EXPECT_EQ(waitForExit("org.example.unfound"), 78);
}

TEST_P(BootstrapTest, WithoutRunAtLoadTheJobIsLoadedButNotStarted) {
  const std::filesystem::path marker = home_ / "ran";
  const std::filesystem::path path = home_ / "idle.plist";
  writeFile(path, xmlPlist(xmlString("Label", "org.example.idle") +
                           xmlStrings("ProgramArguments", {"touch", marker.string()})));
  ASSERT_EQ(run({"bootstrap", domain(), path.string()}).status, 0);
  const std::optional<ListRow> row = rowOf("org.example.idle");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->pid, "-");
  EXPECT_EQ(row->status, 0);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_P(BootstrapTest, UnusableJobsAreRefused) {
  const std::string args = xmlStrings("ProgramArguments", {"sleep", "30"});
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not a property list", "this is plain text\n"},
      {"empty file", ""},
      {"truncated XML", xmlPlist(xmlString("Label", "org.example.x") + args).substr(0, 200)},
      {"no label", xmlPlist(args)},
      {"empty label", xmlPlist(xmlString("Label", "") + args)},
      {"label not a string", xmlPlist("<key>Label</key><integer>3</integer>\n" + args)},
      {"no program", xmlPlist(xmlString("Label", "org.example.x"))},
      {"empty arguments",
       xmlPlist(xmlString("Label", "org.example.x") + xmlStrings("ProgramArguments", {}))},
      {"non-string argument",
       xmlPlist(xmlString("Label", "org.example.x") +
                "<key>ProgramArguments</key><array><integer>1</integer></array>\n")},
      {"calendar minute out of range",
       xmlPlist(xmlString("Label", "org.example.x") + args +
                "<key>StartCalendarInterval</key><dict><key>Minute</key><integer>60</integer>"
                "</dict>\n")},
      {"calendar entry not a dictionary",
       xmlPlist(xmlString("Label", "org.example.x") + args +
                "<key>StartCalendarInterval</key><array><integer>5</integer></array>\n")},
      {"negative interval", xmlPlist(xmlString("Label", "org.example.x") + args +
                                     "<key>StartInterval</key><integer>-5</integer>\n")},
      {"umask not a number",
       xmlPlist(xmlString("Label", "org.example.x") + args + xmlString("Umask", "rw-r--r--"))},
      {"keep-alive condition not a boolean",
       xmlPlist(xmlString("Label", "org.example.x") + args +
                "<key>KeepAlive</key><dict><key>SuccessfulExit</key><string>no</string></dict>\n")},
      {"root is an array",
       "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
       "<string>org.example.x</string></array></plist>"},
  };
  for (const auto& [name, contents] : cases) {
    const std::filesystem::path path = home_ / "unusable.plist";
    writeFile(path, contents);
    const Result result = run({"bootstrap", domain(), path.string()});
    EXPECT_EQ(result.status, 5) << name;
    EXPECT_EQ(result.err, kRefusal) << name;
    EXPECT_EQ(result.out, "") << name;
  }
  EXPECT_EQ(listRows().size(), 0u);
}

TEST_P(BootstrapTest, AlreadyLoadedLabelIsRefusedAndKeepsFirstJob) {
  load("org.example.once", {"sleep", "30"});
  const pid_t pid = pidOf("org.example.once");
  const Result again = run({"bootstrap", domain(), writeJob("org.example.once", {"sleep", "31"})});
  EXPECT_EQ(again.status, 5);
  EXPECT_EQ(again.err, kRefusal);
  EXPECT_EQ(pidOf("org.example.once"), pid);
  EXPECT_EQ(listRows().size(), 1u);
}

TEST_P(BootstrapTest, MissingFileReportsErrno) {
  const std::string path = (home_ / "absent.plist").string();
  const Result result = run({"bootstrap", domain(), path});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, path +
                            ": No such file or directory\n"
                            "Bootstrap failed: 2: No such file or directory\n");
  const Result directory = run({"bootstrap", domain(), home_.string()});
  EXPECT_EQ(directory.status, 21);
  EXPECT_EQ(directory.err,
            home_.string() + ": Is a directory\nBootstrap failed: 21: Is a directory\n");
}

TEST_F(BuiltinBootstrapTest, UnreadableFileReportsPermissionDenied) {
  if (getuid() != 0) {
    GTEST_SKIP() << "needs root to run the stand-in as another user";
  }
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chmod(home_.c_str(), 0755), 0);
  const std::string path = writeJob("org.example.secret", {"sleep", "30"});
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  // That user runs a copy of the stand-in it can reach from any checkout.
  morvane::testing::TempDir reachable;
  const std::string launchctl = morvane::testing::copyForAnyUser(LAUNCHCTL_PATH, reachable);
  const Result result =
      runProgram({launchctl, "bootstrap", "gui/65534", path}, {home_, {}, kNobody});
  EXPECT_EQ(result.status, 13);
  EXPECT_EQ(result.err, path + ": Permission denied\nBootstrap failed: 13: Permission denied\n");
}

TEST_F(BuiltinBootstrapTest, APriorityTheUserMayNotTakeLeavesTheJobAtItsOwn) {
  if (getuid() != 0) {
    GTEST_SKIP() << "needs root to run the stand-in as another user";
  }
  // As the user's systemd manager does: the job runs, at the priority it inherits.
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chmod(home_.c_str(), 0777), 0);
  const std::filesystem::path out = home_ / "nice";
  const std::string path = writeJob(
      "org.example.eager", {"/bin/sh", "-c", "nice"},
      xmlString("StandardOutPath", out.string()) + "<key>Nice</key><integer>-5</integer>\n");
  const RunOptions asNobody{home_, engineEnvironment(), kNobody};
  // That user runs a copy of the stand-in and its supervisor that it can reach from any checkout.
  morvane::testing::TempDir reachable;
  const std::string helpers = morvane::testing::copyForAnyUser(
      std::filesystem::path(LAUNCHCTL_PATH).parent_path(), reachable);
  const std::string launchctl = helpers + "/launchctl";
  const Result loaded = runProgram({launchctl, "bootstrap", "gui/65534", path}, asNobody);
  ASSERT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_TRUE(eventually([&] { return readFile(out) == "0\n"; })) << readFile(out);
  EXPECT_EQ(runProgram({launchctl, "bootout", "gui/65534/org.example.eager"}, asNobody).status, 0);
}

LAUNCHCTL_ON_BOTH_ENGINES(BootstrapTest);

}  // namespace
}  // namespace launchctl_test
