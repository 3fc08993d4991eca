#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <expected>
#include <functional>
#include <string>

#include "agent.h"
#include "schedule.h"
#include "schedule_fields.h"
#include "timed_start.h"

namespace morvane {

/// The window that changes an existing agent's schedule: the new-agent window's schedule
/// fields, filled in from its property list. Save is offered only when the fields make a
/// schedule.
class ScheduleWindow : public QDialog {
 public:
  /// Called with the new timed start; the window then closes.
  using Save = std::function<void(const TimedStart& start)>;

  ScheduleWindow(const std::string& name, const Schedule& current, Save save,
                 QWidget* parent = nullptr);

  ScheduleFields* const fields;
  /// Says so when the file's schedule is more than the fields hold.
  QLabel* const beyondForm;
  QPushButton* saveButton() const;

  /// The timed start the fields ask for; why not when they make none.
  std::expected<TimedStart, std::string> start() const;

 private:
  void check();

  Save save_;
  QDialogButtonBox* buttons_;
};

}  // namespace morvane
