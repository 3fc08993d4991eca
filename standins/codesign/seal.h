#pragma once

#include <filesystem>
#include <string>

namespace codesign {

/// Writes the bundle's seal: an XML property list whose "files" dictionary maps every file's
/// relative path to its fingerprint. Returns an empty text on success, else the reason.
std::string sealBundle(const std::filesystem::path& bundle);

/// Checks the bundle against its seal: every file listed, none added, none changed. Returns an
/// empty text when the bundle is intact, else a one-line reason.
std::string verifyBundle(const std::filesystem::path& bundle);

}  // namespace codesign
