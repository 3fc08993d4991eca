#pragma once

#include <QPointer>
#include <QWidgetAction>
#include <functional>
#include <optional>

#include "switch_row.h"

namespace morvane {

/// A menu item shown as a SwitchRow. The menu has the item build its row, parented to the menu
/// from the start, and the row goes (later, never while its own click is handled) when the item
/// leaves the menu: no widget moves between windows, which would cost a walk over every widget
/// of the menu each time.
class SwitchRowItem : public QWidgetAction {
 public:
  struct Content {
    QString title;
    std::optional<QString> detail;
    bool isOn = false;
    bool enabled = true;
    std::function<void(bool)> onToggle;
    QString toolTip;
  };

  SwitchRowItem(Content content, QObject* parent);

  /// The row the menu shows for this item; null before the item is in a menu.
  SwitchRow* row() const { return row_; }

 protected:
  QWidget* createWidget(QWidget* parent) override;

 private:
  Content content_;
  QPointer<SwitchRow> row_;
};

}  // namespace morvane
