#pragma once

#include <QScrollBar>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "switch_row.h"

namespace morvane {

/// The agents' rows of the menu: a scrolling view over the rows' contents that makes only the
/// rows it can show, each a SwitchRow filled again with another agent as the view scrolls. So
/// opening a menu of ten thousand agents makes as many row widgets as fit on the screen, and
/// narrowing the rows only changes which contents are shown. The contents themselves are asked
/// for as rows come into view (and once each, to measure the widest), never kept.
///
/// The view is never taller than its height limit, in whole rows; a scroll bar beside the rows
/// shows where they are when not all fit. The wheel scrolls, the pointer chooses the row under
/// it, and the keys move the choice (see moveChoice()).
class AgentList : public QWidget {
 public:
  /// What one agent's row shows.
  struct Row {
    QString title;
    std::optional<QString> detail;
    /// The detail tells of a failure and is drawn in the warning colour.
    bool detailWarns = false;
    bool isOn = false;
    bool enabled = true;
  };

  /// What the rows ask for, each by its index among the contents.
  struct Handlers {
    /// The row's content, asked for whenever the row is shown.
    std::function<Row(size_t index)> content;
    /// The switch was flipped to `on`.
    std::function<void(size_t index, bool on)> toggle;
    /// The row's actions are asked for at a screen position, telling whether by the keyboard.
    std::function<void(size_t index, const QPoint& at, bool byKeyboard)> actions;
    /// The row's tooltip, asked for when the row is shown.
    std::function<QString(size_t index)> toolTip;
  };

  static constexpr int kRowHeight = SwitchRow::kHeight;

  /// `count` rows, their contents given by `handlers.content`; `heightLimit` as for
  /// setHeightLimit().
  AgentList(size_t count, Handlers handlers, int heightLimit = 0, QWidget* parent = nullptr);

  size_t rowCount() const { return count_; }
  /// The content of the row at `index`, as it is now.
  Row row(size_t index) const;

  /// The indices of the rows to show, in order (all of them at first). The view scrolls back to
  /// the top and nothing is chosen.
  void setShown(std::vector<size_t> shown);
  const std::vector<size_t>& shown() const { return shown_; }

  /// The most the view may be high, in pixels; 0 for no limit. At least one row is shown.
  void setHeightLimit(int pixels);
  /// How many rows the view shows at once.
  size_t visibleCount() const;

  /// The position, among the shown rows, of the one at the top of the view.
  size_t top() const { return top_; }
  /// Scrolls so that the shown row at `position` is at the top, or as near as the end allows.
  void scrollTo(size_t position);

  /// The position, among the shown rows, of the chosen row; absent when none is.
  std::optional<size_t> chosen() const { return chosen_; }
  /// Whether the keys made the choice, rather than the pointer.
  bool chosenByKeys() const { return chosen_ && chosenByKeys_; }
  /// Chooses the shown row at `position`, scrolling it into view, or none.
  void choose(std::optional<size_t> position);
  /// Moves the choice as the key says: Up and Down by a row, Page Up and Page Down by a view,
  /// Home and End to the first and the last row. Without a choice, Up and End choose the last
  /// row and the others the first. False when the key is none of those or the choice is at the
  /// end the key moves to (Up on the first row, Down on the last).
  bool moveChoice(int key);
  /// Flips the chosen row's switch, as a click does; false when there is no chosen row or it
  /// does not react.
  bool flipChosen();
  /// Opens the chosen row's actions beside it; false when there is no chosen row.
  bool openChosenActions();

  /// The row widgets the view shows now, top to bottom.
  std::vector<SwitchRow*> visibleRows() const;
  /// The row widget showing the row at `index` among the contents, scrolling it into view;
  /// null when that row is not shown.
  SwitchRow* rowWidget(size_t index);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// Whether the scroll bar is needed: more rows are shown than fit.
  bool scrolls() const;
  /// The widest row's width, measured on first use.
  int rowsWidth() const;
  /// Fills the row widgets with the rows from `top_` on, and places them and the scroll bar.
  void fill();
  /// Draws the chosen row highlighted, and no other.
  void showChoice();

  size_t count_;
  Handlers handlers_;
  std::vector<size_t> shown_;
  int heightLimit_ = 0;
  size_t top_ = 0;
  std::optional<size_t> chosen_;
  bool chosenByKeys_ = false;
  mutable std::optional<int> rowsWidth_;
  /// The row widgets, made as they are first needed; `pool_[i]` shows the row at `top_ + i`.
  std::vector<SwitchRow*> pool_;
  QScrollBar* scrollBar_;
};

}  // namespace morvane
