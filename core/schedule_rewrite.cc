#include "schedule_rewrite.h"

#include <sys/stat.h>

#include <cerrno>

#include "file_io.h"
#include "language.h"
#include "property_list.h"

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
  Result<std::string> bytes = readFile(file);
  if (!bytes)
    return std::unexpected(bytes.error());
  PlistPtr root = parsePropertyList(*bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
    return fail(L([&] { return plist.string() + "：不是属性列表"; },
                  [&] { return plist.string() + ": not a property list"; }));
  TimedStarts::write(root.get(), start);
  const std::string rewritten = isBinaryPropertyList(*bytes) ? toBinaryPropertyList(root.get())
                                                             : toXmlPropertyList(root.get());
  return writeFileAtomically(file, rewritten, info.st_mode & 07777);
}

}  // namespace morvane
