#include "job_description.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include "language.h"
#include "property_list.h"
#include "test_support.h"

namespace morvane {
namespace {

std::string binaryPlist(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string result(bytes, length);
  std::free(bytes);
  return result;
}

TEST(ReadJobDescription, ReadsProgramArgumentsAndLogPathsFromABinaryList) {
  PlistPtr root(plist_new_dict());
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments, plist_new_string("/bin/sh"));
  plist_array_append_item(arguments, plist_new_uint(7));  // not text: left out
  plist_array_append_item(arguments, plist_new_string("-c"));
  plist_dict_set_item(root.get(), "ProgramArguments", arguments);
  plist_dict_set_item(root.get(), "StandardOutPath", plist_new_string("/tmp/out \"q\".log"));
  testing::TempDir dir;
  testing::writeFile(dir / "job.plist", binaryPlist(root.get()));

  Result<JobDescription> job = readJobDescription(dir / "job.plist");
  ASSERT_TRUE(job) << job.error().text;
  EXPECT_EQ(job->program, "/bin/sh");  // no "Program": the first argument
  EXPECT_EQ(job->arguments, (std::vector<std::string>{"/bin/sh", "-c"}));
  EXPECT_EQ(job->standardOutPath, "/tmp/out \"q\".log");
  EXPECT_EQ(job->standardErrorPath, std::nullopt);
}

TEST(ReadJobDescription, ProgramKeyWinsAndMissingKeysStayAbsent) {
  testing::TempDir dir;
  testing::writeFile(dir / "a.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                     "<key>Program</key><string>/usr/bin/real</string>"
                     "<key>ProgramArguments</key><array><string>shown-name</string></array>"
                     "</dict></plist>");
  testing::writeFile(dir / "b.plist", testing::plistWithLabel("only.a.label"));
  EXPECT_EQ(readJobDescription(dir / "a.plist")->program, "/usr/bin/real");
  Result<JobDescription> bare = readJobDescription(dir / "b.plist");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->program, std::nullopt);
  EXPECT_TRUE(bare->arguments.empty());
}

TEST(ReadJobDescription, UnreadableOrForeignFilesFailWithThePath) {
  testing::ScopedEnv english("MORVANE_LANG", "en");
  Language::apply(std::nullopt);
  testing::TempDir dir;
  testing::writeFile(dir / "text.plist", "not a property list");
  testing::writeFile(dir / "array.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
  EXPECT_EQ(readJobDescription(dir / "text.plist").error().text,
            (dir / "text.plist").string() + ": not a property list");
  EXPECT_FALSE(readJobDescription(dir / "array.plist"));
  EXPECT_EQ(readJobDescription(dir / "gone.plist").error().text,
            (dir / "gone.plist").string() + ": No such file or directory");
}

TEST(ResolvedLogPath, RelativePathsStartAtTheRootWhereJobsRun) {
  EXPECT_EQ(resolvedLogPath("/var/log/x.log"), "/var/log/x.log");
  EXPECT_EQ(resolvedLogPath("logs/x.log"), "/logs/x.log");
}

}  // namespace
}  // namespace morvane
