#include "recurring_widths.h"

#include <QFontMetricsF>
#include <algorithm>

namespace morvane {

std::vector<RecurringWidths::Font>& RecurringWidths::fonts() {
  static std::vector<Font> fonts;
  return fonts;
}

qreal RecurringWidths::of(const QFont& font, const QString& text) {
  const QFontMetricsF metrics(font);
  const qreal dpi = metrics.fontDpi();
  std::vector<Font>& known = fonts();
  auto entry = std::find_if(known.begin(), known.end(),
                            [&](const Font& each) { return each.dpi == dpi && each.font == font; });
  if (entry == known.end()) {
    if (known.size() >= kFontsAtMost)
      known.erase(known.begin());
    known.push_back({font, dpi, {}});
    entry = known.end() - 1;
  }
  QHash<QString, qreal>& widths = entry->widths;
  if (const auto found = widths.constFind(text); found != widths.constEnd())
    return *found;
  if (widths.size() >= kTextsAtMost)
    widths.clear();
  const qreal width = metrics.horizontalAdvance(text);
  widths.insert(text, width);
  return width;
}

}  // namespace morvane
