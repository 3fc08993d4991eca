#include "display_text.h"

#include <QFontMetrics>
#include <QTextDocument>

namespace morvane {

QString singleLine(const std::string& text) {
  QString line = QString::fromStdString(text);
  for (QChar& c : line) {
    const auto category = c.category();
    if (category == QChar::Other_Control || category == QChar::Separator_Line ||
        category == QChar::Separator_Paragraph)
      c = QLatin1Char(' ');
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
