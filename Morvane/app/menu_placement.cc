#include "menu_placement.h"

#include <algorithm>

namespace morvane::MenuPlacement {

QPoint anchor(const QRect& icon, const QPoint& pointer, const QRect& screen,
              const QRect& available) {
  if (icon.isValid())
    return icon.center().y() <= screen.center().y() ? icon.bottomLeft() + QPoint(0, 1)
                                                    : icon.topLeft();
  if (pointer.y() < available.top())
    return {pointer.x(), available.top()};
  if (pointer.y() > available.bottom())
    return {pointer.x(), available.bottom() + 1};
  if (pointer.x() < available.left())
    return {available.left(), pointer.y()};
  if (pointer.x() > available.right())
    return {available.right() + 1, pointer.y()};
  return pointer;
}

QRect keepWithin(const QRect& menu, const QRect& available) {
  if (!available.isValid())
    return menu;
  QRect placed = menu;
  if (menu.width() <= available.width())
    placed.moveLeft(
        std::clamp(menu.left(), available.left(), available.right() + 1 - menu.width()));
  if (menu.height() <= available.height())
    placed.moveTop(std::clamp(menu.top(), available.top(), available.bottom() + 1 - menu.height()));
  return placed;
}

}  // namespace morvane::MenuPlacement
