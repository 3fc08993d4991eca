#pragma once

// Helpers for the menu-bar application's tests: a throw-away home, agents in it, a delegate
// whose warnings are recorded instead of shown, and readers of the built menu.

#include <QMenu>
#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app_delegate.h"
#include "switch_row.h"

namespace morvane::testing {

/// Warnings the delegate showed: message and informative text.
using Warnings = std::vector<std::pair<std::string, std::string>>;

class RecordingAlerts : public Alerts {
 public:
  explicit RecordingAlerts(std::shared_ptr<Warnings> shown) : shown_(std::move(shown)) {}
  void warn(const std::string& message, const std::string& informative) override {
    shown_->emplace_back(message, informative);
  }

 private:
  std::shared_ptr<Warnings> shown_;
};

/// A fresh HOME and data directory, English texts, and the launchctl the program runs. Restores
/// the environment and the tool table when it goes.
class AppSandbox {
 public:
  explicit AppSandbox(const std::filesystem::path& launchctl, const char* language = "en");
  ~AppSandbox();

  std::filesystem::path home() const { return dir_.path().toStdString(); }
  std::filesystem::path agentsDirectory() const { return home() / "Library" / "LaunchAgents"; }
  std::filesystem::path dataDirectory() const { return home() / "data"; }

  /// Writes settings.json before the delegate reads it.
  void writeSettings(const std::string& json) const;
  /// Writes an agent whose program runs `program` (sleeps for five minutes by default).
  std::filesystem::path writeAgent(const std::string& label,
                                   const std::string& program = "/bin/sleep 300") const;

 private:
  QTemporaryDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

/// A bundle as the application would see one; an empty path means "not started from a bundle".
platform::Bundle appBundle(const std::string& path = "/Applications/Morvane.app",
                           const std::string& version = "1.2.3");

/// A delegate over the sandbox whose warnings land in `warnings`.
std::unique_ptr<AppDelegate> makeDelegate(std::shared_ptr<Warnings> warnings,
                                          platform::Bundle bundle = appBundle());

/// The menu as text: action titles, "---" for separators, "row:" + title for switch rows.
QStringList titles(const QMenu& menu);

/// The switch row titled `title`, or null.
SwitchRow* rowTitled(const QMenu& menu, const QString& title);

/// The menu item titled `title`, or null.
QAction* itemTitled(const QMenu& menu, const QString& title);

/// Every switch row of the menu, in order.
std::vector<SwitchRow*> rows(const QMenu& menu);

/// A whole file's text; empty when it cannot be read.
std::string readTextFile(const std::filesystem::path& path);

/// Writes a file, creating its directory.
void writeTextFile(const std::filesystem::path& path, const std::string& text);

/// Releases what the last rebuilds left for deletion.
void flushDeletes();

}  // namespace morvane::testing
