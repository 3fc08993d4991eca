#include "action_item.h"

namespace morvane {

ActionItem::ActionItem(const QString& title, Handler handler, bool marked, QObject* parent)
    : QAction(title, parent), handler_(std::move(handler)) {
  setCheckable(marked);
  setChecked(marked);
  setEnabled(hasHandler());
  if (hasHandler())
    connect(this, &QAction::triggered, this, &ActionItem::fire);
}

void ActionItem::fire() {
  if (handler_)
    handler_();
}

}  // namespace morvane
