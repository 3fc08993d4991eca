// A scan that reads only the property lists changed since the last one: the labels read before
// are kept with the identity of each file.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <nlohmann/json.hpp>

#include "agents.h"
#include "file_io.h"
#include "label_cache_reader.h"

namespace morvane::Agents {
namespace {

using nlohmann::json;

using Identity = FileIdentity;

Identity identityOf(const struct stat& info) {
  constexpr int64_t kNano = 1'000'000'000;
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), info.st_size,
          info.st_mtim.tv_sec * kNano + info.st_mtim.tv_nsec,
          info.st_ctim.tv_sec * kNano + info.st_ctim.tv_nsec};
}

using Labels = RememberedLabels;

/// The labels remembered for `directory`; none when the cache is missing, unreadable or about
/// another folder.
Labels readLabels(const std::filesystem::path& cache, const std::filesystem::path& directory) {
  Result<std::string> bytes = readFile(cache);
  if (!bytes)
    return {};
  return parseLabelCache(*bytes, directory.string());
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
  std::vector<std::optional<Identity>> identities;  // beside the agents, for a rewrite
  size_t known = 0;
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
    std::optional<Identity> identity;
    if (::fstatat(fd, entry->d_name, &info, 0) == 0)
      identity = identityOf(info);
    const auto found = remembered.find(agent.file);
    if (identity && found != remembered.end() && found->second.identity == *identity) {
      agent.label = found->second.label;
    } else {
      agent.label = labelOfListed(fd, agent, entry->d_type == DT_REG);
      reread = reread || identity.has_value();
    }
    known += identity.has_value() ? 1 : 0;
    identities.push_back(identity);
    agents.push_back(std::move(agent));
  }
  if (reread || known != remembered.size()) {
    Labels present;
    for (size_t i = 0; i < agents.size(); ++i)
      if (identities[i])
        present[agents[i].file] = {*identities[i], agents[i].label};
    writeLabels(labelCache, directory, present);
  }
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
