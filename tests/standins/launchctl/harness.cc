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
std::vector<std::string> ChildEnvironment(const RunOptions& options) {
  std::map<std::string, std::string> overrides = options.extra_env;
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

/// The command line: the stand-in, behind setpriv when another user is wanted.
std::vector<std::string> CommandLine(const std::vector<std::string>& args,
                                     const RunOptions& options) {
  std::vector<std::string> line;
  if (options.as_user) {
    const std::string id = std::to_string(*options.as_user);
    line = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
  }
  line.push_back(LAUNCHCTL_PATH);
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

/// Pointers into `strings` for execve.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

/// Reads both pipes until they close or the deadline passes; false on timeout.
bool Drain(int out_fd, int err_fd, Result& result) {
  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
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
        --open_count;
      }
    }
  }
  return true;
}

}  // namespace

Result RunLaunchctl(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> env = ChildEnvironment(options);
  std::vector<std::string> line = CommandLine(args, options);
  std::vector<char*> envp = Pointers(env);
  std::vector<char*> argv = Pointers(line);
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  Result result;
  // The pipes close only once no process holds them: a supervisor that kept them would
  // show up here as a timeout.
  const bool drained = Drain(out_pipe[0], err_pipe[0], result);
  close(out_pipe[0]);
  close(err_pipe[0]);
  if (!drained) {
    kill(child, SIGKILL);
    ADD_FAILURE() << "launchctl did not finish or left its output pipes open";
  }
  int status = 0;
  waitpid(child, &status, 0);
  result.status = drained && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
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
static char ProcState(pid_t pid, pid_t* parent = nullptr) {
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

bool IsRunning(pid_t pid) {
  const char state = ProcState(pid);
  return state != 0 && state != 'Z' && state != 'X';
}

bool PidIsGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

pid_t ParentOf(pid_t pid) {
  pid_t parent = 0;
  ProcState(pid, &parent);
  return parent;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

/// Escapes text for an XML element.
static std::string Escape(const std::string& text) {
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

std::string XmlPlist(const std::string& dict_entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         dict_entries + "</dict>\n</plist>\n";
}

std::string XmlString(const std::string& key, const std::string& value) {
  return "<key>" + key + "</key><string>" + Escape(value) + "</string>\n";
}

std::string XmlBool(const std::string& key, bool value) {
  return "<key>" + key + "</key>" + (value ? "<true/>" : "<false/>") + "\n";
}

std::string XmlStrings(const std::string& key, const std::vector<std::string>& values) {
  std::string xml = "<key>" + key + "</key><array>";
  for (const std::string& value : values) {
    xml += "<string>" + Escape(value) + "</string>";
  }
  return xml + "</array>\n";
}

void LaunchctlTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "launchctl-test-XXXXXX");
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  home_ = pattern;
}

void LaunchctlTest::TearDown() {
  BootOutAll(home_);
  EXPECT_EQ(Run({"list"}).out, "PID\tStatus\tLabel\n") << "jobs left loaded";
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

void LaunchctlTest::BootOutAll(const std::filesystem::path& home) {
  const RunOptions options{home, {}, {}};
  std::istringstream rows(RunLaunchctl({"list"}, options).out);
  std::string line;
  std::getline(rows, line);
  const std::string domain = "gui/" + std::to_string(getuid());
  while (std::getline(rows, line)) {
    const std::string label = line.substr(line.rfind('\t') + 1);
    EXPECT_EQ(RunLaunchctl({"bootout", domain + "/" + label}, options).status, 0) << label;
  }
}

Result LaunchctlTest::Run(const std::vector<std::string>& args,
                          std::map<std::string, std::string> extra_env) const {
  return RunLaunchctl(args, {home_, std::move(extra_env), {}});
}

std::string LaunchctlTest::Domain() const {
  return "gui/" + std::to_string(getuid());
}

std::string LaunchctlTest::Service(const std::string& label) const {
  return Domain() + "/" + label;
}

std::string LaunchctlTest::WriteJob(const std::string& label,
                                    const std::vector<std::string>& arguments,
                                    const std::string& extra) const {
  const std::filesystem::path path = home_ / (label + ".plist");
  WriteFile(path, XmlPlist(XmlString("Label", label) + XmlStrings("ProgramArguments", arguments) +
                           XmlBool("RunAtLoad", true) + extra));
  return path.string();
}

void LaunchctlTest::Load(const std::string& label, const std::vector<std::string>& arguments,
                         const std::string& extra) const {
  const Result result = Run({"bootstrap", Domain(), WriteJob(label, arguments, extra)});
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out + result.err, "");
}

std::map<std::string, ListRow> LaunchctlTest::List() const {
  const Result result = Run({"list"});
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

std::optional<ListRow> LaunchctlTest::Row(const std::string& label) const {
  const auto rows = List();
  const auto found = rows.find(label);
  return found == rows.end() ? std::nullopt : std::optional(found->second);
}

pid_t LaunchctlTest::PidOf(const std::string& label) const {
  const std::optional<ListRow> row = Row(label);
  return row && row->pid != "-" ? static_cast<pid_t>(std::stol(row->pid)) : 0;
}

std::optional<int> LaunchctlTest::WaitForExit(const std::string& label) const {
  std::optional<ListRow> row;
  Eventually([&] {
    row = Row(label);
    return row && row->pid == "-";
  });
  return row && row->pid == "-" ? std::optional(row->status) : std::nullopt;
}

}  // namespace launchctl_test
