#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace launchctl_test {
namespace {

constexpr auto kRunTimeout = std::chrono::seconds(20);

/// Builds the child's environment: ours, with HOME and the extras replaced.
std::vector<std::string> childEnvironment(const RunOptions& options) {
  std::map<std::string, std::string> overrides = options.extraEnv;
  overrides["HOME"] = options.home.string();
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (!overrides.contains(text.substr(0, text.find('=')))) {
      env.push_back(text);
    }
  }
  for (const auto& [name, value] : overrides) {
    env.push_back(name + "=" + value);
  }
  return env;
}

/// The command line, behind setpriv when another user is wanted.
std::vector<std::string> commandLine(const std::vector<std::string>& words,
                                     const RunOptions& options) {
  std::vector<std::string> line;
  if (options.asUser) {
    const std::string id = std::to_string(*options.asUser);
    line = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
  }
  line.insert(line.end(), words.begin(), words.end());
  return line;
}

/// Pointers into `strings` for execve.
std::vector<char*> pointersInto(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

/// Reads both pipes until they close or the deadline passes; false on timeout.
bool drain(int outFd, int errFd, Result& result) {
  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int openCount = 2;
  while (openCount > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      return false;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --openCount;
      }
    }
  }
  return true;
}

}  // namespace

Result runLaunchctl(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> line = {LAUNCHCTL_PATH};
  line.insert(line.end(), args.begin(), args.end());
  return runProgram(line, options);
}

Result runProgram(const std::vector<std::string>& words, const RunOptions& options) {
  std::vector<std::string> env = childEnvironment(options);
  std::vector<std::string> line = commandLine(words, options);
  std::vector<char*> envp = pointersInto(env);
  std::vector<char*> argv = pointersInto(line);
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  Result result;
  // The pipes close only once no process holds them: a supervisor that kept them would
  // show up here as a timeout.
  const bool drained = drain(outPipe[0], errPipe[0], result);
  close(outPipe[0]);
  close(errPipe[0]);
  if (!drained) {
    kill(child, SIGKILL);
    ADD_FAILURE() << words.front() << " did not finish or left its output pipes open";
  }
  int status = 0;
  waitpid(child, &status, 0);
  result.status = drained && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return done();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

/// Returns the state letter from /proc/<pid>/stat, or 0 when there is no such process.
static char procState(pid_t pid, pid_t* parent = nullptr) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line) || line.rfind(')') == std::string::npos) {
    return 0;
  }
  std::istringstream fields(line.substr(line.rfind(')') + 1));
  char state = 0;
  pid_t ppid = 0;
  fields >> state >> ppid;
  if (parent != nullptr) {
    *parent = ppid;
  }
  return state;
}

bool isRunning(pid_t pid) {
  const char state = procState(pid);
  return state != 0 && state != 'Z' && state != 'X';
}

bool pidIsGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

pid_t parentOf(pid_t pid) {
  pid_t parent = 0;
  procState(pid, &parent);
  return parent;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

/// Escapes text for an XML element.
static std::string escape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string xmlPlist(const std::string& dictEntries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         dictEntries + "</dict>\n</plist>\n";
}

std::string xmlString(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + escape(value) + "</string>\n";
}

std::string xmlBool(const std::string& key, bool value) {
  return "<key>" + key + "</key>" + (value ? "<true/>" : "<false/>") + "\n";
}

std::string xmlStrings(const std::string& key, const std::vector<std::string>& values) {
  std::string xml = "<key>" + key + "</key><array>";
  for (const std::string& value : values) {
    xml += "<string>" + escape(value) + "</string>";
  }
  return xml + "</array>\n";
}

std::string engineName(Engine engine) {
  return engine == Engine::systemd ? "systemd" : "builtin";
}

void PrintTo(Engine engine, std::ostream* out) {
  *out << engineName(engine);
}

std::string engineTestName(const ::testing::TestParamInfo<Engine>& param) {
  return engineName(param.param);
}

void LaunchctlHarness::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "launchctl-test-XXXXXX");
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  home_ = pattern;
  if (engine() == Engine::systemd) {
    auto started = morvane::testing::UserManagerSandbox::start({home_, withJournal_});
    if (!started) {
      GTEST_SKIP() << "skipped: " << started.error();
    }
    userManager_ = std::move(*started);
  }
}

