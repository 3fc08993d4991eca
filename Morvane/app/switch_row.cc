#include "switch_row.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

#include "recurring_widths.h"

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

/// Whether `text` holds Chinese (Han) characters.
bool hasIdeographs(const QString& text) {
  // No Han character comes before U+2E80; most texts are told apart by that alone.
  for (QChar c : text)
    if (c.unicode() >= 0x2E80 && c.script() == QChar::Script_Han)
      return true;
  return false;
}

/// The font of a detail text: the small one, except for Chinese. An ideograph drawn at the
/// small size is some 9 pixels high on a common screen, too few to keep its strokes apart, so
/// a detail with ideographs keeps the menu's own size.
QFont detailFontFor(const std::optional<QString>& detail) {
  return detail && hasIdeographs(*detail) ? menuFont() : smallMenuFont();
}

/// The whole pixels a text takes: its exact width rounded up, so that it fits when laid out.
int textWidth(const QFont& font, const QString& text) {
  return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

/// textWidth() of a row's detail, which recurs from row to row.
int detailWidth(const QFont& font, const QString& detail) {
  return static_cast<int>(std::ceil(RecurringWidths::of(font, detail)));
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
  const QColor track = isOn_ ? palette().color(QPalette::Active, QPalette::Highlight)
                             : QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.4f);
  // Every switch in one state looks the same: it is drawn once and copied from then on, as a
  // menu shows a few dozen of them each time it opens.
  const qreal ratio = devicePixelRatioF();
  const QString key = QStringLiteral("morvane.switch:%1:%2:%3:%4x%5@%6")
                          .arg(isOn_)
                          .arg(isEnabled_)
                          .arg(track.rgba())
                          .arg(width())
                          .arg(height())
                          .arg(ratio);
  QPixmap drawn;
  if (!QPixmapCache::find(key, &drawn)) {
    drawn = QPixmap(size() * ratio);
    drawn.setDevicePixelRatio(ratio);
    drawn.fill(Qt::transparent);
    QPainter onto(&drawn);
    draw(onto, track);
    onto.end();
    QPixmapCache::insert(key, drawn);
  }
  painter.drawPixmap(0, 0, drawn);
}

void CapsuleSwitch::draw(QPainter& painter, const QColor& track) const {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setOpacity(isEnabled_ ? 1.0 : kDisabledAlpha);  // dims track and knob together

  const QRectF bounds = rect();
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
    : QWidget(parent), titleFont_(menuFont()), toggle_(new CapsuleSwitch(isOn, enabled, this)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);  // the menu may stretch it
  setContent(title, detail, isOn, enabled, std::move(onToggle));
  resize(sizeHint());
  layoutContent();
}

void SwitchRow::setContent(const QString& title, const std::optional<QString>& detail, bool isOn,
                           bool enabled, std::function<void(bool)> onToggle) {
  title_ = title;
  detail_ = detail;
  detailFont_ = detailFontFor(detail);
  enabled_ = enabled;
  onToggle_ = std::move(onToggle);
  toggle_->setOn(isOn);
  toggle_->setSwitchEnabled(enabled);

  const QPalette& colors = palette();
  const QColor text = colors.color(QPalette::Active, QPalette::WindowText);
  const QColor disabled = colors.color(QPalette::Disabled, QPalette::WindowText);
  QColor secondary = text;
  secondary.setAlphaF(0.5f);
  titleColor_ = enabled ? text : disabled;
  detailColor_ = enabled ? secondary : disabled;

  rowWidth_.reset();  // measured when asked: a row in a list is given its width
  laidOutWidth_ = 0;  // the texts are cut again for the width there is
  layoutContent();
  toggle_->update();
  update();
}

QSize SwitchRow::sizeHint() const {
  if (!rowWidth_)
    rowWidth_ = widthFor(title_, detail_);
  return {*rowWidth_, kHeight};
}

int SwitchRow::widthFor(const QString& title, const std::optional<QString>& detail) {
  return Widths().of(title, detail);
}

SwitchRow::Widths::Widths()
    : titleFont_(menuFont()),
      detailFont_(smallMenuFont()),
      title_(titleFont_),
      detail_(detailFont_) {}

