#include "display_text.h"

#include <QFontMetrics>
#include <QTextDocument>
#include <algorithm>

#include "unicode_text.h"

namespace morvane {

QString singleLine(const std::string& text) {
  const QString read = QString::fromStdString(text);
  auto breaksLine = [](QChar c) {
    if (c.unicode() >= 0x20 && c.unicode() < 0x7f)  // printable ASCII, most of any text
      return false;
    const auto category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
  };
  // Most texts are one line already, and are shown as they are.
  const auto first = std::find_if(read.begin(), read.end(), [&](QChar c) {
    return breaksLine(c) || isBidiControl(c.unicode());
  });
  if (first == read.end())
    return read;
  QString line = read.first(first - read.begin());
  line.reserve(read.size());
  for (auto at = first; at != read.end(); ++at) {
    const QChar c = *at;
    if (breaksLine(c))
      line += QLatin1Char(' ');
    else if (isBidiControl(c.unicode()))  // shown, never obeyed: they would reorder the row
      line += QStringLiteral("\\u") +
              QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    else
      line += c;
  }
  return line;
}

QString fittedLine(const std::string& text, const QFont& font, int maxWidth,
                   Qt::TextElideMode mode) {
  return QFontMetrics(font).elidedText(singleLine(text), mode, maxWidth);
}

QString plainToolTip(const QString& text) {
  if (!Qt::mightBeRichText(text))
    return text;
  QString escaped = text.toHtmlEscaped();
  escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  return QStringLiteral("<p style='white-space:pre'>") + escaped + QStringLiteral("</p>");
}

QString menuTitle(const std::string& text, const QFont& font, int maxWidth) {
  QString title = fittedLine(text, font, maxWidth);
  title.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return title;
}

}  // namespace morvane
