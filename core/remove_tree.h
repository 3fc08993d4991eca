#pragma once

#include <filesystem>

namespace morvane {

/// Removes `path` and everything under it, folders whose modes shut their owner out included:
/// such folders are opened up for their owner before they are emptied. Links are removed, never
/// followed. Gives whether nothing is left at `path`.
bool removeTree(const std::filesystem::path& path);

}  // namespace morvane
