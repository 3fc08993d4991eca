// The open menu from the keyboard: the search field keeps the keyboard for typing, the arrow
// keys choose a row, Return flips its switch, the Right arrow (or the menu key) opens its
// actions, and Escape first empties the filter, then closes the menu.

#include <QKeyEvent>

#include "app_delegate.h"

namespace morvane {

void AppDelegate::highlightRow(QAction* chosen) {
  if (highlighted_ && highlighted_->row())
    highlighted_->row()->setHighlighted(false);
  highlighted_ = dynamic_cast<SwitchRowItem*>(chosen);
  if (highlighted_ && highlighted_->row())
    highlighted_->row()->setHighlighted(true);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress)
    return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == actions_ && key->key() == Qt::Key_Left) {
    actions_->hide();  // back to the rows, as from a submenu
    return true;
  }
  if (watched != &menu && watched != searchField_)
    return false;
  if (key->key() == Qt::Key_Escape && !filter.empty()) {
    setFilter("");  // only an empty filter lets Escape close the menu
    return true;
  }
  auto* row = dynamic_cast<SwitchRowItem*>(menu.activeAction());
  if (row == nullptr || row->row() == nullptr)
    return false;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      row->row()->flip();  // as a click does: the menu stays open
      return true;
    case Qt::Key_Right:
    case Qt::Key_Menu:
      return row->openActions();
    case Qt::Key_F10:
      return (key->modifiers() & Qt::ShiftModifier) && row->openActions();
    default:
      return false;
  }
}

}  // namespace morvane
