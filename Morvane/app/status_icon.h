#pragma once

#include <QIcon>
#include <QPainter>
#include <QRectF>

/// The status item's pictogram: a capped post on a base plate, with three bands across its body
/// and a line leaving it to the lower right. Drawn from vector paths at whatever size is asked
/// for, never stored as a bitmap.
namespace morvane::StatusIcon {

/// The icon's size in device-independent pixels.
inline constexpr int kSize = 18;

/// The shared icon, built on first use (safe against concurrent first use) and never rebuilt.
/// It is marked as a mask: the drawing is black only, for the desktop to tint.
const QIcon& image();

/// Draws the pictogram into `target` (an 18 × 18 square scaled to any size).
void draw(QPainter& painter, const QRectF& target);

}  // namespace morvane::StatusIcon
