#include "display_text.h"

#include <QFontMetrics>

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

QString menuTitle(const std::string& text, const QFont& font, int maxWidth) {
  QString title = QFontMetrics(font).elidedText(singleLine(text), Qt::ElideMiddle, maxWidth);
  title.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return title;
}

}  // namespace morvane
