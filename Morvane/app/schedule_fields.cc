#include "schedule_fields.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>

#include "language.h"
#include "schedule_text.h"
#include "switch_row.h"

namespace morvane {
namespace {

QString text(const std::string& chosen) {
  return QString::fromStdString(chosen);
}

constexpr std::array<const char*, 7> kChineseDays = {"日", "一", "二", "三", "四", "五", "六"};
constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string twoDigits(int value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

ScheduleFields::ScheduleFields(QWidget* parent)
    : QWidget(parent),
      runEvery(new QCheckBox(text(L("每隔", "Run every")), this)),
      minutes(new QLineEdit(QStringLiteral("60"), this)),
      runAt(new QCheckBox(text(L("定时运行于", "Run at")), this)),
      time(new QLineEdit(QStringLiteral("09:00"), this)),
      everyDay(new QRadioButton(text(L("每天", "every day")), this)),
      weekdays(new QRadioButton(text(L("工作日", "weekdays")), this)),
      chosenDays(new QRadioButton(text(L("这些日子：", "on these days:")), this)),
      monthDay(new QRadioButton(text(L("每月第", "on day")), this)),
      dayOfMonth(new QLineEdit(QStringLiteral("1"), this)),
      preview(new QLabel(this)) {
  minutes->setMaximumWidth(64);
  time->setMaximumWidth(64);
  dayOfMonth->setMaximumWidth(40);
  everyDay->setChecked(true);
  preview->setWordWrap(true);
  auto* group = new QButtonGroup(this);
  for (QRadioButton* choice : {everyDay, weekdays, chosenDays, monthDay})
    group->addButton(choice);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  auto* every = new QHBoxLayout;
  every->addWidget(runEvery);
  every->addWidget(minutes);
  every->addWidget(new QLabel(text(L("分钟运行一次", "minutes")), this));
  every->addStretch();
  grid->addLayout(every, 0, 0);
  auto* at = new QHBoxLayout;
  at->addWidget(runAt);
  at->addWidget(time);
  at->addWidget(everyDay);
  at->addWidget(weekdays);
  at->addStretch();
  grid->addLayout(at, 1, 0);
  auto* chosen = new QHBoxLayout;
  chosen->addSpacing(24);
  chosen->addWidget(chosenDays);
  // The week as people read it: Monday first.
  for (int i = 1; i <= 7; ++i) {
    const auto day = static_cast<size_t>(i % 7);
    days[day] = new QCheckBox(text(L(kChineseDays[day], kDays[day])), this);
    chosen->addWidget(days[day]);
  }
  chosen->addStretch();
  grid->addLayout(chosen, 2, 0);
  auto* month = new QHBoxLayout;
  month->addSpacing(24);
  month->addWidget(monthDay);
  month->addWidget(dayOfMonth);
  month->addWidget(new QLabel(text(L("天", "of the month")), this));
  month->addStretch();
  grid->addLayout(month, 3, 0);
  grid->addWidget(preview, 4, 0);

  // One kind of timed start at a time.
  connect(runEvery, &QCheckBox::toggled, this, [this](bool on) {
    if (on)
      runAt->setChecked(false);
    fieldsChanged();
  });
  connect(runAt, &QCheckBox::toggled, this, [this](bool on) {
    if (on)
      runEvery->setChecked(false);
    fieldsChanged();
  });
  for (QLineEdit* field : {minutes, time, dayOfMonth})
    connect(field, &QLineEdit::textChanged, this, &ScheduleFields::fieldsChanged);
  for (QRadioButton* choice : {everyDay, weekdays, chosenDays, monthDay})
    connect(choice, &QRadioButton::toggled, this, &ScheduleFields::fieldsChanged);
  for (QCheckBox* day : days)
    connect(day, &QCheckBox::toggled, this, &ScheduleFields::fieldsChanged);
  fieldsChanged();
}

std::expected<std::vector<CalendarEntry>, std::string> ScheduleFields::calendar() const {
  auto at = TimedStarts::timeOfDay(time->text().trimmed().toStdString());
  if (!at)
    return std::unexpected(at.error());
  CalendarChoice choice{at->first, at->second, {}, std::nullopt};
  if (weekdays->isChecked())
    choice.weekdays = {1, 2, 3, 4, 5};
  if (chosenDays->isChecked()) {
    for (size_t day = 0; day < days.size(); ++day) {
      if (days[day]->isChecked())
        choice.weekdays.insert(static_cast<int>(day));
    }
    if (choice.weekdays.empty())
      return std::unexpected(TimedStarts::noDayChosen());
  }
  if (monthDay->isChecked()) {
    auto day = TimedStarts::dayOfMonth(dayOfMonth->text().trimmed().toStdString());
    if (!day)
      return std::unexpected(day.error());
    choice.day = *day;
  }
  return TimedStarts::entries(choice);
}

bool ScheduleFields::show(const Schedule& schedule) {
  runEvery->setChecked(false);
  runAt->setChecked(false);
  bool exact = true;
  if (schedule.startInterval) {
    runEvery->setChecked(true);
    const int64_t whole = (*schedule.startInterval + 59) / 60;
    minutes->setText(QString::number(whole));
    exact = whole * 60 == *schedule.startInterval;
  }
  if (!schedule.calendar.empty()) {
    const std::optional<CalendarChoice> choice = TimedStarts::choiceOf(schedule.calendar);
    exact = exact && choice && !schedule.startInterval;
    if (choice) {
      runAt->setChecked(true);
      time->setText(
          QString::fromStdString(twoDigits(choice->hour) + ":" + twoDigits(choice->minute)));
      if (choice->day) {
        monthDay->setChecked(true);
        dayOfMonth->setText(QString::number(*choice->day));
      } else if (choice->weekdays == std::set<int>{1, 2, 3, 4, 5}) {
        weekdays->setChecked(true);
      } else if (!choice->weekdays.empty()) {
        chosenDays->setChecked(true);
      }
      for (size_t day = 0; day < days.size(); ++day)
        days[day]->setChecked(choice->weekdays.contains(static_cast<int>(day)));
    }
  }
  fieldsChanged();
  return exact;
}

void ScheduleFields::refresh(std::time_t now) {
  minutes->setEnabled(runEvery->isChecked());
  for (QWidget* field :
       std::initializer_list<QWidget*>{time, everyDay, weekdays, chosenDays, monthDay, dayOfMonth})
    field->setEnabled(runAt->isChecked());
  dayOfMonth->setEnabled(runAt->isChecked() && monthDay->isChecked());
  for (QCheckBox* day : days)
    day->setEnabled(runAt->isChecked() && chosenDays->isChecked());
  QPalette colors = palette();
  if (!runAt->isChecked()) {
    preview->clear();
    preview->hide();
    return;
  }
  auto entries = calendar();
  std::string line;
  if (!entries) {
    line = entries.error();
    colors.setColor(QPalette::WindowText, SwitchRow::warningColor(palette()));
  } else {
    for (std::time_t start : nextCalendarStarts(*entries, now, 3))
      line += (line.empty() ? "" : L("、", ", ")) + ScheduleText::nextRunFull(start);
    line = L("下次运行：", "Next runs: ") + line;
  }
  preview->setPalette(colors);
  preview->setText(QString::fromStdString(line));
  preview->show();
}

void ScheduleFields::fieldsChanged() {
  refresh(std::time(nullptr));
  if (changed)
    changed();
}

}  // namespace morvane
