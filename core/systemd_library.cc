#include "systemd_library.h"

#include <dlfcn.h>

namespace morvane::systemd {
namespace {

/// Loads libsystemd and every function; null when the library or a function is missing.
const Library* load() {
  void* handle = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr)
    return nullptr;
  static Library loaded;
  bool complete = true;
#define MORVANE_SYSTEMD_RESOLVE(name)                                        \
  loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
  complete = complete && loaded.name != nullptr;
  MORVANE_SYSTEMD_FUNCTIONS(MORVANE_SYSTEMD_RESOLVE)
#undef MORVANE_SYSTEMD_RESOLVE
  return complete ? &loaded : nullptr;
}

}  // namespace

const Library* library() {
  static const Library* const loaded = load();
  return loaded;
}

}  // namespace morvane::systemd
