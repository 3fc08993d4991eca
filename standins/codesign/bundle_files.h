#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace codesign {

/// Where the seal lives inside a bundle.
inline constexpr const char* kSealPath = "Contents/_CodeSignature/CodeResources";

/// What the seal records of one file: the SHA-256 of a regular file's bytes, or "link:" and
/// the target of a symbolic link.
using Fingerprints = std::map<std::string, std::string>;

/// The fingerprints of every file under `bundle` by relative path, the seal's own folder left
/// out. Sets `error` (and returns what was read so far) on an unreadable file, a special file,
/// or a symbolic link that points outside the bundle.
Fingerprints fingerprintBundle(const std::filesystem::path& bundle, std::string& error);

/// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits; empty when unreadable.
std::string sha256OfFile(const std::filesystem::path& file);

}  // namespace codesign
