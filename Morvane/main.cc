#include "application_module.h"
#include "entry.h"

int main(int argc, char** argv) {
  return morvane::runEntry(argc, argv, morvane::runApplicationModule);
}
