#include "schedule_window.h"

#include <QVBoxLayout>

#include "language.h"
#include "new_agent.h"

namespace morvane {

ScheduleWindow::ScheduleWindow(const std::string& name, const Schedule& current, Save save,
                               QWidget* parent)
    : QDialog(parent),
      fields(new ScheduleFields(this)),
      beyondForm(new QLabel(this)),
      save_(std::move(save)),
      buttons_(new QDialogButtonBox(this)) {
  setWindowTitle(QString::fromStdString(
      L([&] { return "「" + name + "」的计划"; }, [&] { return "Schedule of " + name; })));
  setAttribute(Qt::WA_DeleteOnClose);
  beyondForm->setWordWrap(true);
  beyondForm->setText(QString::fromStdString(
      L("文件中的计划超出了这个表单能表示的范围，保存会替换它。",
        "The file's schedule holds more than this form shows; saving replaces it.")));
  beyondForm->setVisible(!fields->show(current));

  auto* column = new QVBoxLayout(this);
  column->addWidget(fields);
  column->addWidget(beyondForm);
  buttons_->addButton(QString::fromStdString(L("取消", "Cancel")), QDialogButtonBox::RejectRole);
  buttons_->addButton(QString::fromStdString(L("保存", "Save")), QDialogButtonBox::AcceptRole)
      ->setDefault(true);
  column->addWidget(buttons_);
  setMinimumWidth(460);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
    std::expected<TimedStart, std::string> chosen = start();
    if (!chosen)
      return;
    save_(*chosen);
    accept();
  });
  fields->changed = [this] { check(); };
  check();
}

std::expected<TimedStart, std::string> ScheduleWindow::start() const {
  TimedStart chosen;
  if (fields->runEvery->isChecked()) {
    auto seconds = NewAgents::interval(fields->minutes->text().trimmed().toStdString(), 60);
    if (!seconds)
      return std::unexpected(seconds.error().text);
    chosen.interval = *seconds;
  }
  if (fields->runAt->isChecked()) {
    auto entries = fields->calendar();
    if (!entries)
      return std::unexpected(entries.error());
    chosen.calendar = std::move(*entries);
  }
  return chosen;
}

void ScheduleWindow::check() {
  const std::expected<TimedStart, std::string> chosen = start();
  saveButton()->setEnabled(chosen.has_value());
  // The interval's problem; the calendar's shows in the fields' own line.
  if (!chosen && fields->runEvery->isChecked()) {
    fields->preview->setText(QString::fromStdString(chosen.error()));
    fields->preview->show();
  }
  layout()->activate();
  resize(width(), layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                : sizeHint().height());
}

QPushButton* ScheduleWindow::saveButton() const {
  for (QAbstractButton* button : buttons_->buttons()) {
    if (buttons_->buttonRole(button) == QDialogButtonBox::AcceptRole)
      return static_cast<QPushButton*>(button);
  }
  return nullptr;
}

}  // namespace morvane
