#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <map>

#include "new_agent.h"
#include "schedule_fields.h"

namespace morvane {

/// The small window that makes a new agent: label, program and arguments, when it runs, its log,
/// and whether to load it now. It checks the fields as they are typed and says what is wrong
/// beside each one; Save is offered only when nothing is.
class NewAgentWindow : public QDialog {
 public:
  /// The labels other agents use, as known now.
  using TakenLabels = std::function<NewAgents::TakenLabels()>;
  /// Called with the agent to make and whether to load it; the window then closes.
  using Save = std::function<void(const NewAgent& agent, bool loadNow)>;

  NewAgentWindow(std::filesystem::path directory, TakenLabels taken, Save save,
                 QWidget* parent = nullptr);

  /// The agent the fields describe now, and what is wrong with it.
  NewAgent agent() const;
  std::vector<NewAgents::Problem> problems() const;

  // The fields, for the tests and the pickers.
  QLineEdit* const label;
  QLineEdit* const program;
  QLineEdit* const arguments;
  QCheckBox* const runAtLoad;
  QCheckBox* const keepAlive;
  /// When it runs by the clock; runEvery and minutes are its first fields.
  ScheduleFields* const schedule;
  QCheckBox* const runEvery;
  QLineEdit* const minutes;
  QLineEdit* const log;
  QCheckBox* const loadNow;
  QPushButton* saveButton() const;
  /// The message shown beside a field; empty when nothing is wrong with it or it is untouched.
  QString message(NewAgents::Field field) const;

 private:
  /// Checks the fields again and shows what is wrong.
  void check();
  void choose(QLineEdit* field, bool forLog);
  void save();
  QLabel* messageLabel(NewAgents::Field field);

  std::filesystem::path directory_;
  TakenLabels taken_;
  Save save_;
  QDialogButtonBox* buttons_;
  std::map<NewAgents::Field, QLabel*> messages_;
};

}  // namespace morvane
