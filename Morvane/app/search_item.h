#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidgetAction>
#include <functional>

namespace morvane {

/// The search field that heads the agent rows of a long menu. The menu has the item build its
/// field, parented to the menu, as for a switch row.
class SearchItem : public QWidgetAction {
 public:
  /// `text` is what the field starts with; `onEdit` hears every change the user makes.
  SearchItem(QString text, QString placeholder, std::function<void(const QString&)> onEdit,
             QObject* parent);

  /// The field the menu shows for this item; null before the item is in a menu.
  QLineEdit* field() const { return field_; }

 protected:
  QWidget* createWidget(QWidget* parent) override;

 private:
  QString text_;
  QString placeholder_;
  std::function<void(const QString&)> onEdit_;
  QPointer<QLineEdit> field_;
};

}  // namespace morvane
