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

void AppDelegate::addFilteredRow(const Agent& agent) {
  filterRows_.push_back({agent.label, {}, {}});
}

void AppDelegate::applyFilter() {
  AgentList* list = agentList();
  if (list == nullptr)
    return;
  const std::string query = searchKey(filter);
  std::vector<size_t> shown;
  shown.reserve(filterRows_.size());
  for (size_t index = 0; index < filterRows_.size(); ++index) {
    FilterRow& row = filterRows_[index];
    if (!query.empty() && row.labelKey.empty()) {
      // Keyed on first use: a menu that is never filtered never pays for it.
      row.labelKey = searchKey(row.label);
      row.nameKey = searchKey(displayName(row.label));
    }
    if (query.empty() || row.labelKey.find(query) != std::string::npos ||
        row.nameKey.find(query) != std::string::npos)
      shown.push_back(index);
  }
  const bool any = !shown.empty();
  if (list->shown() != shown)
    list->setShown(std::move(shown));
  // No rows: the no-match line instead of the list.
  if (agentRows_->isVisible() != any)
    agentRows_->setVisible(any);
  if (noMatch_ && noMatch_->isVisible() == any)
    noMatch_->setVisible(!any);
}

}  // namespace morvane
