#pragma once

// ICU's common library, loaded only when a program first meets text that is not ASCII. Labels,
// file names and terminal columns are nearly always ASCII, and every run of the command line
// starts faster without mapping ICU, its data and the C++ runtime it pulls in.

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

namespace morvane::unicode {

// Every ICU function the program uses. ICU renames its functions by version (u_charType is
// u_charType_72), and these names expand to the renamed ones.
#define MORVANE_UNICODE_FUNCTIONS(X) \
  X(u_charType)                      \
  X(u_getIntPropertyValue)           \
  X(u_strFromUTF8WithSub)            \
  X(u_strToLower)                    \
  X(u_strToUTF8WithSub)              \
  X(unorm2_getNFCInstance)           \
  X(unorm2_getNFKCCasefoldInstance)  \
  X(unorm2_normalize)

/// The loaded library's functions.
struct Library {
#define MORVANE_UNICODE_POINTER(name) decltype(&::name) name = nullptr;
  MORVANE_UNICODE_FUNCTIONS(MORVANE_UNICODE_POINTER)
#undef MORVANE_UNICODE_POINTER
};

/// ICU, loaded on the first call. ICU is part of the installation as much as the C library is:
/// without it the process says so on standard error and ends with status 127, as the dynamic
/// loader does for a missing library.
const Library& library();

}  // namespace morvane::unicode
