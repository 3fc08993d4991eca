#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

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

  QSize sizeHint() const override { return {kWidth, kHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool isOn_;
  bool isEnabled_;
};

/// One row of the menu: a title (cut in the middle when space is short), an optional smaller
/// detail right after it on the same baseline, and a CapsuleSwitch at the right edge. A click
/// released inside an enabled row flips the switch and reports the new position; the menu stays
/// open.
///
/// The row paints its two texts itself rather than holding a label widget for each: a menu of a
/// thousand agents is rebuilt on every change, and every widget costs.
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

  QSize sizeHint() const override { return {rowWidth_, kHeight}; }
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
  bool enabled_;
  std::function<void(bool)> onToggle_;
  int rowWidth_ = kMinWidth;
  QString shownTitle_;
  QRect titleRect_;
  QRect detailRect_;
};

}  // namespace morvane
