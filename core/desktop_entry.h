#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

/// A file's URL: "file://" and its path, each byte outside the unreserved characters and "/"
/// written as %XX.
std::string fileUrl(const std::filesystem::path& path);

/// The command line a desktop entry (a .desktop file's text) gives for opening `file`: its
/// "Exec" key in the "Desktop Entry" group, unescaped and split into words, with %f and %F
/// standing for the file, %u and %U for its URL, %% for "%", and the other field codes left
/// out. A line without a file field gets the file at its end. Absent when there is no Exec.
std::optional<std::vector<std::string>> desktopEntryCommand(std::string_view entry,
                                                            const std::filesystem::path& file);

}  // namespace morvane
