#include "switch_row.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace morvane {
namespace {

/// The desktop's menu font.
QFont menuFont() {
  return QApplication::font("QMenu");
}

/// The menu font at the size of small system text: 11 against the regular 13.
QFont smallMenuFont() {
  QFont font = menuFont();
  if (font.pointSizeF() > 0)
    font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
  else
    font.setPixelSize(std::max(1, font.pixelSize() * 11 / 13));
  return font;
}

void setTextColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

QLabel* plainLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // a label or name is never markup
  return label;
}

}  // namespace

CapsuleSwitch::CapsuleSwitch(bool isOn, bool isEnabled, QWidget* parent)
    : QWidget(parent), isOn_(isOn), isEnabled_(isEnabled) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(0, 0, kWidth, kHeight);
}

void CapsuleSwitch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!painter.isActive())
    return;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setOpacity(isEnabled_ ? 1.0 : kDisabledAlpha);  // dims track and knob together

  const QRectF bounds = rect();
  const QColor track = isOn_ ? palette().color(QPalette::Active, QPalette::Highlight)
                             : QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.4f);
  painter.setPen(Qt::NoPen);
  painter.setBrush(track);
  const double radius = bounds.height() * 0.5;
  painter.drawRoundedRect(bounds, radius, radius);

  const double diameter = bounds.height() - 4;
  const double x = isOn_ ? bounds.right() - 2 - diameter : bounds.left() + 2;
  const QRectF knob(x, bounds.bottom() - 2 - diameter, diameter, diameter);

  // Only the knob casts a shadow: half a point down, blurred over a point and a half.
  const double blur = 1.5;
  const QRectF shadow = knob.translated(0, 0.5).adjusted(-blur, -blur, blur, blur);
  QRadialGradient gradient(shadow.center(), shadow.width() / 2);
  gradient.setColorAt(0, QColor::fromRgbF(0, 0, 0, 0.25f));
  gradient.setColorAt(1 - blur / (shadow.width() / 2), QColor::fromRgbF(0, 0, 0, 0.25f));
  gradient.setColorAt(1, Qt::transparent);
  painter.setBrush(gradient);
  painter.drawEllipse(shadow);

  painter.setBrush(Qt::white);
  painter.drawEllipse(knob);
}

SwitchRow::SwitchRow(const QString& title, const std::optional<QString>& detail, bool isOn,
                     bool enabled, std::function<void(bool)> onToggle, QWidget* parent)
    : QWidget(parent),
      title_(title),
      hasDetail_(detail.has_value()),
      label_(plainLabel(this)),
      detailLabel_(plainLabel(this)),
      toggle_(new CapsuleSwitch(isOn, enabled, this)),
      enabled_(enabled),
      onToggle_(std::move(onToggle)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);  // the menu may stretch it

  const QPalette colors = palette();
  const QColor text = colors.color(QPalette::Active, QPalette::WindowText);
  const QColor disabled = colors.color(QPalette::Disabled, QPalette::WindowText);
  QColor secondary = text;
  secondary.setAlphaF(0.5f);

  label_->setFont(menuFont());
  setTextColor(label_, enabled ? text : disabled);
  detailLabel_->setFont(smallMenuFont());
  detailLabel_->setText(detail.value_or(QString()));
  setTextColor(detailLabel_, enabled ? secondary : disabled);

  const int titleWidth = QFontMetrics(label_->font()).horizontalAdvance(title_);
  int width = titleWidth;
  if (hasDetail_)
    width += detailLabel_->sizeHint().width() + kDetailGap;
  width += kLeading + kSwitchGap + CapsuleSwitch::kWidth + kTrailing;
  rowWidth_ = std::clamp(width, kMinWidth, kMaxWidth);
  resize(rowWidth_, kHeight);
  layoutContent();
}

void SwitchRow::layoutContent() {
  const QFontMetrics titleMetrics(label_->font());
  const int switchX = width() - kTrailing - CapsuleSwitch::kWidth;
  toggle_->setGeometry(switchX, (height() - CapsuleSwitch::kHeight) / 2, CapsuleSwitch::kWidth,
                       CapsuleSwitch::kHeight);

  // The detail is never compressed; the title gives way and is cut in the middle.
  const int detailWidth = hasDetail_ ? detailLabel_->sizeHint().width() : 0;
  const int detailSpace = hasDetail_ ? kDetailGap + detailWidth : 0;
  const int available = std::max(0, switchX - kSwitchGap - detailSpace - kLeading);
  const QString shown = titleMetrics.elidedText(title_, Qt::ElideMiddle, available);
  label_->setText(shown);
  const int titleWidth = std::min(available, titleMetrics.horizontalAdvance(shown));
  const int titleHeight = titleMetrics.height();
  const int titleY = (height() - titleHeight) / 2;
  label_->setGeometry(kLeading, titleY, titleWidth, titleHeight);

  // The detail sits right after the title, on the same baseline.
  const QFontMetrics detailMetrics(detailLabel_->font());
  const int detailY = titleY + titleMetrics.ascent() - detailMetrics.ascent();
  detailLabel_->setGeometry(kLeading + titleWidth + kDetailGap, detailY, detailWidth,
                            detailMetrics.height());
  detailLabel_->setVisible(hasDetail_);
}

void SwitchRow::resizeEvent(QResizeEvent*) {
  layoutContent();
}

void SwitchRow::mousePressEvent(QMouseEvent* event) {
  event->accept();  // the row, not the menu, answers clicks on it
}

void SwitchRow::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();  // taken even when nothing happens, so the menu stays open
  if (!enabled_ || !rect().contains(event->position().toPoint()))
    return;
  toggle_->setOn(!toggle_->isOn());
  toggle_->update();
  if (onToggle_)
    onToggle_(toggle_->isOn());
}

}  // namespace morvane
