#pragma once

#include <QFont>
#include <QString>
#include <string>

namespace morvane {

/// Text from outside the program (labels, friendly names, launchctl's output) made fit for one
/// line of the menu: invalid UTF-8 becomes U+FFFD, every control character or line break
/// becomes a space, and every bidirectional formatting character is shown as \uHHHH, as the
/// command line shows it, instead of reordering the text.
QString singleLine(const std::string& text);

/// singleLine(text) no longer than `maxWidth` pixels in `font`, cut as `mode` says.
QString fittedLine(const std::string& text, const QFont& font, int maxWidth,
                   Qt::TextElideMode mode = Qt::ElideMiddle);

/// A tooltip that shows `text` as it is: text the toolkit would take for markup is escaped.
QString plainToolTip(const QString& text);

/// A menu item's title: one line, no longer than `maxWidth` pixels in `font` (cut in the
/// middle), with "&" doubled so that the menu shows it instead of taking it as a mnemonic.
QString menuTitle(const std::string& text, const QFont& font, int maxWidth);

}  // namespace morvane
