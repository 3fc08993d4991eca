#include "xml_error_position.h"

#include <climits>
#include <memory>

#include "unicode_text.h"
#include "xml_library.h"

namespace morvane {
namespace {

struct ContextDeleter {
  void operator()(xmlParserCtxtPtr context) const { xml::library()->xmlFreeParserCtxt(context); }
};
struct DocumentDeleter {
  void operator()(xmlDocPtr document) const { xml::library()->xmlFreeDoc(document); }
};

}  // namespace

std::optional<XmlErrorPosition> xmlErrorPosition(std::string_view bytes) {
  if (bytes.size() > INT_MAX)
    return XmlErrorPosition{1, 1, "document too large"};
  const xml::Library* xml = xml::library();
  if (xml == nullptr)
    return std::nullopt;
  std::unique_ptr<xmlParserCtxt, ContextDeleter> context(xml->xmlNewParserCtxt());
  if (!context)
    return std::nullopt;
  std::optional<XmlErrorPosition> position;
  context->sax->serror = [](void* userData, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    auto* found = static_cast<std::optional<XmlErrorPosition>*>(ctxt->_private);
    if (found->has_value() || error == nullptr || error->level < XML_ERR_ERROR)
      return;
    XmlErrorPosition at;
    at.line = error->line > 0 ? error->line : 1;
    at.column = error->int2 > 0 ? error->int2 : 1;
    if (error->message != nullptr)
      at.message = std::string(trimWhitespaceAndNewlines(error->message));
    *found = std::move(at);
  };
  context->_private = &position;
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, DocumentDeleter> document(xml->xmlCtxtReadMemory(
      context.get(), bytes.data(), static_cast<int>(bytes.size()), "plist", nullptr, options));
  if (document && context->wellFormed)
    return std::nullopt;
  if (!position)
    position = XmlErrorPosition{1, 1, ""};
  return position;
}

}  // namespace morvane
