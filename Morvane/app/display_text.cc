#include "display_text.h"

#include <QFontMetrics>
#include <QTextDocument>

#include "unicode_text.h"

namespace morvane {

QString singleLine(const std::string& text) {
  const QString read = QString::fromStdString(text);
  QString line;
  line.reserve(read.size());
  for (QChar c : read) {
    const auto category = c.category();
    if (category == QChar::Other_Control || category == QChar::Separator_Line ||
        category == QChar::Separator_Paragraph)
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
