#include <gtest/gtest.h>

#include "agents.h"

namespace morvane {
namespace {

using Agents::LoadedJobs;

TEST(ParseList, ReadsRowsAndSkipsHeaderAndMalformedLines) {
  LoadedJobs jobs = Agents::parseList(
      "PID\tStatus\tLabel\n"
      "812\t0\tcom.example.sync\r\n"
      "-\t-15\tcom.example.idle\n"
      "\n"
      "only\tone tab\n"
      "no tabs at all\n"
      "7\t0\tlabel\twith tab\n");
  EXPECT_EQ(jobs, (LoadedJobs{{"com.example.sync", 812},
                              {"com.example.idle", std::nullopt},
                              {"label\twith tab", 7}}));
}

TEST(ParseList, ProcessIdMustBeAWholeSignedDecimal) {
  LoadedJobs jobs = Agents::parseList(
      "+42\t0\tplus\n-3\t0\tminus\n\t0\tempty\n 5\t0\tspace\n5x\t0\tsuffix\n"
      "+-1\t0\tsigns\n99999999999999999999\t0\toverflow\n");
  EXPECT_EQ(jobs["plus"], 42);
  EXPECT_EQ(jobs["minus"], -3);
  for (const char* label : {"empty", "space", "suffix", "signs", "overflow"}) {
    ASSERT_TRUE(jobs.contains(label)) << label;
    EXPECT_EQ(jobs[label], std::nullopt) << label;
  }
}

TEST(ParseList, LabelIsUntrimmedAndLaterRowsWin) {
  LoadedJobs jobs = Agents::parseList("1\t0\t spaced \n1\t0\tdup\n2\t0\tdup\nPID\t0\tPID-row\n");
  EXPECT_TRUE(jobs.contains(" spaced "));
  EXPECT_EQ(jobs["dup"], 2);
  EXPECT_FALSE(jobs.contains("PID-row"));  // any row whose first column is PID is a header
  EXPECT_TRUE(Agents::parseList("").empty());
}

TEST(ParseDisabled, ReadsRecentAndOlderForms) {
  std::set<std::string> labels = Agents::parseDisabled(
      "\n\tdisabled services = {\n"
      "\t\t\"com.a\" => disabled\n"
      "\t\t\"com.b\" => enabled\n"
      "\t\t\"com.c\" => true\r\n"
      "\t\t\"com.d\" => false\n"
      "\t\t\"com.e\" =>  \t disabled \t\n"
      "\t\t\"com.f\" => Disabled\n"
      "\t\t\"com.g\" => disabled => x\n"
      "\t}\n\n\tlogin item associations = {\n\t}\n");
  EXPECT_EQ(labels, (std::set<std::string>{"com.a", "com.c", "com.e"}));
}

TEST(ParseDisabled, TrimsQuotesSpacesAndTabsFromTheLabel) {
  EXPECT_EQ(Agents::parseDisabled("\t \"\"odd label\" \t => true"),
            (std::set<std::string>{"odd label"}));
  EXPECT_TRUE(Agents::parseDisabled("no arrow disabled\n").empty());
}

}  // namespace
}  // namespace morvane
