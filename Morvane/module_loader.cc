#include <dlfcn.h>

#include <iostream>

#include "application_module.h"
#include "platform.h"

namespace morvane {

int runApplicationModule(Mode mode, int argc, char** argv) {
  const std::filesystem::path path = platform::applicationModulePath();
  // Loaded once and never closed: the application runs inside it until the process ends.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "morvane: cannot load the application module: " << ::dlerror() << "\n";
    return 1;
  }
  auto entry =
      reinterpret_cast<decltype(&morvaneRunModuleMode)>(::dlsym(module, MORVANE_MODULE_ENTRY));
  if (entry == nullptr) {
    std::cerr << "morvane: the application module has no entry: " << path.string() << "\n";
    return 1;
  }
  return entry(mode, argc, argv);
}

}  // namespace morvane
