#include "switch_row_item.h"

#include <QEvent>

namespace morvane {

SwitchRowItem::SwitchRowItem(Content content, QObject* parent)
    : QWidgetAction(parent), content_(std::move(content)) {}

QWidget* SwitchRowItem::createWidget(QWidget* parent) {
  auto* row = new SwitchRow(content_.title, content_.detail, content_.isOn, content_.enabled,
                            content_.onToggle, parent);
  if (content_.detailWarns)
    row->showDetailAsWarning();
  row->setToolTip(content_.toolTip);
  row->setOnActions(content_.onActions);
  row_ = row;
  return row;
}

bool SwitchRowItem::event(QEvent* event) {
  if (event->type() == QEvent::ActionChanged)
    return QAction::event(event);  // not QWidgetAction's, which passes the enabled state on
  return QWidgetAction::event(event);
}

bool SwitchRowItem::openActions() const {
  if (!content_.onActions || !row_)
    return false;
  content_.onActions(row_->mapToGlobal(QPoint(row_->width(), 0)), true);
  return true;
}

}  // namespace morvane