void LaunchctlHarness::TearDown() {
  if (engine() != Engine::systemd || userManager_) {
    bootOutAll();
    EXPECT_EQ(run({"list"}).out, "PID\tStatus\tLabel\n") << "jobs left loaded";
  }
  userManager_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

std::map<std::string, std::string> LaunchctlHarness::engineEnvironment() const {
  // The built-in engine's tests keep away from any user manager of the machine.
  std::map<std::string, std::string> env = {{"MORVANE_JOB_ENGINE", engineName(engine())},
                                            {"XDG_RUNTIME_DIR", (home_ / "no-runtime").string()}};
  if (userManager_) {
    env.insert_or_assign("XDG_RUNTIME_DIR", userManager_->runtimeDirectory().string());
  }
  env["HOME"] = home_.string();
  return env;
}

void LaunchctlHarness::bootOutAll() const {
  std::istringstream rows(run({"list"}).out);
  std::string line;
  std::getline(rows, line);
  const std::string userDomain = "gui/" + std::to_string(getuid());
  while (std::getline(rows, line)) {
    const std::string label = line.substr(line.rfind('\t') + 1);
    const Result result = run({"bootout", userDomain + "/" + label});
    EXPECT_EQ(result.status, 0) << label << ": " << result.err;
  }
}

Result LaunchctlHarness::run(const std::vector<std::string>& args,
                             std::map<std::string, std::string> extraEnv) const {
  extraEnv.merge(engineEnvironment());
  return runLaunchctl(args, {home_, std::move(extraEnv), {}});
}

std::string LaunchctlHarness::domain() const {
  return "gui/" + std::to_string(getuid());
}

std::string LaunchctlHarness::service(const std::string& label) const {
  return domain() + "/" + label;
}

std::string LaunchctlHarness::writeJob(const std::string& label,
                                       const std::vector<std::string>& arguments,
                                       const std::string& extra) const {
  const std::filesystem::path path = home_ / (label + ".plist");
  writeFile(path, xmlPlist(xmlString("Label", label) + xmlStrings("ProgramArguments", arguments) +
                           xmlBool("RunAtLoad", true) + extra));
  return path.string();
}

void LaunchctlHarness::load(const std::string& label, const std::vector<std::string>& arguments,
                            const std::string& extra) const {
  const Result result = run({"bootstrap", domain(), writeJob(label, arguments, extra)});
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out + result.err, "");
}

void LaunchctlHarness::loadEntries(const std::string& label, const std::string& entries) const {
  const std::filesystem::path path = home_ / (label + ".plist");
  writeFile(path, xmlPlist(xmlString("Label", label) + entries));
  const Result result = run({"bootstrap", domain(), path.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out + result.err, "");
}

std::map<std::string, ListRow> LaunchctlHarness::listRows() const {
  const Result result = run({"list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.starts_with("PID\tStatus\tLabel\n")) << result.out;
  std::map<std::string, ListRow> rows;
  std::istringstream lines(result.out);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string pid, status, label;
    std::getline(fields, pid, '\t');
    std::getline(fields, status, '\t');
    std::getline(fields, label);
    EXPECT_TRUE(pid == "-" ||
                (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos))
        << line;
    rows[label] = {pid, std::stoi(status)};
  }
  return rows;
}

std::optional<ListRow> LaunchctlHarness::rowOf(const std::string& label) const {
  const auto rows = listRows();
  const auto found = rows.find(label);
  return found == rows.end() ? std::nullopt : std::optional(found->second);
}

morvane::Runs LaunchctlHarness::runsOf(const std::string& label) const {
  const Result printed = run({"print", service(label)});
  if (printed.status != 0) {
    return {};
  }
  return morvane::Agents::parsePrintedRuns(printed.out).value_or(morvane::Runs{});
}

pid_t LaunchctlHarness::pidOf(const std::string& label) const {
  const std::optional<ListRow> row = rowOf(label);
  return row && row->pid != "-" ? static_cast<pid_t>(std::stol(row->pid)) : 0;
}

std::optional<int> LaunchctlHarness::waitForExit(const std::string& label) const {
  std::optional<ListRow> row;
  eventually([&] {
    row = rowOf(label);
    return row && row->pid == "-";
  });
  return row && row->pid == "-" ? std::optional(row->status) : std::nullopt;
}

}  // namespace launchctl_test
