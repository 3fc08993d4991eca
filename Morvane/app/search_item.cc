#include "search_item.h"

#include <QHBoxLayout>

#include "switch_row.h"

namespace morvane {

SearchItem::SearchItem(QString text, QString placeholder,
                       std::function<void(const QString&)> onEdit, QObject* parent)
    : QWidgetAction(parent),
      text_(std::move(text)),
      placeholder_(std::move(placeholder)),
      onEdit_(std::move(onEdit)) {}

QWidget* SearchItem::createWidget(QWidget* parent) {
  // Inset like the rows' titles, so the field lines up with them.
  auto* box = new QWidget(parent);
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(SwitchRow::kLeading - 4, 4, SwitchRow::kTrailing, 4);
  auto* field = new QLineEdit(text_, box);
  field->setPlaceholderText(placeholder_);
  field->setClearButtonEnabled(true);
  layout->addWidget(field);
  box->setFocusProxy(field);
  QObject::connect(field, &QLineEdit::textChanged, field,
                   [onEdit = onEdit_](const QString& text) { onEdit(text); });
  field_ = field;
  return box;
}

}  // namespace morvane
