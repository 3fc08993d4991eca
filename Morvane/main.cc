#include "app_delegate.h"
#include "entry.h"

int main(int argc, char** argv) {
  return morvane::runEntry(argc, argv, morvane::runMenuBarApp);
}
