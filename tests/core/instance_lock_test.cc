#include "instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace morvane {
namespace {

TEST(InstanceLock, OneHolderAtATimeAndOnlyALiveOneIsNamed) {
  testing::TempDir dir;
  const std::filesystem::path file = dir / "app.lock";
  // The id of a copy that has gone is never given as the holder.
  const pid_t gone = ::fork();
  if (gone == 0)
    ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  testing::writeFile(file, std::to_string(gone) + "\n");
  EXPECT_EQ(InstanceLock::holder(file), std::nullopt);

  std::optional<InstanceLock> lock = InstanceLock::acquire(file).value();
  ASSERT_TRUE(lock.has_value());
  EXPECT_EQ(InstanceLock::holder(file), ::getpid());
  // Another open file description of the same file cannot take it while it is held.
  EXPECT_FALSE(InstanceLock::acquire(file).value().has_value());

  lock.reset();
  EXPECT_EQ(InstanceLock::holder(file), std::nullopt);
  EXPECT_TRUE(InstanceLock::acquire(file).value().has_value());
}

}  // namespace
}  // namespace morvane
