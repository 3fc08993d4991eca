// The application as a process: one copy per user and data directory, SIGTERM as a normal quit
// from the first moment, and a clear word when there is no display.

#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
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

  QProcessEnvironment environment(bool display = true) const { return environment(home_, display); }

  static QProcessEnvironment environment(const std::filesystem::path& home, bool display = true) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home.string()));
    env.insert("MORVANE_HOME", QString::fromStdString((home / "data").string()));
    env.insert("MORVANE_LANG", "en");
    if (display) {
      env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
      for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    }
    return env;
  }

  QString executable() const {
    return QString::fromStdString((bundle_ / "Contents" / "MacOS" / "Morvane").string());
  }

  void start(QProcess& process, bool display = true, const QStringList& arguments = {},
             bool stall = false) {
    QProcessEnvironment env = environment(display);
    if (stall)
      env.insert("STALL", "1");
    process.setProcessEnvironment(env);
    process.start(executable(), arguments);
    QVERIFY(process.waitForStarted());
  }

  /// Ends a copy that runs, with SIGTERM, and checks that it quit as asked.
  static void quit(QProcess& process) {
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
  }

  /// What a copy that left said about the copy that runs: its lines on that.
  static QStringList alreadyRunning(QProcess& process) {
    return QString::fromUtf8(process.readAllStandardError())
        .split('\n', Qt::SkipEmptyParts)
        .filter("already running");
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
    QCOMPARE(
        alreadyRunning(second),
        QStringList{QString("Morvane is already running (process %1).").arg(first.processId())});
    QCOMPARE(first.state(), QProcess::Running);
    quit(first);
  }

  void copiesStartedTogetherLeaveExactlyOne() {
    for (int attempt = 0; attempt < 10; ++attempt) {
      QProcess copies[2];
      for (QProcess& copy : copies) {
        copy.setProcessEnvironment(environment());
        copy.start(executable());
      }
      for (QProcess& copy : copies)
        QVERIFY(copy.waitForStarted());
      // One leaves at once, saying why; the other stays.
      QTRY_VERIFY_WITH_TIMEOUT(copies[0].state() != copies[1].state(), 20000);
      QProcess& left = copies[0].state() == QProcess::NotRunning ? copies[0] : copies[1];
      QProcess& stayed = &left == &copies[0] ? copies[1] : copies[0];
      QCOMPARE(left.exitCode(), 0);
      QCOMPARE(
          alreadyRunning(left),
          QStringList{QString("Morvane is already running (process %1).").arg(stayed.processId())});
      QTest::qWait(200);
      QCOMPARE(stayed.state(), QProcess::Running);
      quit(stayed);
    }
  }

  void anotherUsersCopyOrAnotherDataDirectoryIsNoOtherInstance() {
    // A copy of the same bundle run by another user, in that user's home.
    const std::filesystem::path theirs =
        std::filesystem::path(dir_.path().toStdString()) / "nobody";
    std::filesystem::create_directories(theirs / "data");
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(dir_.path().toStdString()))
      std::filesystem::permissions(
          entry.path(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
          std::filesystem::perm_options::add);
    std::filesystem::permissions(
        dir_.path().toStdString(),
        std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
        std::filesystem::perm_options::add);
    QVERIFY(::chown(theirs.c_str(), 65534, 65534) == 0);
    QVERIFY(::chown((theirs / "data").c_str(), 65534, 65534) == 0);
    QProcess other;
    other.setProcessEnvironment(environment(theirs));
    other.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", executable()});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(theirs / "data" / "settings.json"), 20000);

    // This user's copy with a data directory of its own, and then one with the usual one.
    const std::filesystem::path elsewhere =
        std::filesystem::path(dir_.path().toStdString()) / "elsewhere";
    QProcess apart;
    apart.setProcessEnvironment(environment(elsewhere));
    apart.start(executable());
    QVERIFY(apart.waitForStarted());
    QProcess mine;
    start(mine);
    QTest::qWait(1500);
    QCOMPARE(other.state(), QProcess::Running);
    QCOMPARE(apart.state(), QProcess::Running);
    QCOMPARE(mine.state(), QProcess::Running);
    quit(mine);
    quit(apart);
    quit(other);
  }

  /// Whether the program's own code has begun to run, which shows as SIGTERM held (blocked) or
  /// caught: no program can answer a signal that arrives before its first instruction.
  static bool begun(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
      return false;
    const unsigned long long sigterm = 1ull << (SIGTERM - 1);
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("SigBlk:") || line.startsWith("SigCgt:"))
        if (line.mid(7).trimmed().toULongLong(nullptr, 16) & sigterm)
          return true;
    return false;
  }

  void sigtermInTheFirstMomentsQuitsWithZero() {
    for (int delayMs : {0, 1, 3, 6, 10, 15, 20, 30, 40, 50}) {
      QProcess early;
      start(early);
      QElapsedTimer started;
      started.start();
      // Reaching the first instruction takes long under a sanitizer on a busy machine.
      while (!begun(early.processId()) && started.elapsed() < 20000)
        QThread::usleep(200);
      QVERIFY2(begun(early.processId()), "the program never began to run");
      if (delayMs > 0)
        QTest::qSleep(delayMs);
      ::kill(static_cast<pid_t>(early.processId()), SIGTERM);
      QVERIFY(early.waitForFinished(20000));
      QVERIFY2(early.exitStatus() == QProcess::NormalExit && early.exitCode() == 0,
               qPrintable(QString("after %1 ms: %2 %3")
                              .arg(delayMs)
                              .arg(early.exitStatus() == QProcess::NormalExit ? "status" : "signal")
                              .arg(early.exitCode())));
    }
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
    quit(again);
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
