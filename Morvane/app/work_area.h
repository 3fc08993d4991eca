#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QScreen;

namespace morvane::WorkArea {

/// Space a panel keeps for itself along one edge of the screen, as it declares it to the window
/// manager (_NET_WM_STRUT_PARTIAL, or _NET_WM_STRUT with the whole edge): the thickness from that
/// edge, and the stretch of the edge it covers.
struct Strut {
  enum Edge { left, right, top, bottom } edge;
  int thickness;
  int start;
  int end;
};

/// `screen` without the strips panels keep, each strut (its thickness measured from the edge of
/// the whole display, `display` in size) applied where its stretch meets the screen: what a
/// window manager offers windows as the work area.
QRect within(const QRect& screen, const QSize& display, const std::vector<Strut>& struts);

/// The part of `screen` that panels leave free. The desktop says so through its window manager;
/// where none says (a panel on a display without a window manager), the panels' own struts tell.
QRect of(const QScreen& screen);

}  // namespace morvane::WorkArea
