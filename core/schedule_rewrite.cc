#include "schedule_rewrite.h"

#include <sys/stat.h>

#include <cerrno>

#include "file_io.h"
#include "property_list_file.h"

namespace morvane {

Outcome rewriteSchedule(const std::filesystem::path& plist, const TimedStart& start) {
  // Written through a link, so that a link kept elsewhere (a dotfiles folder) stays one.
  std::error_code error;
  const std::filesystem::path file = std::filesystem::canonical(plist, error);
  if (error)
    return fail(plist.string() + ": " + describeErrno(error.value()));
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0)
    return fail(plist.string() + ": " + describeErrno(errno));
  Result<PropertyListFile> read = readPropertyListDictionary(file, plist);
  if (!read)
    return std::unexpected(read.error());
  TimedStarts::write(read->root.get(), start);
  const std::string rewritten =
      read->binary ? toBinaryPropertyList(read->root.get()) : toXmlPropertyList(read->root.get());
  return writeFileAtomically(file, rewritten, info.st_mode & 07777);
}

}  // namespace morvane
