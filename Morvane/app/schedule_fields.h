#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <ctime>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "schedule.h"
#include "timed_start.h"

namespace morvane {

/// When a job starts by the clock, as a form: "Run every N minutes", or "Run at HH:MM" every
/// day, on weekdays, on chosen weekdays or on a day of the month. A line under it shows the next
/// three starts as the fields change, or why the times are no schedule.
class ScheduleFields : public QWidget {
 public:
  explicit ScheduleFields(QWidget* parent = nullptr);

  /// Called whenever a field changes.
  std::function<void()> changed;

  QCheckBox* const runEvery;
  QLineEdit* const minutes;
  QCheckBox* const runAt;
  QLineEdit* const time;
  QRadioButton* const everyDay;
  QRadioButton* const weekdays;
  QRadioButton* const chosenDays;
  /// Sunday first, as the service manager counts.
  std::array<QCheckBox*, 7> days{};
  QRadioButton* const monthDay;
  QLineEdit* const dayOfMonth;
  /// The next starts, or what is wrong with the times.
  QLabel* const preview;

  /// The calendar the fields ask for; absent with the reason when they ask for none that can be.
  std::expected<std::vector<CalendarEntry>, std::string> calendar() const;

  /// Shows a schedule read from a file. False when the fields cannot hold it exactly (several
  /// times of day, months, an interval that is no whole number of minutes).
  bool show(const Schedule& schedule);

  /// Updates the preview; `now` is when the starts are counted from.
  void refresh(std::time_t now);

 private:
  void fieldsChanged();
};

}  // namespace morvane
