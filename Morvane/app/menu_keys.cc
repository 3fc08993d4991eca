// The open menu from the keyboard: the search field keeps the keyboard for typing, the arrow
// keys (and Page Up, Page Down, Home and End) choose an agent's row, also from the search field,
// Return or Space flips its switch, the Right arrow (or the menu key) opens its actions, and
// Escape first empties the filter, then closes the menu.

#include <QKeyEvent>

#include "app_delegate.h"

namespace morvane {

void AppDelegate::highlightRow(QAction* chosen) {
  if (highlighted_ && highlighted_->row())
    highlighted_->row()->setHighlighted(false);
  highlighted_ = dynamic_cast<SwitchRowItem*>(chosen);
  if (highlighted_ && highlighted_->row())
    highlighted_->row()->setHighlighted(true);

  AgentList* list = agentList();
  if (list != nullptr && chosen != agentRows_) {
    list->choose(std::nullopt);
  } else if (list != nullptr && !list->chosen() && !list->shown().empty()) {
    // Reached with the arrow keys: from above, the first row; from below, the last. The pointer
    // chooses the row it is over itself.
    const QList<QAction*> items = menu.actions();
    const bool fromBelow =
        previousChoice_ && items.indexOf(previousChoice_.data()) > items.indexOf(agentRows_.data());
    if (!list->underMouse())
      list->choose(fromBelow ? list->shown().size() - 1 : 0);
  }
  previousChoice_ = chosen;
}

bool AppDelegate::agentRowsKey(const QKeyEvent& key, bool fromFilter) {
  AgentList* list = agentList();
  if (list == nullptr || !agentRows_->isVisible())
    return false;
  switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      // At the first or last row the menu's own items come next, unless the filter has the
      // keyboard: it stays on the rows.
      if (!list->moveChoice(key.key()))
        return fromFilter;
      if (menu.activeAction() != agentRows_) {
        previousChoice_ = agentRows_.data();
        if (highlighted_ && highlighted_->row())
          highlighted_->row()->setHighlighted(false);
        highlighted_ = nullptr;
      }
      return true;
    case Qt::Key_Space:
      // Typed into the filter until the keys choose a row.
      if (fromFilter && !list->chosenByKeys())
        return false;
      [[fallthrough]];
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!list->chosen())
        return false;
      list->flipChosen();  // as a click does: the menu stays open
      return true;
    case Qt::Key_Right:
    case Qt::Key_Menu:
      return list->openChosenActions();
    case Qt::Key_F10:
      return (key.modifiers() & Qt::ShiftModifier) && list->openChosenActions();
    default:
      return false;
  }
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
  const bool fromFilter = watched == searchField_;
  if ((fromFilter || menu.activeAction() == agentRows_) && agentRowsKey(*key, fromFilter))
    return true;
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
