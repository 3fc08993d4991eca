#include "switch_row_item.h"

namespace morvane {

SwitchRowItem::SwitchRowItem(Content content, QObject* parent)
    : QWidgetAction(parent), content_(std::move(content)) {}

QWidget* SwitchRowItem::createWidget(QWidget* parent) {
  auto* row = new SwitchRow(content_.title, content_.detail, content_.isOn, content_.enabled,
                            content_.onToggle, parent);
  row->setToolTip(content_.toolTip);
  row_ = row;
  return row;
}

}  // namespace morvane
