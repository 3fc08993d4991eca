// Entry step for the menu-bar application: the toolkit, the delegate and the event loop.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "platform_session_bus.h"
#include "quit_on_signal.h"

namespace morvane {
namespace {

/// What the toolkit said while it started; shown only if it started.
std::vector<std::pair<QtMsgType, std::string>> startupMessages;
QtMessageHandler previousHandler = nullptr;

/// The toolkit stops the process when it finds no display to show windows on. That is a
/// user's situation, not a crash: say so in one line and end with status 1.
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  // Without XDG_RUNTIME_DIR the toolkit makes a private folder of its own, as it should; that
  // it says so at every start is no news to a user.
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
    return;
  if (type != QtFatalMsg) {
    startupMessages.emplace_back(type, message.toStdString());
    return;
  }
  (void)context;
  const char* display = std::getenv("DISPLAY");
  std::cerr << "Morvane: no display could be reached (DISPLAY="
            << (display != nullptr ? std::string("\"") + display + "\"" : "unset")
            << "), so the menu-bar application cannot start. 无法连接到显示器，菜单栏应用无法启动。"
            << std::endl;
  std::_Exit(1);
}

void replayStartupMessages() {
  qInstallMessageHandler(previousHandler);
  for (const auto& [type, text] : startupMessages) {
    if (previousHandler != nullptr)
      previousHandler(type, QMessageLogContext(), QString::fromStdString(text));
    else
      std::cerr << text << std::endl;
  }
  startupMessages.clear();
}

}  // namespace

int runMenuBarApp(int argc, char** argv) {
  catchTerminationSignals();
  platform::keepFromStartingASessionBus();
  previousHandler = qInstallMessageHandler(startupMessageHandler);
  QApplication app(argc, argv);
  replayStartupMessages();

  QApplication::setApplicationName(QStringLiteral("Morvane"));
  // A menu-bar accessory: closing an alert, its only window, does not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  quitOnCaughtSignals(&app);

  // Lives for the whole process, as the application's delegate.
  auto* delegate = new AppDelegate();
  delegate->applicationDidFinishLaunching();
  const int status = app.exec();
  // No shutdown work: operations still queued or running are abandoned with the process.
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace morvane
