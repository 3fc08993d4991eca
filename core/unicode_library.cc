#include "unicode_library.h"

#include <dlfcn.h>
#include <unicode/uvernum.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace morvane::unicode {
namespace {

#define MORVANE_UNICODE_QUOTED(name) #name
/// A function's name as the library exports it: the argument is expanded to its renamed form.
#define MORVANE_UNICODE_EXPORTED(name) MORVANE_UNICODE_QUOTED(name)

/// The library the headers describe; the major version in its name matches the renaming.
constexpr const char* kFileName = "libicuuc.so." U_ICU_VERSION_SHORT;

[[noreturn]] void missing(const std::string& what) {
  const std::string line = "morvane: cannot load ICU: " + what + "\n";
  [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  std::_Exit(127);
}

Library load() {
  void* handle = ::dlopen(kFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr)
    missing(::dlerror());
  Library loaded;
#define MORVANE_UNICODE_RESOLVE(name)                                                       \
  loaded.name =                                                                             \
      reinterpret_cast<decltype(&::name)>(::dlsym(handle, MORVANE_UNICODE_EXPORTED(name))); \
  if (loaded.name == nullptr)                                                               \
    missing(std::string(kFileName) + " has no " + MORVANE_UNICODE_EXPORTED(name));
  MORVANE_UNICODE_FUNCTIONS(MORVANE_UNICODE_RESOLVE)
#undef MORVANE_UNICODE_RESOLVE
  return loaded;
}

}  // namespace

const Library& library() {
  static const Library loaded = load();
  return loaded;
}

}  // namespace morvane::unicode
