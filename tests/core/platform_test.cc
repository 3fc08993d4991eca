#include "platform.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "desktop_entry.h"
#include "paths.h"
#include "platform_session_bus.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::ScopedEnv;

TEST(Platform, HomeAndDataAndTemporaryDirectoriesNeedAbsolutePaths) {
  const std::string passwordHome = ::getpwuid(::getuid())->pw_dir;
  {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv data("XDG_DATA_HOME", "relative/data");
    ScopedEnv tmp("TMPDIR", "/var/tmp/x");
    EXPECT_EQ(platform::homeDirectory(), "/home/someone");
    EXPECT_EQ(platform::applicationSupportDirectory(), "/home/someone/.local/share");
    EXPECT_EQ(platform::temporaryDirectory(), "/var/tmp/x");
  }
  for (std::optional<std::string> bad :
       {std::optional<std::string>(""), std::optional<std::string>("relative"),
        std::optional<std::string>()}) {
    ScopedEnv home("HOME", bad);
    ScopedEnv data("XDG_DATA_HOME", "/data");
    ScopedEnv tmp("TMPDIR", bad);
    EXPECT_EQ(platform::homeDirectory(), passwordHome);
    EXPECT_EQ(platform::applicationSupportDirectory(), "/data");
    EXPECT_EQ(platform::temporaryDirectory(), "/tmp");
  }
}

TEST(Platform, ASessionWithoutABusGetsNoneStartedAndOneWithABusKeepsIt) {
  testing::TempDir runtime;
  ScopedEnv folder("XDG_RUNTIME_DIR", runtime.path().string());
  {
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    platform::keepFromStartingASessionBus();
    EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "disabled:");
  }
  {
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    platform::keepFromStartingASessionBus();
    EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/run/user/1000/bus");
  }
  // The bus of the user's manager, found by the library without an address.
  const int bus = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  const std::string path = (runtime / "bus").string();
  path.copy(where.sun_path, sizeof where.sun_path - 1);
  ASSERT_EQ(::bind(bus, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  {
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "");
    platform::keepFromStartingASessionBus();
    EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "");
  }
  ::close(bus);
}

TEST(DesktopEntry, TheExecLineWithItsFieldCodesForOneFile) {
  using Command = std::optional<std::vector<std::string>>;
  const std::filesystem::path file = "/home/me/a b,ü.plist";
  const std::string url = "file:///home/me/a%20b%2C%C3%BC.plist";
  EXPECT_EQ(fileUrl(file), url);
  const std::pair<const char*, Command> cases[] = {
      {"[Desktop Entry]\nName=Ed\nExec=ed --new %F\n", Command({"ed", "--new", file.string()})},
      {"[Desktop Entry]\nExec = ed %U %i %c\n", Command({"ed", url})},
      {"[Desktop Entry]\nExec=\"/opt/my ed/ed\" --opt=%f 100%%\n",
       Command({"/opt/my ed/ed", "--opt=" + file.string(), "100%"})},
      {"[Desktop Entry]\nExec=\"my\\sed\"\n", Command({"my ed", file.string()})},  // no file field
      {"[Desktop Action new]\nExec=other\n[Desktop Entry]\nExec=ed %f\n",
       Command({"ed", file.string()})},
      {"[Desktop Entry]\nExecutable=ed\nName=x\n", std::nullopt},
      {"[Desktop Entry]\nExec=\"ed\n", std::nullopt},
      {"[Desktop Entry]\nExec=%i\n", std::nullopt},
  };
  for (const auto& [entry, command] : cases)
    EXPECT_EQ(desktopEntryCommand(entry, file), command) << entry;
}

TEST(Paths, DefaultFollowsMorvaneHomeLiterally) {
  ScopedEnv data("XDG_DATA_HOME", "/xdg");
  {
    ScopedEnv home("MORVANE_HOME", "");
    EXPECT_EQ(Paths::defaultPaths().root, "/xdg/Morvane");
  }
  {
    ScopedEnv home("MORVANE_HOME", "/custom/dir/");
    EXPECT_EQ(Paths::defaultPaths().root, "/custom/dir");
    EXPECT_EQ(Paths::defaultPaths().settingsFile(), "/custom/dir/settings.json");
  }
  {
    ScopedEnv home("MORVANE_HOME", "~/rel");
    EXPECT_EQ(Paths::defaultPaths().root, std::filesystem::current_path() / "~/rel");
  }
}

