#pragma once

#include <cstddef>

namespace launchctl {

/// Writes all `size` bytes to `fd`, retrying interrupted and partial writes; false on failure.
bool writeFully(int fd, const void* data, std::size_t size);

/// Reads exactly `size` bytes from `fd`; false on failure or end of file before that.
bool readFully(int fd, void* data, std::size_t size);

}  // namespace launchctl
