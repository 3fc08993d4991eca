#pragma once

#include <filesystem>
#include <string>

namespace codesign {

/// Writes the bundle's seal: an XML property list whose "files" dictionary maps every file's
/// relative path to its fingerprint and whose "modes" dictionary maps every file and folder to
/// its permission bits. Returns an empty text on success, else the reason.
std::string sealBundle(const std::filesystem::path& bundle);

/// Checks the bundle against its seal: every file and folder listed, none added, none changed in
/// content or mode, no link leading out, nothing but the seal in its folder. Returns an empty
/// text when the bundle is intact, else a one-line reason.
std::string verifyBundle(const std::filesystem::path& bundle);

}  // namespace codesign
