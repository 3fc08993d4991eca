#pragma once

#include <QIcon>
#include <QPainter>
#include <QRectF>

/// The status item's pictogram: a capped post on a base plate, with three bands across its body
/// and a line leaving it to the lower right. Drawn from vector paths at whatever size is asked
/// for, never stored as a bitmap.
///
/// Desktops do not tint tray icons the way a Mac menu bar does, and their panels are light or
/// dark. So the pictogram is drawn in the colour the desktop's colour scheme asks for (dark on a
/// light scheme, light on a dark one) and always inside a thin halo of the opposite colour, which
/// keeps it readable on a panel of either kind, also when the desktop does not say which.
namespace morvane::StatusIcon {

/// The icon's size in device-independent pixels.
inline constexpr int kSize = 18;

/// The desktop's colour scheme, as far as it has said.
enum class Scheme { unknown, light, dark };

/// The shared icon, built on first use (safe against concurrent first use) and never rebuilt.
/// It draws for the scheme set last, each time it is drawn.
const QIcon& image();

/// The scheme the icon draws for from now on; `unknown` until set.
void setScheme(Scheme scheme);
Scheme scheme();

/// Draws the pictogram for `scheme` into `target` (an 18 × 18 square scaled to any size).
void draw(QPainter& painter, const QRectF& target, Scheme scheme);

}  // namespace morvane::StatusIcon
