#pragma once

#include <QPoint>
#include <QRect>

namespace morvane::MenuPlacement {

/// Where to ask the menu to open so that it opens beside the panel, not over it. Below the status
/// icon when the tray tells where the icon is, or above it when the icon is in the lower half of
/// the screen (a menu that does not fit below turns upward by itself). Trays that keep the icon's
/// place to themselves leave only the pointer, which is on the icon: the menu then opens against
/// the edge of the panel under the pointer, where the screen's available area ends. Without
/// either, at the pointer.
QPoint anchor(const QRect& icon, const QPoint& pointer, const QRect& screen,
              const QRect& available);

/// `menu` moved, not resized, so that it lies within `available` wherever it fits: off the
/// panels and off the icon.
QRect keepWithin(const QRect& menu, const QRect& available);

}  // namespace morvane::MenuPlacement
