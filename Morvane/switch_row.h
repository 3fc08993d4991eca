#pragma once

#include <QLabel>
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
/// detail right after it, and a CapsuleSwitch at the right edge. A click released inside an
/// enabled row flips the switch and reports the new position; the menu stays open.
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

  QLabel* label() const { return label_; }
  QLabel* detailLabel() const { return detailLabel_; }
  CapsuleSwitch* toggle() const { return toggle_; }
  /// Whether the row reacts to clicks; fixed at construction.
  bool enabled() const { return enabled_; }
  /// The title as given, before any cut.
  const QString& title() const { return title_; }

  QSize sizeHint() const override { return {rowWidth_, kHeight}; }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layoutContent();

  QString title_;
  bool hasDetail_;
  QLabel* label_;
  QLabel* detailLabel_;
  CapsuleSwitch* toggle_;
  bool enabled_;
  std::function<void(bool)> onToggle_;
  int rowWidth_ = kMinWidth;
};

}  // namespace morvane
