#include "run_end_watch.h"

#include <sys/stat.h>

namespace morvane {

RunEndWatch::RunEndWatch(std::filesystem::path folder, std::function<void()> changed,
                         QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {
  // The manager keeps its state private to the user; a folder made here first is made so too.
  std::filesystem::path made;
  for (const auto& part : folder_) {
    made /= part;
    ::mkdir(made.c_str(), 0700);
  }
  watcher_.addPath(QString::fromStdString(folder_.string()));
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
          [changed = std::move(changed)](const QString&) { changed(); });
}

bool RunEndWatch::watching() const {
  return !watcher_.directories().isEmpty();
}

}  // namespace morvane
