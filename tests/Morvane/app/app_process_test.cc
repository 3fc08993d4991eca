// The application as a process: one instance per bundle identifier, SIGTERM as a normal quit,
// and a clear word when there is no display.

#include <signal.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "app_test_support.h"

namespace morvane {

class AppProcessTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::filesystem::path bundle_;
  std::filesystem::path home_;

  /// A copy of the built bundle with an identifier of its own, so that no other copy of the
  /// program running on this machine counts as another instance.
  void copyBundle() {
    bundle_ = std::filesystem::path(dir_.path().toStdString()) / "Morvane.app";
    std::filesystem::copy(MORVANE_BUNDLE, bundle_, std::filesystem::copy_options::recursive);
    const std::filesystem::path info = bundle_ / "Contents" / "Info.plist";
    std::string plist = testing::readTextFile(info);
    const std::string identifier = "<string>org.morvane.Morvane</string>";
    const size_t at = plist.find(identifier);
    QVERIFY(at != std::string::npos);
    plist.replace(at, identifier.size(),
                  "<string>org.morvane.Morvane.test" + std::to_string(::getpid()) + "</string>");
    testing::writeTextFile(info, plist);
    // The bundle's service manager stalls when asked to, so that a command-line run stays
    // around; otherwise it is the real one.
    const std::filesystem::path launchctl = bundle_ / "Contents" / "Helpers" / "launchctl";
    std::filesystem::rename(launchctl, launchctl.string() + ".real");
    testing::writeTextFile(launchctl,
                           "#!/bin/sh\n[ -n \"$STALL\" ] && sleep 20\nexec \"$0.real\" \"$@\"\n");
    std::filesystem::permissions(launchctl, std::filesystem::perms::owner_all);
  }

  QProcessEnvironment environment(bool display = true) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home_.string()));
    env.insert("MORVANE_HOME", QString::fromStdString((home_ / "data").string()));
    env.insert("MORVANE_LANG", "en");
    if (display) {
      env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
      for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    }
    return env;
  }

  void start(QProcess& process, bool display = true, const QStringList& arguments = {},
             bool stall = false) {
    QProcessEnvironment env = environment(display);
    if (stall)
      env.insert("STALL", "1");
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString((bundle_ / "Contents" / "MacOS" / "Morvane").string()),
                  arguments);
    QVERIFY(process.waitForStarted());
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    home_ = std::filesystem::path(dir_.path().toStdString()) / "home";
    std::filesystem::create_directories(home_);
    copyBundle();
  }

  void secondInstanceLeavesAndSigtermQuitsTheFirst() {
    QProcess first;
    start(first);
    // Settings are read right after the single-instance check: then the first one is running.
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(home_ / "data" / "settings.json"), 20000);

    QProcess second;
    start(second);
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
  }

  void aCommandLineRunIsNoInstance() {
    // The same executable listing agents (held up by a slow service manager) is running.
    QProcess listing;
    start(listing, true, {"--list"}, true);
    QTest::qWait(300);
    QCOMPARE(listing.state(), QProcess::Running);

    QProcess again;
    start(again);
    QTest::qWait(1500);
    QCOMPARE(again.state(), QProcess::Running);
    listing.kill();
    listing.waitForFinished();
    ::kill(static_cast<pid_t>(again.processId()), SIGTERM);
    QVERIFY(again.waitForFinished(20000));
    QCOMPARE(again.exitCode(), 0);
  }

  void withoutADisplayItSaysSoInOneLine() {
    QProcess headless;
    start(headless, false);
    QVERIFY(headless.waitForFinished(20000));
    QCOMPARE(headless.exitStatus(), QProcess::NormalExit);
    QCOMPARE(headless.exitCode(), 1);
    const QString errors = QString::fromUtf8(headless.readAllStandardError());
    const QStringList lines = errors.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].contains("no display could be reached"));
    QVERIFY(lines[0].contains("无法连接到显示器"));
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::AppProcessTest)
#include "app_process_test.moc"
