// Notices on failing runs: the run records the service manager rewrites at each start and end
// are read when they change, and a run that ended badly gets one notice.

#include <filesystem>

#include "agent_units.h"
#include "app_delegate.h"
#include "file_io.h"
#include "job_description.h"
#include "language.h"
#include "run_text.h"

namespace morvane {

void AppDelegate::setNotifyOnFailure(bool on) {
  settings().update([on](Settings& value) { value.notifyOnFailure = on; });
  showChanges();
}

void AppDelegate::watchRuns() {
  QPointer<AppDelegate> self(this);
  notices_ = std::make_unique<DesktopNotices>([self](const QString& title, const QString& body) {
    return self && self->statusItem && self->statusItem->showMessage(title, body);
  });
  runEnds_ = std::make_unique<RunEndWatch>(platform::runRecordFolder(), [self] {
    if (self)
      self->runsChanged();
  });
  runsChanged(true);
}

void AppDelegate::runsChanged(bool baseline) {
  if (!runEnds_)
    return;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(runEnds_->folder(), error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(AgentUnits::kPrefix) || !name.ends_with(".runs"))
      continue;
    std::error_code unknown;
    const auto changed = entry.last_write_time(unknown);
    if (unknown)
      continue;
    auto [known, added] = runRecordTimes_.try_emplace(name, changed);
    if (!added && known->second == changed)
      continue;
    known->second = changed;
    // The label is the one whose record has this name: a long label's name keeps only a digest.
    std::optional<std::string> label = AgentUnits::labelOf(name);
    for (const Agent& agent : agents) {
      if (runRecordName(agent.label) == name)
        label = agent.label;
    }
    if (!label)
      continue;
    const Result<std::string> text = readFile(entry.path());
    if (!text)
      continue;
    const std::optional<Run> failed = failureNotices_.take(*label, parseRuns(*text), baseline);
    if (failed && settings().value().notifyOnFailure)
      notifyFailure(*label, *failed);
  }
}

void AppDelegate::notifyFailure(const std::string& label, const Run& run) {
  const std::string name = displayName(label);
  const std::string how = RunText::result(run);
  DesktopNotices::Notice notice;
  notice.summary = QString::fromStdString(L([&] { return "「" + name + "」运行失败：" + how; },
                                            [&] { return name + " failed: " + how; }));
  for (const Agent& agent : agents) {
    if (agent.label != label)
      continue;
    notice.body = QString::fromStdString(lastErrorLine(agent).value_or(""));
    Result<JobDescription> job = readJobDescription(agent.path);
    if (const std::optional<std::filesystem::path> log = job ? newestLog(*job) : std::nullopt) {
      notice.actionTitle = QString::fromStdString(L("显示日志", "Show Log"));
      QPointer<AppDelegate> self(this);
      notice.action = [self, log = *log] {
        if (self)
          platform::openInDesktop(log,
                                  self->warnOnFailure(L("无法显示日志", "Couldn't show the log")));
      };
    }
    break;
  }
  notices_->show(std::move(notice));
}

}  // namespace morvane
