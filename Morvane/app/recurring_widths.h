#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <vector>

namespace morvane {

/// The widths of the short texts that recur from row to row of the menu, the rows' details
/// ("disabled", "next 09:00", "exited 1"), each shaped once per font and then remembered. Shaping
/// a text costs tens of microseconds; a menu of a thousand scheduled agents shows a few dozen
/// different details, measured again at every rebuild.
///
/// A width is exactly what QFontMetricsF(font).horizontalAdvance(text) gives. For the GUI thread
/// only.
class RecurringWidths {
 public:
  static qreal of(const QFont& font, const QString& text);

  /// At most this many texts are remembered per font; past that they are all forgotten, as
  /// details that do not recur (pids) would otherwise pile up.
  static constexpr qsizetype kTextsAtMost = 4096;
  /// At most this many fonts; the oldest is forgotten first.
  static constexpr size_t kFontsAtMost = 4;

 private:
  struct Font {
    QFont font;
    /// The resolution the font was measured at: a font at another one is another font.
    qreal dpi;
    QHash<QString, qreal> widths;
  };
  static std::vector<Font>& fonts();
};

}  // namespace morvane
