#pragma once

// libxml2, loaded only when a program first needs it: it says where a broken XML property list
// stops being readable, which only the diagnosis of such a file asks. Every other run starts
// faster without mapping libxml2 and the compression libraries it pulls in.

#include <libxml/parser.h>

namespace morvane::xml {

// Every libxml2 function the program uses.
#define MORVANE_XML_FUNCTIONS(X) \
  X(xmlNewParserCtxt)            \
  X(xmlFreeParserCtxt)           \
  X(xmlCtxtReadMemory)           \
  X(xmlFreeDoc)

/// The loaded library's functions.
struct Library {
#define MORVANE_XML_POINTER(name) decltype(&::name) name = nullptr;
  MORVANE_XML_FUNCTIONS(MORVANE_XML_POINTER)
#undef MORVANE_XML_POINTER
};

/// libxml2, loaded on the first call; null when it is not installed.
const Library* library();

}  // namespace morvane::xml
