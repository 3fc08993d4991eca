#include "job_description.h"

#include <cstdlib>

#include "file_io.h"
#include "property_list_file.h"

namespace morvane {
namespace {

std::vector<std::string> textItems(plist_t array) {
  std::vector<std::string> items;
  if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY)
    return items;
  for (uint32_t i = 0, n = plist_array_get_size(array); i < n; ++i) {
    plist_t item = plist_array_get_item(array, i);
    if (plist_get_node_type(item) != PLIST_STRING)
      continue;
    char* text = nullptr;
    plist_get_string_val(item, &text);
    if (text == nullptr)
      continue;
    items.emplace_back(text);
    std::free(text);
  }
  return items;
}

}  // namespace

Result<JobDescription> readJobDescription(const std::filesystem::path& plist) {
  Result<PropertyListFile> read = readPropertyListDictionary(plist);
  if (!read)
    return std::unexpected(read.error());
  plist_t root = read->root.get();
  JobDescription job;
  job.arguments = textItems(plist_dict_get_item(root, "ProgramArguments"));
  job.program = dictionaryString(root, "Program");
  if (!job.program && !job.arguments.empty())
    job.program = job.arguments.front();
  job.standardOutPath = dictionaryString(root, "StandardOutPath");
  job.standardErrorPath = dictionaryString(root, "StandardErrorPath");
  return job;
}

std::optional<std::filesystem::path> newestLog(const JobDescription& job) {
  std::optional<std::filesystem::path> newest;
  std::filesystem::file_time_type newestTime;
  for (const auto& written : {job.standardOutPath, job.standardErrorPath}) {
    if (!written)
      continue;
    const std::filesystem::path path = resolvedLogPath(*written);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
      continue;
    const std::filesystem::file_time_type time = std::filesystem::last_write_time(path, error);
    if (!error && (!newest || time > newestTime)) {
      newest = path;
      newestTime = time;
    }
  }
  return newest;
}

std::filesystem::path resolvedLogPath(const std::string& written) {
  return std::filesystem::path("/") / written;
}

}  // namespace morvane
