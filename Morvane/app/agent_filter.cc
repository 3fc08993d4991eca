// The filter of a long menu: a search field above the agent rows narrows them to those whose
// label or friendly name holds the typed text.

#include "app_delegate.h"
#include "language.h"
#include "search_item.h"
#include "unicode_text.h"

namespace morvane {

void AppDelegate::setFilter(const std::string& text) {
  if (text == filter)
    return;
  filter = text;
  if (searchField_ && searchField_->text().toStdString() != text)
    searchField_->setText(QString::fromStdString(text));
  // The open menu keeps the width it had, rather than jumping with every letter.
  if (menu.isVisible())
    menu.setMinimumWidth(std::max(menu.minimumWidth(), menu.width()));
  changeOpenMenu([this] { applyFilter(); });
}

QAction* AppDelegate::searchItem() {
  QPointer<AppDelegate> self(this);
  return new SearchItem(
      QString::fromStdString(filter), QString::fromStdString(L("筛选启动项", "Filter agents")),
      [self](const QString& text) {
        if (self)
          self->setFilter(text.toStdString());
      },
      &menu);
}

void AppDelegate::addFilteredRow(SwitchRowItem* item, const Agent& agent) {
  filterRows_.push_back({item, agent.label, displayName(agent.label), {}, {}});
}

void AppDelegate::applyFilter() {
  const std::string query = searchKey(filter);
  bool any = false;
  for (FilterRow& row : filterRows_) {
    if (!row.item)
      continue;
    if (!query.empty() && row.labelKey.empty()) {
      // Keyed on first use: a menu that is never filtered never pays for it.
      row.labelKey = searchKey(row.label);
      row.nameKey = searchKey(row.name);
    }
    const bool match = query.empty() || row.labelKey.find(query) != std::string::npos ||
                       row.nameKey.find(query) != std::string::npos;
    if (row.item->isVisible() != match) {
      row.item->setVisible(match);
      // The menu places only the rows it shows, and leaves the others where they were: a row
      // filtered out is shrunk to nothing rather than hidden, since every widget shown again
      // would make the toolkit look through all the menu's widgets for the one under the
      // pointer. The menu gives a row that comes back its place again.
      if (row.item->row() && !match)
        row.item->row()->setGeometry(QRect());
    }
    any = any || match;
  }
  if (noMatch_)
    noMatch_->setVisible(!any);
}

}  // namespace morvane
