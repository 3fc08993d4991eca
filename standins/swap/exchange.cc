#include "exchange.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstring>

namespace swap_paths {

std::string exchange(const std::string& first, const std::string& second) {
#if defined(__APPLE__)
  const int result = ::renamex_np(first.c_str(), second.c_str(), RENAME_SWAP);
#else
  const int result =
      ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
#endif
  return result == 0 ? "" : std::strerror(errno);
}

}  // namespace swap_paths
