#include "settings_store.h"

#include <cerrno>

#include "file_io.h"
#include "language.h"

namespace morvane {

SettingsStore::SettingsStore(Paths paths) : paths_(std::move(paths)) {
  const std::filesystem::path file = paths_.settingsFile();
  auto bytes = readRegularFile(file, kReadLimit);
  if (!bytes && bytes.error() == ENOENT) {
    save();  // the first start
    return;
  }
  if (!bytes) {
    unreadable_ = readFailure(file, bytes.error(), kReadLimit).text;
  } else if (std::optional<Settings> stored = decodeSettings(*bytes)) {
    value_ = std::move(*stored);
  } else {
    unreadable_ = "";
  }
}

void SettingsStore::update(const std::function<void(Settings&)>& change) {
  change(value_);
  if (!unreadable_)
    save();
}

std::optional<std::string> SettingsStore::problem() const {
  if (!unreadable_)
    return std::nullopt;
  const std::string file = paths_.settingsFile().string();
  return L(
      [&] {
        const std::string reason = unreadable_->empty() ? file + "：不是有效的设置" : *unreadable_;
        return "设置未能读取（" + reason + "），暂用默认设置，文件保持不变。";
      },
      [&] {
        const std::string reason =
            unreadable_->empty() ? file + ": not valid settings" : *unreadable_;
        return "Settings not read (" + reason +
               "); using the defaults for now and leaving the file as it is.";
      });
}

namespace {

/// Where writing `file` lands: a symbolic link, even one whose target is missing, is written
/// through to its target (links followed one after the other, each relative to its folder), so
/// the link stays.
std::filesystem::path writtenPath(std::filesystem::path file) {
  namespace fs = std::filesystem;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error)))
      break;
    const fs::path target = fs::read_symlink(file, error);
    if (error)
      break;
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return file;
}

}  // namespace

void SettingsStore::save() const {
  // Saving is best effort by design: the settings in memory stay authoritative for this run.
  (void)paths_.ensureDirectories();
  (void)writeFileAtomically(writtenPath(paths_.settingsFile()), encodeSettings(value_));
}

}  // namespace morvane
