#include "login_unit.h"

#include "file_io.h"
#include "state_dir.h"
#include "unit_file.h"

namespace launchctl {
namespace {

/// Bootstraps each property list, naming the file in front of whatever launchctl says.
constexpr const char* kLoadAgents =
    "for plist in \"$HOME\"/Library/LaunchAgents/*.plist; do "
    "[ -f \"$plist\" ] || continue; "
    "\"$0\" bootstrap \"gui/$(id -u)\" \"$plist\" 2>&1 | "
    "while IFS= read -r line; do printf '%s: %s\\n' \"$plist\" \"$line\" >&2; done; "
    "done";

}  // namespace

std::string loginUnitText(const std::filesystem::path& launchctl) {
  return std::string("[Unit]\n") +
         "Description=Load the launch agents in ~/Library/LaunchAgents, as at every login\n\n" +
         "[Service]\n" + "Type=oneshot\n" + "ExecStart=/bin/sh -c " + commandWord(kLoadAgents) +
         " " + commandWord(launchctl) + "\n\n" + "[Install]\n" + "WantedBy=default.target\n";
}

void installLoginUnit(user_manager::Connection& connection) {
  const std::filesystem::path file = homeDirectory() / ".config" / "systemd" / "user" / kLoginUnit;
  std::error_code error;
  const std::filesystem::path launchctl = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return;
  }
  const std::string text = loginUnitText(launchctl);
  const auto current = morvane::readRegularFile(file);
  if (current && *current == text) {
    return;
  }
  if (const morvane::Outcome created = morvane::createDirectories(file.parent_path()); !created) {
    throw std::runtime_error(created.error().text);
  }
  if (const morvane::Outcome written = morvane::writeFileAtomically(file, text); !written) {
    throw std::runtime_error(written.error().text);
  }
  connection.enableUnitFiles({kLoginUnit});
}

}  // namespace launchctl
