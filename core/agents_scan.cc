#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "agents.h"
#include "file_io.h"
#include "language.h"
#include "platform.h"
#include "shell.h"

namespace morvane::Agents {
namespace {

/// From this many property lists on, a second thread helps to read them.
constexpr size_t kSharedReadingFrom = 256;
/// Property lists a reading thread takes at a time.
constexpr size_t kBatch = 32;

/// One name in a directory listing.
struct Listed {
  std::string name;
  bool regular;  ///< The listing says it is a regular file (links and unknown types are not).
};

/// An open directory and its names, in the order the file system lists them; no names when it
/// cannot be read.
class Listing {
 public:
  explicit Listing(const std::filesystem::path& directory) : stream_(::opendir(directory.c_str())) {
    if (stream_ == nullptr) {
      error_ = errno;
      return;
    }
    while (const dirent* entry = ::readdir(stream_)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..")
        names_.push_back({std::string(name), entry->d_type == DT_REG});
    }
  }
  ~Listing() {
    if (stream_ != nullptr)
      ::closedir(stream_);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  std::vector<Listed>& names() { return names_; }
  int fd() const { return stream_ != nullptr ? ::dirfd(stream_) : -1; }
  /// Why the directory could not be opened; 0 when it was.
  int error() const { return error_; }

 private:
  DIR* stream_;
  std::vector<Listed> names_;
  int error_ = 0;
};

}  // namespace

std::optional<Failure> listingFailure(const std::filesystem::path& directory, int error) {
  if (error == 0 || error == ENOENT)
    return std::nullopt;
  const std::string reason = describeErrno(error);
  return Failure{L([&] { return "无法列出 " + directory.string() + "：" + reason; },
                   [&] { return "Cannot list " + directory.string() + ": " + reason; })};
}

void withState(std::vector<Agent>& agents, StateQuery& query) {
  const LoadedJobs jobs = query.loadedJobs();
  const std::set<std::string> disabled = query.disabledLabels();
  for (Agent& agent : agents) {
    if (auto job = jobs.find(agent.label); job != jobs.end()) {
      agent.loaded = true;
      agent.pid = job->second;
    }
    agent.disabled = disabled.contains(agent.label);
  }
}

namespace {

/// Every ".plist" in `directory` with the state `query` gives; `problem` (when given) learns
/// what could not be known.
std::vector<Agent> scanAgents(const std::filesystem::path& directory, StateQuery& query,
                              std::optional<Failure>* problem) {
  // The launchctl runs go on while this thread reads the property lists.

  Listing listing(directory);
  std::vector<Agent> agents;
  std::vector<bool> regular;
  agents.reserve(listing.names().size());
  const std::string prefix = (directory / "").string();  // `directory` with its separator
  for (Listed& entry : listing.names()) {
    if (!entry.name.ends_with(".plist"))
      continue;
    Agent agent;
    agent.path = prefix + entry.name;
    agent.file = std::move(entry.name);
    agents.push_back(std::move(agent));
    regular.push_back(entry.regular);
  }
  // Reading the labels is the scan's own work; a large directory shares it with a helper
  // thread. Both take small batches in turn, so neither waits while the other still has many.
  std::atomic<size_t> next{0};
  auto readLabels = [&] {
    for (;;) {
      const size_t begin = next.fetch_add(kBatch, std::memory_order_relaxed);
      if (begin >= agents.size())
        return;
      for (size_t i = begin; i < std::min(begin + kBatch, agents.size()); ++i)
        agents[i].label = labelOfListed(listing.fd(), agents[i], regular[i]);
    }
  };
  std::future<void> helper;
  if (agents.size() >= kSharedReadingFrom)
    helper = std::async(std::launch::async, readLabels);
  readLabels();
  if (helper.valid())
    helper.get();

  withState(agents, query);
  if (problem != nullptr) {
    *problem = listingFailure(directory, listing.error());
    if (!*problem)
      *problem = query.listingProblem();
  }
  return sorted(std::move(agents));
}

}  // namespace

std::filesystem::path defaultDirectory() {
  return platform::homeDirectory() / "Library" / "LaunchAgents";
}

std::string guiDomain() {
  return "gui/" + std::to_string(platform::realUserId());
}

std::string serviceTarget(const std::string& label) {
  return guiDomain() + "/" + label;
}

StateQuery::StateQuery(Asks asks) {
  const std::filesystem::path launchctl = platform::toolPath(platform::Tool::launchctl);
  listing_ = std::async(std::launch::async,
                        [launchctl] { return Shell::run(launchctl, {"list"}, kQueryTimeout); });
  if (asks == Asks::loadedOnly)
    return;
  disabled_ = std::async(std::launch::async, [launchctl] {
    return parseDisabled(
        Shell::run(launchctl, {"print-disabled", guiDomain()}, kQueryTimeout).standardOutput);
  });
}

const std::string& StateQuery::listing() {
  if (listing_.valid())
    listed_ = listing_.get();
  return listed_.standardOutput;
}

std::optional<Failure> StateQuery::listingProblem() {
  listing();
  if (listed_.ok())
    return std::nullopt;
  const std::string reason = listFailureReason(listed_, kQueryTimeout);
  return Failure{L([&] { return "加载状态未知：" + reason; },
                   [&] { return "Loaded state unknown: " + reason; })};
}

LoadedJobs StateQuery::loadedJobs() {
  return parseList(listing());
}

std::set<std::string> StateQuery::disabledLabels() {
  return disabled_.valid() ? disabled_.get() : std::set<std::string>();
}

std::string listFailureReason(const ShellResult& run, double timeout) {
  const std::string seconds = std::to_string(static_cast<long long>(timeout));
  if (run.timedOut)
    return L([&] { return "launchctl list 在 " + seconds + " 秒内没有回应"; },
             [&] { return "launchctl list did not answer within " + seconds + " seconds"; });
  std::string reason = run.message();
  if (reason.empty())
    reason = L([&] { return "退出状态 " + std::to_string(run.status); },
               [&] { return "exit status " + std::to_string(run.status); });
  return L([&] { return "launchctl list 失败：" + reason; },
           [&] { return "launchctl list failed: " + reason; });
}

std::vector<Agent> scan(const std::filesystem::path& directory) {
  return scan(directory, StateQuery());
}

std::vector<Agent> scan(const std::filesystem::path& directory, StateQuery query,
                        std::optional<Failure>* problem) {
  return scanAgents(directory, query, problem);
}

ScannedAgents scanWithExitStatuses(const std::filesystem::path& directory, StateQuery query) {
  ScannedAgents scanned;
  scanned.agents = scanAgents(directory, query, &scanned.problem);
  scanned.lastExitStatuses = parseExitStatuses(query.listing());
  return scanned;
}

}  // namespace morvane::Agents
