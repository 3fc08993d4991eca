#pragma once

#include <filesystem>

#include "failure.h"
#include "property_list.h"

namespace morvane {

/// A file read as a property list whose root is a dictionary.
struct PropertyListFile {
  PlistPtr root;        ///< The root dictionary.
  bool binary = false;  ///< Whether the file is in the binary form (else XML).
};

/// Reads `file` as a property list (XML or binary) whose root is a dictionary. Fails with why it
/// could not be read, or with "<path>: not a property list", naming `shownAs` (the path as the
/// caller was given it, when `file` is where a link leads) or else `file`.
Result<PropertyListFile> readPropertyListDictionary(const std::filesystem::path& file,
                                                    const std::filesystem::path& shownAs = {});

}  // namespace morvane
