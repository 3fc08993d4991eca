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
    /// The detail tells of a failure and is drawn in the warning colour.
    bool detailWarns = false;
    bool isOn = false;
    bool enabled = true;
    std::function<void(bool)> onToggle;
    QString toolTip;
    /// Opens the row's actions at a screen position, telling whether the keyboard asked;
    /// absent for a row without actions.
    std::function<void(const QPoint&, bool)> onActions;
  };

  SwitchRowItem(Content content, QObject* parent);

  /// The row the menu shows for this item; null before the item is in a menu.
  SwitchRow* row() const { return row_; }

  /// Opens the row's actions beside it, as for a submenu; false when it has none.
  bool openActions() const;

 protected:
  QWidget* createWidget(QWidget* parent) override;
  /// Keeps the row's widget out of the item's enabled state: the row keeps its own (a frozen
  /// row still opens its actions), and a filter that hides and shows a thousand items at once
  /// would otherwise pay for re-enabling each row.
  bool event(QEvent* event) override;

 private:
  Content content_;
  QPointer<SwitchRow> row_;
};

}  // namespace morvane
