#pragma once

#include <QFont>
#include <QString>
#include <string>

namespace morvane {

/// Text from outside the program (labels, friendly names, launchctl's output) made fit for one
/// line of the menu: invalid UTF-8 becomes U+FFFD, and every control character or line break
/// becomes a space.
QString singleLine(const std::string& text);

/// A menu item's title: one line, no longer than `maxWidth` pixels in `font` (cut in the
/// middle), with "&" doubled so that the menu shows it instead of taking it as a mnemonic.
QString menuTitle(const std::string& text, const QFont& font, int maxWidth);

}  // namespace morvane
