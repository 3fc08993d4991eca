#include "work_area.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace morvane::WorkArea {
namespace {

template <class Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
  Owned<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, uint16_t(std::strlen(name)), name), nullptr),
      &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

/// The cardinals of `property` on `window`; empty when it has none.
std::vector<uint32_t> cardinals(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property) {
  Owned<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(x, xcb_get_property(x, 0, window, property, XCB_ATOM_CARDINAL, 0, 12),
                             nullptr),
      &std::free);
  if (!reply || reply->format != 32)
    return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

/// The struts the mapped top-level windows declare, in root coordinates.
std::vector<Strut> declaredStruts(xcb_connection_t* x, xcb_window_t root, int rootWidth,
                                  int rootHeight) {
  const xcb_atom_t partial = atom(x, "_NET_WM_STRUT_PARTIAL");
  const xcb_atom_t whole = atom(x, "_NET_WM_STRUT");
  Owned<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr),
                                     &std::free);
  std::vector<Strut> struts;
  if (!tree)
    return struts;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, children[i]), nullptr),
        &std::free);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
      continue;
    std::vector<uint32_t> values = cardinals(x, children[i], partial);
    if (values.size() < 12) {
      values = cardinals(x, children[i], whole);
      if (values.size() < 4)
        continue;
      // Without a stretch, a strut covers its whole edge.
      values.resize(4);
      values.insert(values.end(), {0, uint32_t(rootHeight - 1), 0, uint32_t(rootHeight - 1), 0,
                                   uint32_t(rootWidth - 1), 0, uint32_t(rootWidth - 1)});
    }
    const Strut::Edge edges[] = {Strut::left, Strut::right, Strut::top, Strut::bottom};
    for (int edge = 0; edge < 4; ++edge)
      if (values[edge] > 0)
        struts.push_back(
            {edges[edge], int(values[edge]), int(values[4 + 2 * edge]), int(values[5 + 2 * edge])});
  }
  return struts;
}

}  // namespace

QRect within(const QRect& screen, const QSize& display, const std::vector<Strut>& struts) {
  QRect free = screen;
  for (const Strut& strut : struts) {
    const bool horizontal = strut.edge == Strut::top || strut.edge == Strut::bottom;
    const int from = horizontal ? screen.left() : screen.top();
    const int to = horizontal ? screen.right() : screen.bottom();
    if (strut.end < from || strut.start > to)
      continue;
    switch (strut.edge) {
      case Strut::left:
        free.setLeft(std::max(free.left(), strut.thickness));
        break;
      case Strut::right:
        free.setRight(std::min(free.right(), display.width() - 1 - strut.thickness));
        break;
      case Strut::top:
        free.setTop(std::max(free.top(), strut.thickness));
        break;
      case Strut::bottom:
        free.setBottom(std::min(free.bottom(), display.height() - 1 - strut.thickness));
        break;
    }
  }
  return free;
}

QRect of(const QScreen& screen) {
  const QRect available = screen.availableGeometry();
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (available != screen.geometry() || x11 == nullptr || x11->connection() == nullptr)
    return available;
  xcb_connection_t* x = x11->connection();
  const xcb_screen_t* root = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  if (root == nullptr)
    return available;
  return within(screen.geometry(), QSize(root->width_in_pixels, root->height_in_pixels),
                declaredStruts(x, root->root, root->width_in_pixels, root->height_in_pixels));
}

}  // namespace morvane::WorkArea
