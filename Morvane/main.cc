#include "entry.h"

int main(int argc, char** argv) {
  return morvane::runEntry(argc, argv);
}
