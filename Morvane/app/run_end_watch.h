#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <filesystem>
#include <functional>

namespace morvane {

/// Tells when a run of any agent starts or ends: the service manager replaces a job's run
/// record, in one folder for all jobs, at each start and end. The folder is watched through the
/// kernel's file notifications (inotify), so nothing runs while no job starts or ends.
class RunEndWatch : public QObject {
 public:
  /// Watches `folder`, creating it when missing; `changed` runs on the main thread after each
  /// change. Without a folder to watch (it cannot be made) nothing is ever told.
  RunEndWatch(std::filesystem::path folder, std::function<void()> changed,
              QObject* parent = nullptr);

  /// Whether the folder is watched.
  bool watching() const;

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  QFileSystemWatcher watcher_;
};

}  // namespace morvane
