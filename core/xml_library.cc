#include "xml_library.h"

#include <dlfcn.h>

namespace morvane::xml {
namespace {

/// Loads libxml2 and every function; null when the library or a function is missing.
const Library* load() {
  void* handle = ::dlopen("libxml2.so.2", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr)
    return nullptr;
  static Library loaded;
  bool complete = true;
#define MORVANE_XML_RESOLVE(name)                                            \
  loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
  complete = complete && loaded.name != nullptr;
  MORVANE_XML_FUNCTIONS(MORVANE_XML_RESOLVE)
#undef MORVANE_XML_RESOLVE
  return complete ? &loaded : nullptr;
}

}  // namespace

const Library* library() {
  static const Library* const loaded = load();
  return loaded;
}

}  // namespace morvane::xml
