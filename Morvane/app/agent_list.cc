#include "agent_list.h"

#include <QEvent>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <numeric>

#include "widest_row.h"

namespace morvane {

AgentList::AgentList(size_t count, Handlers handlers, int heightLimit, QWidget* parent)
    : QWidget(parent),
      count_(count),
      handlers_(std::move(handlers)),
      heightLimit_(std::max(0, heightLimit)),
      scrollBar_(new QScrollBar(Qt::Vertical, this)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  scrollBar_->hide();
  scrollBar_->setSingleStep(1);
  connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
    if (static_cast<size_t>(value) != top_) {
      top_ = static_cast<size_t>(value);
      fill();
    }
  });
  shown_.resize(count_);
  std::iota(shown_.begin(), shown_.end(), size_t(0));
  resize(sizeHint());
  fill();
}

void AgentList::setShown(std::vector<size_t> shown) {
  shown_ = std::move(shown);
  top_ = 0;
  chosen_.reset();
  updateGeometry();
  resize(width(), sizeHint().height());
  fill();
}

void AgentList::setHeightLimit(int pixels) {
  heightLimit_ = std::max(0, pixels);
  updateGeometry();
  resize(width(), sizeHint().height());
  scrollTo(top_);
}

size_t AgentList::visibleCount() const {
  if (heightLimit_ <= 0)
    return shown_.size();
  return std::min(shown_.size(), std::max(size_t(1), size_t(heightLimit_ / kRowHeight)));
}

bool AgentList::scrolls() const {
  return visibleCount() < shown_.size();
}

AgentList::Row AgentList::row(size_t index) const {
  return handlers_.content ? handlers_.content(index) : Row();
}

int AgentList::rowsWidth() const {
  if (!rowsWidth_) {
    WidestRow widest;
    for (size_t index = 0; index < count_; ++index) {
      const Row content = row(index);
      widest.add(index, content.title, content.detail);
    }
    rowsWidth_ = widest.width([this](size_t index) {
      Row content = row(index);
      return WidestRow::Texts{std::move(content.title), std::move(content.detail)};
    });
  }
  return *rowsWidth_;
}

QSize AgentList::sizeHint() const {
  // As wide as the widest of all the rows, shown or not: the menu keeps its width while the
  // filter narrows the rows.
  const int bar = scrolls() ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
  return {rowsWidth() + bar, static_cast<int>(visibleCount()) * kRowHeight};
}

void AgentList::scrollTo(size_t position) {
  const size_t last = shown_.size() - std::min(shown_.size(), visibleCount());
  top_ = std::min(position, last);
  fill();
}

void AgentList::choose(std::optional<size_t> position) {
  if (position && *position >= shown_.size())
    position.reset();
  chosen_ = position;
  if (chosen_ && *chosen_ < top_)
    scrollTo(*chosen_);
  else if (chosen_ && *chosen_ >= top_ + visibleCount())
    scrollTo(*chosen_ + 1 - visibleCount());
  else
    showChoice();
}

void AgentList::showChoice() {
  for (size_t slot = 0; slot < pool_.size(); ++slot)
    pool_[slot]->setHighlighted(chosen_ == top_ + slot);
}

bool AgentList::moveChoice(int key) {
  if (shown_.empty())
    return false;
  chosenByKeys_ = true;
  const size_t last = shown_.size() - 1;
  const size_t page = std::max(size_t(1), visibleCount());
  if (!chosen_) {
    choose(key == Qt::Key_Up || key == Qt::Key_End ? last : 0);
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
           key == Qt::Key_PageDown || key == Qt::Key_Home || key == Qt::Key_End;
  }
  const size_t at = *chosen_;
  size_t to = at;
  switch (key) {
    case Qt::Key_Up:
      if (at == 0)
        return false;
      to = at - 1;
      break;
    case Qt::Key_Down:
      if (at == last)
        return false;
      to = at + 1;
      break;
    case Qt::Key_PageUp:
      to = at > page ? at - page : 0;
      break;
    case Qt::Key_PageDown:
      to = std::min(last, at + page);
      break;
    case Qt::Key_Home:
      to = 0;
      break;
    case Qt::Key_End:
      to = last;
      break;
    default:
      return false;
  }
  choose(to);
  return true;
}

