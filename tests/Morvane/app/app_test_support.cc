#include "app_test_support.h"

#include <QCoreApplication>
#include <cstdlib>
#include <fstream>

#include "platform.h"
#include "switch_row_item.h"

namespace morvane::testing {
namespace {

void setVariable(const char* name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

std::optional<std::string> variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

AppSandbox::AppSandbox(const std::filesystem::path& launchctl, const char* language) {
  const std::pair<const char*, std::optional<std::string>> variables[] = {
      {"HOME", home().string()},
      {"MORVANE_HOME", dataDirectory().string()},
      {"MORVANE_LANG", language != nullptr ? std::optional<std::string>(language) : std::nullopt},
  };
  for (const auto& [name, value] : variables) {
    saved_.emplace_back(name, variable(name));
    setVariable(name, value);
  }
  std::filesystem::create_directories(agentsDirectory());
  platform::overrideToolPath(platform::Tool::launchctl, launchctl);
}

AppSandbox::~AppSandbox() {
  platform::resetToolPaths();
  for (const auto& [name, value] : saved_)
    setVariable(name.c_str(), value);
}

void AppSandbox::writeSettings(const std::string& json) const {
  write(dataDirectory() / "settings.json", json);
}

std::filesystem::path AppSandbox::writeAgent(const std::string& label,
                                             const std::string& program) const {
  std::string arguments;
  size_t start = 0;
  while (start <= program.size()) {
    size_t end = program.find(' ', start);
    if (end == std::string::npos)
      end = program.size();
    arguments += "<string>" + program.substr(start, end - start) + "</string>";
    start = end + 1;
  }
  const std::filesystem::path path = agentsDirectory() / (label + ".plist");
  write(path, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" +
                  label + "</string><key>ProgramArguments</key><array>" + arguments +
                  "</array><key>RunAtLoad</key><true/></dict></plist>");
  return path;
}

platform::Bundle appBundle(const std::string& path, const std::string& version) {
  platform::Bundle bundle;
  bundle.path = path;
  if (!version.empty())
    bundle.info["CFBundleShortVersionString"] = version;
  return bundle;
}

std::unique_ptr<AppDelegate> makeDelegate(std::shared_ptr<Warnings> warnings,
                                          platform::Bundle bundle) {
  return std::make_unique<AppDelegate>(std::move(bundle),
                                       std::make_unique<RecordingAlerts>(std::move(warnings)));
}

QStringList titles(const QMenu& menu) {
  QStringList result;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      result << QStringLiteral("---");
    } else if (auto* item = dynamic_cast<SwitchRowItem*>(action)) {
      result << QStringLiteral("row:") + (item->row() ? item->row()->title() : QString());
    } else if (auto* list = dynamic_cast<AgentListItem*>(action)) {
      if (list->list() != nullptr)
        for (size_t index : list->list()->shown())
          result << QStringLiteral("row:") + list->list()->row(index).title;
    } else {
      result << action->text();
    }
  }
  return result;
}

std::vector<SwitchRow*> rows(const QMenu& menu) {
  std::vector<SwitchRow*> result;
  for (QAction* action : menu.actions()) {
    if (auto* item = dynamic_cast<SwitchRowItem*>(action))
      result.push_back(item->row());
    else if (auto* list = dynamic_cast<AgentListItem*>(action); list && list->list())
      for (SwitchRow* row : list->list()->visibleRows())
        result.push_back(row);
  }
  return result;
}

SwitchRow* rowTitled(const QMenu& menu, const QString& title) {
  for (SwitchRow* row : rows(menu))
    if (row->title() == title)
      return row;
  // A row scrolled out of view is scrolled to.
  for (QAction* action : menu.actions())
    if (auto* item = dynamic_cast<AgentListItem*>(action); item && item->list())
      for (size_t index : item->list()->shown())
        if (item->list()->row(index).title == title)
          return item->list()->rowWidget(index);
  return nullptr;
}

QAction* itemTitled(const QMenu& menu, const QString& title) {
  for (QAction* action : menu.actions())
    if (action->text() == title)
      return action;
  return nullptr;
}

std::string readTextFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void writeTextFile(const std::filesystem::path& path, const std::string& text) {
  write(path, text);
}

void flushDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace morvane::testing
