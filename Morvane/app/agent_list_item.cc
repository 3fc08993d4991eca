#include "agent_list_item.h"

namespace morvane {

AgentListItem::AgentListItem(size_t count, AgentList::Handlers handlers, int heightLimit,
                             QObject* parent)
    : QWidgetAction(parent),
      count_(count),
      handlers_(std::move(handlers)),
      heightLimit_(heightLimit) {}

QWidget* AgentListItem::createWidget(QWidget* parent) {
  auto* list = new AgentList(count_, handlers_, heightLimit_, parent);
  list_ = list;
  return list;
}

void AgentListItem::heightChanged() {
  // A menu measures its items again only when one of them changes.
  setData(list_ ? list_->sizeHint().height() : 0);
}

}  // namespace morvane