bool AgentList::flipChosen() {
  if (!chosen_)
    return false;
  SwitchRow* row = rowWidget(shown_[*chosen_]);
  return row != nullptr && row->flip();
}

bool AgentList::openChosenActions() {
  if (!chosen_ || !handlers_.actions)
    return false;
  const size_t index = shown_[*chosen_];
  SwitchRow* row = rowWidget(index);
  if (row == nullptr)
    return false;
  handlers_.actions(index, row->mapToGlobal(QPoint(row->width(), 0)), true);
  return true;
}

std::vector<SwitchRow*> AgentList::visibleRows() const {
  std::vector<SwitchRow*> shown;
  for (SwitchRow* row : pool_)
    if (!row->isHidden())
      shown.push_back(row);
  return shown;
}

SwitchRow* AgentList::rowWidget(size_t index) {
  const auto found = std::find(shown_.begin(), shown_.end(), index);
  if (found == shown_.end())
    return nullptr;
  const size_t position = static_cast<size_t>(found - shown_.begin());
  if (position < top_ || position >= top_ + visibleCount())
    scrollTo(position);
  const size_t slot = position - top_;
  return slot < pool_.size() ? pool_[slot] : nullptr;
}

void AgentList::resizeEvent(QResizeEvent*) {
  fill();
}

void AgentList::wheelEvent(QWheelEvent* event) {
  // Three rows a notch, as a list does; a touchpad's finer steps add up to whole rows.
  const int rows = event->angleDelta().y() * 3 / 120;
  if (rows != 0 && scrolls())
    scrollTo(rows > 0 ? top_ - std::min(top_, size_t(rows)) : top_ + size_t(-rows));
  event->accept();
}

bool AgentList::eventFilter(QObject* watched, QEvent* event) {
  // The pointer chooses the row it moves over; a row that comes under a pointer at rest, as the
  // rows scroll or are made again, is not chosen.
  if (event->type() == QEvent::MouseMove) {
    const auto slot = std::find(pool_.begin(), pool_.end(), watched);
    if (slot != pool_.end() && top_ + size_t(slot - pool_.begin()) != chosen_) {
      chosen_ = top_ + size_t(slot - pool_.begin());
      chosenByKeys_ = false;
      showChoice();
    }
  }
  return false;
}

void AgentList::fill() {
  const size_t count = std::min(visibleCount(), shown_.size() - std::min(shown_.size(), top_));
  const bool bar = scrolls();
  const int barWidth = bar ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
  const int rowWidth = std::max(0, width() - barWidth);
  while (pool_.size() < count) {
    auto* row = new SwitchRow(QString(), std::nullopt, false, true, {}, this);
    // Given its width before its texts, which are then laid out once, for that width.
    row->resize(rowWidth, kRowHeight);
    row->setMouseTracking(true);
    row->installEventFilter(this);
    pool_.push_back(row);
  }
  for (size_t slot = 0; slot < pool_.size(); ++slot) {
    SwitchRow* widget = pool_[slot];
    if (slot >= count) {
      widget->hide();
      continue;
    }
    const size_t index = shown_[top_ + slot];
    const Row content = row(index);
    widget->setContent(content.title, content.detail, content.isOn, content.enabled,
                       [this, index](bool on) {
                         if (handlers_.toggle)
                           handlers_.toggle(index, on);
                       });
    if (content.detailWarns)
      widget->showDetailAsWarning();
    widget->setOnActions([this, index](const QPoint& at, bool byKeyboard) {
      if (handlers_.actions)
        handlers_.actions(index, at, byKeyboard);
    });
    widget->setToolTip(handlers_.toolTip ? handlers_.toolTip(index) : QString());
    widget->setGeometry(0, static_cast<int>(slot) * kRowHeight, rowWidth, kRowHeight);
    widget->show();
  }
  showChoice();
  scrollBar_->setVisible(bar);
  if (bar) {
    const QSignalBlocker quiet(scrollBar_);
    scrollBar_->setRange(0, static_cast<int>(shown_.size() - visibleCount()));
    scrollBar_->setPageStep(static_cast<int>(visibleCount()));
    scrollBar_->setValue(static_cast<int>(top_));
    scrollBar_->setGeometry(width() - barWidth, 0, barWidth, height());
  }
}

}  // namespace morvane
