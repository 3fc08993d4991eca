#pragma once

#include <optional>
#include <string_view>

namespace morvane {

/// The top-level "Label" text of an XML property list of the plain shape agents are written in,
/// found without building the node tree.
///
/// Absent whenever the bytes are anything else: binary, comments, entities, CDATA, attributes
/// beyond the root's, values of unusual form, a label that is not plain printable ASCII, no or
/// more than one "Label". The full parser decides those; an answer given here is always the
/// one it would give.
std::optional<std::string_view> plainPropertyListLabel(std::string_view bytes);

}  // namespace morvane