TEST(Bundle, ReadsTheInfoPlistOfAnAppBundle) {
  testing::TempDir dir;
  testing::writeFile(dir / "X.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                     "<key>CFBundleIdentifier</key><string>org.example.x</string>"
                     "<key>CFBundleShortVersionString</key><string>2.1</string>"
                     "<key>CFBundleDevelopmentRegion</key><string>en</string>"
                     "<key>CFBundleLocalizations</key><array><string>en</string>"
                     "<string>zh-Hans</string></array></dict></plist>");
  platform::Bundle bundle = platform::bundleForExecutable(dir / "X.app/Contents/MacOS/X");
  EXPECT_EQ(bundle.path, dir / "X.app");
  EXPECT_EQ(bundle.identifier, "org.example.x");
  EXPECT_EQ(bundle.info["CFBundleShortVersionString"], "2.1");
  EXPECT_EQ(bundle.localizations, (std::vector<std::string>{"en", "zh-Hans"}));
  EXPECT_EQ(platform::preferredLocalizations(bundle, {"de", "zh-TW"}),
            std::vector<std::string>{"zh-Hans"});
  EXPECT_EQ(platform::preferredLocalizations(bundle, {"de"}), std::vector<std::string>{"en"});
}

TEST(Bundle, AnExecutableOutsideABundleHasNoIdentifier) {
  platform::Bundle bare = platform::bundleForExecutable("/opt/bin/morvane");
  EXPECT_EQ(bare.path, "/opt/bin");
  EXPECT_TRUE(bare.identifier.empty());
  EXPECT_TRUE(bare.info.empty());
  testing::TempDir dir;  // laid out like a bundle, but with no readable Info.plist
  platform::Bundle broken = platform::bundleForExecutable(dir / "Y.app/Contents/MacOS/Y");
  EXPECT_TRUE(broken.identifier.empty());
}

/// Starts a copy of /bin/sleep as the executable of a bundle with the given identifier.
pid_t startInBundle(const std::filesystem::path& app, const std::string& identifier) {
  testing::writeFile(app / "Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                     "<key>CFBundleIdentifier</key><string>" +
                         identifier + "</string></dict></plist>");
  std::filesystem::create_directories(app / "Contents/MacOS");
  std::filesystem::copy_file("/bin/sleep", app / "Contents/MacOS/App");
  const std::string executable = (app / "Contents/MacOS/App").string();
  char* argv[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("30"), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv, environ), 0);
  return pid;
}

TEST(RunningApplications, FindsProcessesByTheirBundlesIdentifierUntilTheyEnd) {
  testing::TempDir dir;
  const pid_t mine = startInBundle(dir / "A.app", "org.example.running");
  const pid_t other = startInBundle(dir / "B.app", "org.example.other");
  auto found = platform::runningApplications("org.example.running");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].pid, mine);
  EXPECT_EQ(found[0].bundlePath, dir / "A.app");

  EXPECT_TRUE(platform::requestTermination(mine));
  ::waitpid(mine, nullptr, 0);
  EXPECT_TRUE(platform::runningApplications("org.example.running").empty());
  EXPECT_FALSE(platform::requestTermination(0));
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
}

TEST(ProcessArguments, ReadsEachArgumentWholeUntilTheProcessEnds) {
  char program[] = "/bin/sh";
  char option[] = "-c";
  char script[] = "sleep 30; :";
  char empty[] = "";
  char* argv[] = {program, option, script, empty, nullptr};
  // In a group of its own, so that its sleep goes with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, program, nullptr, &attributes, argv, environ), 0);
  posix_spawnattr_destroy(&attributes);
  // Until the child has started its program, it has no arguments of its own.
  std::vector<std::string> arguments;
  for (int wait = 0; wait < 200 && arguments.size() != 4; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    arguments = platform::processArguments(pid);
  }
  EXPECT_EQ(arguments, (std::vector<std::string>{"/bin/sh", "-c", "sleep 30; :", ""}));
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_TRUE(platform::processArguments(pid).empty());
}

}  // namespace
}  // namespace morvane
