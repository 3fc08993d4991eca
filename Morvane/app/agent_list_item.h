#pragma once

#include <QPointer>
#include <QWidgetAction>

#include "agent_list.h"

namespace morvane {

/// The menu item that holds the agents' rows, shown as one AgentList. The menu has the item
/// build its list, parented to the menu, as for a switch row.
class AgentListItem : public QWidgetAction {
 public:
  AgentListItem(size_t count, AgentList::Handlers handlers, int heightLimit, QObject* parent);

  /// The list the menu shows for this item; null before the item is in a menu.
  AgentList* list() const { return list_; }

  /// Tells the menu that the list's height changed, so that it lays its items out again.
  void heightChanged();

 protected:
  QWidget* createWidget(QWidget* parent) override;

 private:
  size_t count_;
  AgentList::Handlers handlers_;
  int heightLimit_;
  QPointer<AgentList> list_;
};

}  // namespace morvane
