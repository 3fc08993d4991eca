#include "new_agent_window.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <algorithm>

#include "language.h"
#include "platform.h"
#include "switch_row.h"

namespace morvane {
namespace {

using NewAgents::Field;

QString text(const std::string& chosen) {
  return QString::fromStdString(chosen);
}

/// A path as typed, with a leading "~/" standing for the home folder.
std::string expandedPath(const QString& typed) {
  const std::string path = typed.trimmed().toStdString();
  if (path.starts_with("~/"))
    return (platform::homeDirectory() / path.substr(2)).string();
  return path;
}

}  // namespace

NewAgentWindow::NewAgentWindow(std::filesystem::path directory, TakenLabels taken, Save save,
                               QWidget* parent)
    : QDialog(parent),
      label(new QLineEdit(this)),
      program(new QLineEdit(this)),
      arguments(new QLineEdit(this)),
      runAtLoad(new QCheckBox(text(L("加载时运行", "Run at load")), this)),
      keepAlive(new QCheckBox(text(L("保持运行", "Keep alive")), this)),
      schedule(new ScheduleFields(this)),
      runEvery(schedule->runEvery),
      minutes(schedule->minutes),
      log(new QLineEdit(this)),
      loadNow(new QCheckBox(text(L("立即加载", "Load now")), this)),
      directory_(std::move(directory)),
      taken_(std::move(taken)),
      save_(std::move(save)),
      buttons_(new QDialogButtonBox(this)) {
  setWindowTitle(text(L("新建启动项", "New Agent")));
  setAttribute(Qt::WA_DeleteOnClose);
  label->setPlaceholderText(QStringLiteral("com.example.job"));
  arguments->setPlaceholderText(QStringLiteral("--verbose \"two words\""));
  log->setPlaceholderText(text(L("输出和错误（可不填）", "Output and errors (optional)")));
  runAtLoad->setChecked(true);
  loadNow->setChecked(true);

  auto* grid = new QGridLayout(this);
  int row = 0;
  auto addField = [&](const std::string& name, QWidget* field, Field which, QWidget* extra) {
    grid->addWidget(new QLabel(text(name), this), row, 0);
    grid->addWidget(field, row, 1, 1, extra != nullptr ? 1 : 2);
    if (extra != nullptr)
      grid->addWidget(extra, row, 2);
    grid->addWidget(messageLabel(which), ++row, 1, 1, 2);
    ++row;
  };
  std::vector<QWidget*> order;  // the keyboard goes through the fields top to bottom
  auto chooser = [&](QLineEdit* field, bool forLog) {
    auto* button = new QPushButton(text(L("选择…", "Choose…")), this);
    connect(button, &QPushButton::clicked, this, [this, field, forLog] { choose(field, forLog); });
    order.insert(std::next(std::find(order.begin(), order.end(), field)), button);
    return button;
  };
  order = {label,   program,         arguments,      runAtLoad, keepAlive, runEvery,
           minutes, schedule->runAt, schedule->time, log,       loadNow};
  addField(L("标签", "Label"), label, Field::label, nullptr);
  addField(L("程序", "Program"), program, Field::program, chooser(program, false));
  addField(L("参数", "Arguments"), arguments, Field::arguments, nullptr);
  grid->addWidget(runAtLoad, row++, 1, 1, 2);
  grid->addWidget(keepAlive, row++, 1, 1, 2);
  grid->addWidget(schedule, row++, 1, 1, 2);
  grid->addWidget(messageLabel(Field::interval), row++, 1, 1, 2);
  addField(L("日志文件", "Log file"), log, Field::log, chooser(log, true));
  grid->addWidget(loadNow, row++, 1, 1, 2);
  buttons_->addButton(text(L("取消", "Cancel")), QDialogButtonBox::RejectRole);
  buttons_->addButton(text(L("保存", "Save")), QDialogButtonBox::AcceptRole)->setDefault(true);
  grid->addWidget(buttons_, row, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  setMinimumWidth(460);
  for (size_t i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);

  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons_, &QDialogButtonBox::accepted, this, &NewAgentWindow::save);
  for (QLineEdit* field : {label, program, arguments, minutes, log}) {
    connect(field, &QLineEdit::textEdited, this, [field] { field->setProperty("touched", true); });
    connect(field, &QLineEdit::textChanged, this, &NewAgentWindow::check);
  }
  schedule->changed = [this] { check(); };
  check();
}

QLabel* NewAgentWindow::messageLabel(Field field) {
  auto* message = new QLabel(this);
  QPalette colors = message->palette();
  colors.setColor(QPalette::WindowText, SwitchRow::warningColor(palette()));
  message->setPalette(colors);
  message->setWordWrap(true);
  message->hide();
  messages_[field] = message;
  return message;
}

NewAgent NewAgentWindow::agent() const {
  NewAgent agent;
  agent.label = label->text().toStdString();
  agent.program =
      NewAgents::resolvedProgram(expandedPath(program->text()), platform::homeDirectory());
  agent.arguments =
      NewAgents::arguments(arguments->text().toStdString()).value_or(std::vector<std::string>{});
  agent.runAtLoad = runAtLoad->isChecked();
  agent.keepAlive = keepAlive->isChecked();
  if (runEvery->isChecked()) {
    if (auto seconds = NewAgents::interval(minutes->text().trimmed().toStdString(), 60))
      agent.startInterval = *seconds;
  }
  if (schedule->runAt->isChecked())
    agent.calendar = schedule->calendar().value_or(std::vector<CalendarEntry>{});
  if (!log->text().trimmed().isEmpty())
    agent.log = expandedPath(log->text());
  return agent;
}

std::vector<NewAgents::Problem> NewAgentWindow::problems() const {
  std::vector<NewAgents::Problem> found = NewAgents::problems(agent(), directory_, taken_());
  if (auto split = NewAgents::arguments(arguments->text().toStdString()); !split)
    found.push_back(split.error());
  if (runEvery->isChecked()) {
    if (auto seconds = NewAgents::interval(minutes->text().trimmed().toStdString(), 60); !seconds)
      found.push_back(seconds.error());
  }
  if (schedule->runAt->isChecked()) {
    if (auto entries = schedule->calendar(); !entries)
      found.push_back({Field::calendar, entries.error()});
  }
  return found;
}

void NewAgentWindow::check() {
  const std::vector<NewAgents::Problem> found = problems();
  const std::map<Field, QLineEdit*> fields = {{Field::label, label},
                                              {Field::program, program},
                                              {Field::arguments, arguments},
                                              {Field::interval, minutes},
                                              {Field::log, log}};
  for (const auto& [field, message] : messages_) {
    QLineEdit* input = fields.at(field);
    // A field not yet typed in is not blamed for being empty.
    const bool shown = input->property("touched").toBool() || !input->text().isEmpty();
    auto problem = std::find_if(found.begin(), found.end(),
                                [field](const NewAgents::Problem& p) { return p.field == field; });
    message->setText(problem != found.end() && shown ? text(problem->text) : QString());
    message->setVisible(!message->text().isEmpty());
  }
  saveButton()->setEnabled(found.empty());
  // The window is as tall as its fields and messages: it grows and shrinks with them.
  layout()->activate();
  const int wanted =
      layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : sizeHint().height();
  if (wanted != height())
    resize(width(), wanted);
}

QString NewAgentWindow::message(Field field) const {
  return messages_.at(field)->text();
}

QPushButton* NewAgentWindow::saveButton() const {
  for (QAbstractButton* button : buttons_->buttons()) {
    if (buttons_->buttonRole(button) == QDialogButtonBox::AcceptRole)
      return static_cast<QPushButton*>(button);
  }
  return nullptr;
}

void NewAgentWindow::choose(QLineEdit* field, bool forLog) {
  const QString start = field->text().isEmpty()
                            ? QString::fromStdString(platform::homeDirectory().string())
                            : field->text();
  const QString chosen =
      forLog
          ? QFileDialog::getSaveFileName(this, text(L("选择日志文件", "Choose a Log File")), start,
                                         QString(), nullptr, QFileDialog::DontConfirmOverwrite)
          : QFileDialog::getOpenFileName(this, text(L("选择程序", "Choose a Program")), start);
  if (!chosen.isEmpty()) {
    field->setProperty("touched", true);
    field->setText(chosen);
  }
}

void NewAgentWindow::save() {
  if (!problems().empty())
    return;
  save_(agent(), loadNow->isChecked());
  accept();
}

}  // namespace morvane
