#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QPainter;

namespace morvane {

/// A drawn on/off switch: a capsule track with a round white knob. It never takes a click
/// itself; clicks fall through to the row around it.
class CapsuleSwitch : public QWidget {
 public:
  static constexpr int kWidth = 38;
  static constexpr int kHeight = 22;
  /// How opaque a disabled switch is drawn.
  static constexpr double kDisabledAlpha = 0.45;

  CapsuleSwitch(bool isOn, bool isEnabled, QWidget* parent = nullptr);

  bool isOn() const { return isOn_; }
  void setOn(bool on) { isOn_ = on; }
  /// Whether the switch is drawn at full opacity (unrelated to QWidget's own enabled flag).
  bool isSwitchEnabled() const { return isEnabled_; }
  void setSwitchEnabled(bool enabled) { isEnabled_ = enabled; }

  QSize sizeHint() const override { return {kWidth, kHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  /// Draws the switch as it is, with `track` the colour of its track.
  void draw(QPainter& painter, const QColor& track) const;

  bool isOn_;
  bool isEnabled_;
};

/// One row of the menu: a title (cut in the middle when space is short), an optional smaller
/// detail right after it on the same baseline, and a CapsuleSwitch at the right edge. A left
/// click released inside an enabled row flips the switch and reports the new position; the menu
/// stays open. A right click asks for the row's actions, when it has any.
///
/// The row paints its two texts itself rather than holding a label widget for each: every widget
/// costs, and a list of agents shows its rows in a few widgets it fills again as it scrolls.
class SwitchRow : public QWidget {
 public:
  static constexpr int kHeight = 32;
  static constexpr int kMinWidth = 260;
  static constexpr int kMaxWidth = 560;
  static constexpr int kLeading = 17;    // before the title
  static constexpr int kDetailGap = 8;   // between title and detail
  static constexpr int kSwitchGap = 16;  // at least, between detail and switch
  static constexpr int kTrailing = 14;   // after the switch

  SwitchRow(const QString& title, const std::optional<QString>& detail, bool isOn, bool enabled,
            std::function<void(bool)> onToggle, QWidget* parent = nullptr);

  /// Shows another row's content in this one, as a list that reuses its rows does: texts,
  /// switch, whether it reacts and what a flip reports. The detail is drawn in the text colours.
  void setContent(const QString& title, const std::optional<QString>& detail, bool isOn,
                  bool enabled, std::function<void(bool)> onToggle);

  /// The width a row with these texts asks for: room for both texts and the switch, within
  /// kMinWidth and kMaxWidth.
  static int widthFor(const QString& title, const std::optional<QString>& detail);

  /// widthFor() for many rows at once, with the fonts looked up and measured once.
  class Widths {
   public:
    Widths();
    int of(const QString& title, const std::optional<QString>& detail) const;
    /// The metrics of() measures a title by, and a detail: ideographs at the title's size.
    const QFontMetricsF& titleMetrics() const { return title_; }
    const QFontMetricsF& detailMetrics(const QString& detail) const;

   private:
    QFont titleFont_;
    QFont detailFont_;
    QFontMetricsF title_;
    QFontMetricsF detail_;
  };

  /// What a right click on the row asks for, with the click's screen position; rows without it
  /// ignore the right button.
  void setOnActions(std::function<void(const QPoint&, bool)> onActions) {
    onActions_ = std::move(onActions);
  }

  /// Marks the row as the menu's chosen one (by the keyboard or the pointer); it is drawn on a
  /// light wash of the highlight colour.
  void setHighlighted(bool highlighted);
  bool highlighted() const { return highlighted_; }

  /// Flips the switch and reports it, as a click does; false when the row is disabled.
  bool flip();

  /// Draws the detail in the warning colour, unless the row is disabled.
  void showDetailAsWarning();
  /// The theme's colour for a warning: a red that reads on the palette's window colour.
  static QColor warningColor(const QPalette& palette);

  CapsuleSwitch* toggle() const { return toggle_; }
  /// Whether the row reacts to clicks; fixed at construction.
  bool enabled() const { return enabled_; }

  /// The title as given, and as shown (cut in the middle to the space there is).
  const QString& title() const { return title_; }
  const QString& shownTitle() const { return shownTitle_; }
  /// The detail, absent when the row has none (an empty one is still there).
  const std::optional<QString>& detail() const { return detail_; }

  const QFont& titleFont() const { return titleFont_; }
  const QFont& detailFont() const { return detailFont_; }
  const QColor& titleColor() const { return titleColor_; }
  const QColor& detailColor() const { return detailColor_; }
  /// Where the texts are drawn, each rectangle exactly as high as its font's line.
  const QRect& titleRect() const { return titleRect_; }
  const QRect& detailRect() const { return detailRect_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void layoutContent();

  QString title_;
  std::optional<QString> detail_;
  QFont titleFont_;
  QFont detailFont_;
  QColor titleColor_;
  QColor detailColor_;
  CapsuleSwitch* toggle_;
  bool enabled_ = true;
  std::function<void(bool)> onToggle_;
  std::function<void(const QPoint&, bool)> onActions_;
  bool highlighted_ = false;
  mutable std::optional<int> rowWidth_;
  /// The width the texts and the switch were last placed for.
  int laidOutWidth_ = 0;
  QString shownTitle_;
  QRect titleRect_;
  QRect detailRect_;
};

}  // namespace morvane