int SwitchRow::Widths::of(const QString& title, const std::optional<QString>& detail) const {
  int width = static_cast<int>(std::ceil(title_.horizontalAdvance(title)));
  if (detail)
    width += detailWidth(hasIdeographs(*detail) ? titleFont_ : detailFont_, *detail) + kDetailGap;
  width += kLeading + kSwitchGap + CapsuleSwitch::kWidth + kTrailing;
  return std::clamp(width, kMinWidth, kMaxWidth);
}

const QFontMetricsF& SwitchRow::Widths::detailMetrics(const QString& detail) const {
  return hasIdeographs(detail) ? title_ : detail_;
}

QColor SwitchRow::warningColor(const QPalette& palette) {
  // The system red of the light and of the dark appearance.
  const bool dark = palette.color(QPalette::Active, QPalette::Window).lightnessF() < 0.5f;
  return dark ? QColor(255, 105, 97) : QColor(215, 0, 21);
}

void SwitchRow::showDetailAsWarning() {
  if (enabled_)
    detailColor_ = warningColor(palette());
}

void SwitchRow::layoutContent() {
  // A row shrunk to nothing (filtered out of the menu) shows nothing; given its width back, it
  // needs no new layout: cutting the title to fit is the costly part.
  if (width() <= 0 || width() == laidOutWidth_)
    return;
  laidOutWidth_ = width();
  const int switchX = width() - kTrailing - CapsuleSwitch::kWidth;
  toggle_->setGeometry(switchX, (height() - CapsuleSwitch::kHeight) / 2, CapsuleSwitch::kWidth,
                       CapsuleSwitch::kHeight);

  // The detail is never compressed; the title gives way and is cut in the middle.
  const QFontMetrics titleMetrics(titleFont_);
  const QFontMetrics detailMetrics(detailFont_);
  const int shownDetailWidth = detail_ ? detailWidth(detailFont_, *detail_) : 0;
  const int detailSpace = detail_ ? kDetailGap + shownDetailWidth : 0;
  const int available = std::max(0, switchX - kSwitchGap - detailSpace - kLeading);
  // Most titles fit: measured once, they are not cut (which measures them again).
  int titleWidth = textWidth(titleFont_, title_);
  if (titleWidth <= available) {
    shownTitle_ = title_;
  } else {
    shownTitle_ = QFontMetricsF(titleFont_).elidedText(title_, Qt::ElideMiddle, available);
    titleWidth = std::min(available, textWidth(titleFont_, shownTitle_));
  }
  const int titleY = (height() - titleMetrics.height()) / 2;
  titleRect_ = QRect(kLeading, titleY, titleWidth, titleMetrics.height());

  // Right after the title, on the same baseline.
  const int detailY = titleY + titleMetrics.ascent() - detailMetrics.ascent();
  detailRect_ = detail_ ? QRect(titleRect_.right() + 1 + kDetailGap, detailY, shownDetailWidth,
                                detailMetrics.height())
                        : QRect();
}

void SwitchRow::setHighlighted(bool highlighted) {
  if (highlighted_ == highlighted)
    return;
  highlighted_ = highlighted;
  update();
}

void SwitchRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (highlighted_) {
    QColor wash = palette().color(QPalette::Active, QPalette::Highlight);
    wash.setAlphaF(0.16f);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(wash);
    painter.drawRoundedRect(QRectF(rect()).adjusted(4, 1, -4, -1), 4, 4);
  }
  painter.setFont(titleFont_);
  painter.setPen(titleColor_);
  painter.drawText(titleRect_, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shownTitle_);
  if (detail_ && !detail_->isEmpty()) {
    painter.setFont(detailFont_);
    painter.setPen(detailColor_);
    painter.drawText(detailRect_, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, *detail_);
  }
}

void SwitchRow::resizeEvent(QResizeEvent*) {
  layoutContent();
}

void SwitchRow::mousePressEvent(QMouseEvent* event) {
  event->accept();  // the row, not the menu, answers clicks on it
  if (event->button() == Qt::RightButton && onActions_)
    onActions_(event->globalPosition().toPoint(), false);
}

void SwitchRow::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();  // taken even when nothing happens, so the menu stays open
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    flip();
}

bool SwitchRow::flip() {
  if (!enabled_)
    return false;
  toggle_->setOn(!toggle_->isOn());
  toggle_->update();
  if (onToggle_)
    onToggle_(toggle_->isOn());
  return true;
}

}  // namespace morvane
