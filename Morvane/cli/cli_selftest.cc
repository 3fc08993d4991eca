#include <signal.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <climits>
#include <optional>

#include "agents.h"
#include "app_identifier.h"
#include "cli.h"
#include "file_io.h"
#include "interruptions.h"
#include "language.h"
#include "mode_settings.h"
#include "platform.h"
#include "property_list.h"
#include "shell.h"

namespace morvane::CLI {
namespace {

constexpr double kLaunchctlTimeout = 20;

/// What a step gives when a signal or a closed output stopped the test.
constexpr int32_t kInterrupted = -1;

std::string upperCaseUuid() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return text;
}

/// The throw-away agent's property list: runs `sleep 300` as soon as it is loaded.
std::string agentPropertyList(const std::string& label) {
  PlistPtr root(plist_new_dict());
  plist_dict_set_item(root.get(), "Label", plist_new_string(label.c_str()));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments, plist_new_string("/bin/sleep"));
  plist_array_append_item(arguments, plist_new_string("300"));
  plist_dict_set_item(root.get(), "ProgramArguments", arguments);
  plist_dict_set_item(root.get(), "RunAtLoad", plist_new_bool(1));
  return toXmlPropertyList(root.get());
}

/// One run of the self-test over an agent written into a temporary directory.
class SelfTest {
 public:
  explicit SelfTest(std::ostream& out)
      : out_(out),
        label_(std::string(kAppIdentifier) + ".selftest"),
        directory_(platform::temporaryDirectory() / ("morvane-selftest-" + upperCaseUuid())) {}

  int32_t run() {
    if (Outcome setup = writeAgent(); !setup) {
      say("✗ " + setup.error().text);
      return finalStatus(1);
    }
    int32_t status = interrupted() ? kInterrupted : steps();
    cleanUp();
    return finalStatus(status);
  }

 private:
  Outcome writeAgent() {
    if (Outcome made = createDirectories(directory_); !made)
      return made;
    return writeFileAtomically(directory_ / (label_ + ".plist"), agentPropertyList(label_));
  }

  /// The steps in order; each one's result is looked at only when no signal came meanwhile.
  int32_t steps() {
    std::optional<Agent> agent = firstAgent();
    if (interrupted())
      return kInterrupted;
    if (!agent || agent->label != label_ || agent->loaded)
      return failWith(L("✗ 读不到临时启动项", "✗ Couldn't read the temporary agent"));
    say(L("读取    ✓ ", "Read    ✓ ") + label_);

    if (!change(*agent, true))
      return interrupted() ? kInterrupted : 1;
    agent = firstAgent();
    if (interrupted())
      return kInterrupted;
    if (!agent || !agent->loaded || !agent->pid)
      return failWith(L("✗ 加载后没有看到进程", "✗ No process after loading"));
    const int64_t pid = *agent->pid;
    say(L("加载    ✓ pid ", "Load    ✓ pid ") + std::to_string(pid));

    if (interrupted() || !change(*agent, false))
      return interrupted() ? kInterrupted : 1;
    agent = firstAgent();
    if (interrupted())
      return kInterrupted;
    if (!agent || agent->loaded || processExists(pid))
      return failWith(L("✗ 卸载后进程还在", "✗ The process is still there after unloading"));
    say(L("卸载    ✓", "Unload  ✓"));

    if (interrupted())
      return kInterrupted;
    int32_t status = disabledSteps();
    launchctl("enable");
    return status;
  }

  /// Disables the agent and loads it anyway; the caller enables the label again afterwards.
  int32_t disabledSteps() {
    launchctl("disable");
    std::optional<Agent> agent = firstAgent();
    if (interrupted())
      return kInterrupted;
    if (!agent || !agent->disabled || agent->loaded)
      return failWith(L("✗ 停用没有生效", "✗ Disabling had no effect"));
    if (!change(*agent, true))
      return interrupted() ? kInterrupted : 1;
    agent = firstAgent();
    if (interrupted())
      return kInterrupted;
    if (!agent || !agent->loaded || agent->disabled)
      return failWith(L("✗ 已停用的启动项没有加载上", "✗ The disabled agent did not load"));
    say(L("停用后加载  ✓", "Load a disabled agent  ✓"));
    return 0;
  }

  static bool interrupted() { return Interruptions::caught() != 0; }

  /// The status to return: the step's, or the one a signal that came meanwhile calls for.
  static int32_t finalStatus(int32_t status) {
    if (int signal = Interruptions::caught())
      return statusForSignal(signal);
    return status;
  }

  void cleanUp() {
    if (std::optional<Agent> agent = firstAgent(); agent && agent->loaded)
      (void)Agents::setLoaded(*agent, false);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  std::optional<Agent> firstAgent() const {
    std::vector<Agent> agents = Agents::scan(directory_);
    if (agents.empty())
      return std::nullopt;
    return agents.front();
  }

  /// Loads or unloads; prints the failure and gives false when that did not work.
  bool change(const Agent& agent, bool load) {
    Outcome outcome = Agents::setLoaded(agent, load);
    if (!outcome)
      say("✗ " + outcome.error().text);
    return outcome.has_value();
  }

  void launchctl(const char* subcommand) const {
    (void)Shell::run(platform::toolPath(platform::Tool::launchctl),
                     {subcommand, Agents::serviceTarget(label_)}, kLaunchctlTimeout);
  }

  static bool processExists(int64_t pid) {
    if (pid <= 0 || pid > INT32_MAX)
      return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
  }

  int32_t failWith(const std::string& line) {
    say(line);
    return 1;
  }

  /// Prints one line; output that can no longer be written stops the test like SIGPIPE would.
  void say(const std::string& line) {
    out_ << line << "\n" << std::flush;
    if (!out_)
      Interruptions::note(SIGPIPE);
  }

  std::ostream& out_;
  const std::string label_;
  const std::filesystem::path directory_;
};

}  // namespace

int32_t selfTest(std::ostream& out, std::ostream& err) {
  Interruptions interruptions;
  modeSettings(err);
  return SelfTest(out).run();
}

}  // namespace morvane::CLI
