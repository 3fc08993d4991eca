// A scan that reads only the property lists changed since the last one: the labels read before
// are kept with the identity of each file.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>

#include "agents.h"
#include "file_io.h"

namespace morvane::Agents {
namespace {

using nlohmann::json;

/// What tells a file's present contents from any earlier ones: every write moves its change
/// time, which no one can set back.
struct Identity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified = 0;  ///< Nanoseconds since the epoch.
  int64_t changed = 0;   ///< Nanoseconds since the epoch.
  bool operator==(const Identity&) const = default;
};

Identity identityOf(const struct stat& info) {
  constexpr int64_t kNano = 1'000'000'000;
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), info.st_size,
          info.st_mtim.tv_sec * kNano + info.st_mtim.tv_nsec,
          info.st_ctim.tv_sec * kNano + info.st_ctim.tv_nsec};
}

struct Remembered {
  Identity identity;
  std::string label;
};

using Labels = std::map<std::string, Remembered>;  ///< By file name.

/// The labels remembered for `directory`; none when the cache is missing, unreadable or about
/// another folder.
Labels readLabels(const std::filesystem::path& cache, const std::filesystem::path& directory) {
  Result<std::string> bytes = readFile(cache);
  if (!bytes)
    return {};
  const json root = json::parse(*bytes, nullptr, false);
  if (!root.is_object() || root.value("directory", json()) != directory.string() ||
      !root.contains("files") || !root["files"].is_object())
    return {};
  Labels labels;
  for (const auto& [file, entry] : root["files"].items()) {
    try {
      labels[file] = {
          {entry.at(0).get<uint64_t>(), entry.at(1).get<uint64_t>(), entry.at(2).get<int64_t>(),
           entry.at(3).get<int64_t>(), entry.at(4).get<int64_t>()},
          entry.at(5).get<std::string>()};
    } catch (const json::exception&) {
      // An entry of another shape is read again from its file.
    }
  }
  return labels;
}

void writeLabels(const std::filesystem::path& cache, const std::filesystem::path& directory,
                 const Labels& labels) {
  json files = json::object();
  for (const auto& [file, remembered] : labels) {
    const Identity& id = remembered.identity;
    files[file] = {id.device, id.inode, id.size, id.modified, id.changed, remembered.label};
  }
  const json root = {{"directory", directory.string()}, {"files", std::move(files)}};
  // Names that are not UTF-8 come back altered and so unmatched: those files are read again.
  if (!writeFileAtomically(cache, root.dump(-1, ' ', false, json::error_handler_t::replace))) {
    // A cache that cannot be written costs the next look-up its reading, nothing else.
  }
}

}  // namespace

std::expected<std::vector<Agent>, int> rememberedAgents(const std::filesystem::path& directory,
                                                        const std::filesystem::path& labelCache) {
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), ::closedir);
  if (!listing)
    return std::unexpected(errno);
  const int fd = ::dirfd(listing.get());
  const Labels remembered = readLabels(labelCache, directory);
  Labels present;
  bool reread = false;
  const std::string prefix = (directory / "").string();
  std::vector<Agent> agents;
  while (const dirent* entry = ::readdir(listing.get())) {
    Agent agent;
    agent.file = entry->d_name;
    if (!agent.file.ends_with(".plist"))
      continue;
    agent.path = prefix + agent.file;
    // The identity comes before the reading, so a change made meanwhile shows next time.
    struct stat info {};
    const bool known = ::fstatat(fd, entry->d_name, &info, 0) == 0;
    const auto found = remembered.find(agent.file);
    if (known && found != remembered.end() && found->second.identity == identityOf(info)) {
      agent.label = found->second.label;
    } else {
      agent.label = labelOfListed(fd, agent, entry->d_type == DT_REG);
      reread = reread || known;
    }
    if (known)
      present[agent.file] = {identityOf(info), agent.label};
    agents.push_back(std::move(agent));
  }
  if (reread || present.size() != remembered.size())
    writeLabels(labelCache, directory, present);
  return agents;
}

ScannedAgents scanRemembering(const std::filesystem::path& directory, StateQuery query,
                              const std::filesystem::path& labelCache) {
  std::expected<std::vector<Agent>, int> agents = rememberedAgents(directory, labelCache);
  if (!agents)
    return scanWithExitStatuses(directory, std::move(query));  // which says why, if it matters
  ScannedAgents scanned;
  scanned.agents = std::move(*agents);
  withState(scanned.agents, query);
  scanned.agents = sorted(std::move(scanned.agents));
  scanned.problem = query.listingProblem();
  scanned.lastExitStatuses = parseExitStatuses(query.listing());
  return scanned;
}

}  // namespace morvane::Agents
