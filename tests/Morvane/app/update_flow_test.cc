// The menu's update flow against a local update server: checks and downloads in the background,
// their notes and alerts, and the hand-off to the installer.

#include <QTest>
#include <QThreadPool>
#include <cstdlib>

#include "app_test_support.h"
#include "language.h"
#include "local_server.h"
#include "releases.h"

namespace morvane {

namespace fs = std::filesystem;

class UpdateFlowTest : public QObject {
  Q_OBJECT

  testing::LocalServer server_;
  QTemporaryDir releases_;
  std::unique_ptr<testing::AppSandbox> sandbox_;
  std::shared_ptr<testing::Warnings> warnings_;

  static constexpr int kTimeoutMs = 60000;

  std::unique_ptr<AppDelegate> makeDelegate(platform::Bundle bundle) {
    Language::apply(std::nullopt);
    return testing::makeDelegate(warnings_, std::move(bundle));
  }

  /// A delegate whose bundle lies in a folder it may replace.
  std::unique_ptr<AppDelegate> makeDelegate() {
    const fs::path app = sandbox_->home() / "Applications" / "Morvane.app";
    fs::create_directories(app);
    return makeDelegate(testing::appBundle(app.string()));
  }

  /// Makes the server name `version` as its newest release, signed by the publisher.
  void publishManifest(const std::string& version, const std::string& sha256) {
    server_.answer("/latest.json", 200, testing::signedManifest(version, sha256));
  }

  /// Starts a check and waits until it has ended.
  static void check(AppDelegate& app, bool manual) {
    app.checkForUpdate(manual);
    QVERIFY(std::holds_alternative<UpdateStates::Checking>(app.updateState));
    QTRY_VERIFY_WITH_TIMEOUT(
        !std::holds_alternative<UpdateStates::Checking>(app.updateState) &&
            !std::holds_alternative<UpdateStates::Downloading>(app.updateState),
        kTimeoutMs);
  }

  static QString updateItemTitle(AppDelegate& app) {
    std::unique_ptr<QAction> item(app.updateItem());
    return item->text();
  }

 private slots:
  void initTestCase() {
    // Read once per process, so set before the first check.
    ::setenv("MORVANE_UPDATE_URL", server_.url().c_str(), 1);
    QVERIFY(releases_.isValid());
  }
  void init() {
    sandbox_ = std::make_unique<testing::AppSandbox>(LAUNCHCTL_STANDIN);
    warnings_ = std::make_shared<testing::Warnings>();
    server_.clear();
    // The test program runs outside the bundle: the download verifies with its helpers.
    const fs::path helpers = fs::path(MORVANE_BUNDLE) / "Contents" / "Helpers";
    platform::overrideToolPath(platform::Tool::ditto, helpers / "ditto");
    platform::overrideToolPath(platform::Tool::codesign, helpers / "codesign");
  }
  void cleanup() {
    testing::flushDeletes();
    sandbox_.reset();
  }

  void upToDateIsNotedOnlyAfterAManualCheck() {
    publishManifest("1.2.3", std::string(64, 'a'));
    const int before = server_.requestCount("/latest.json");
    auto app = makeDelegate();
    app->note = "Sync loaded";
    check(*app, false);
    QCOMPARE(app->note, std::optional<std::string>("Sync loaded"));
    check(*app, true);
    QCOMPARE(app->note, std::optional<std::string>("You're up to date (1.2.3)"));
    QCOMPARE(server_.requestCount("/latest.json"), before + 2);
    QVERIFY(warnings_->empty());
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Idle{}));
  }

  void failedCheckIsAlertedOnlyWhenManual() {
    auto app = makeDelegate();
    app->note = "Sync loaded";
    check(*app, false);
    QVERIFY(warnings_->empty());
    QCOMPARE(app->note, std::optional<std::string>("Sync loaded"));

    app->menu.popup(QPoint(0, 0));
    check(*app, true);
    QVERIFY(!app->menu.isVisible());
    QCOMPARE(*warnings_,
             testing::Warnings({{"Update check failed", "latest.json returned HTTP 404"}}));
    QCOMPARE(app->note, std::optional<std::string>("Sync loaded"));
    QCOMPARE(updateItemTitle(*app), QStringLiteral("Check for Updates (current 1.2.3)"));

    ::setenv("MORVANE_LANG", "zh", 1);
    Language::apply(std::nullopt);
    check(*app, true);
    QCOMPARE(warnings_->back(),
             std::make_pair(std::string("检查更新失败"), std::string("latest.json 返回 HTTP 404")));
  }

  void failedDownloadIsAlertedLikeAFailedCheck() {
    publishManifest("3.0.0", std::string(64, 'a'));
    auto app = makeDelegate();
    check(*app, true);
    QCOMPARE(*warnings_, testing::Warnings({{"Update check failed",
                                             "Download failed: Morvane-3.0.0.zip returned HTTP "
                                             "404"}}));
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Idle{}));
    QVERIFY(!fs::exists(sandbox_->dataDirectory() / "update"));

    // Nothing is downloaded for a bundle that could not be replaced.
    const testing::Package package = testing::makeRelease("2.0.0", releases_.path().toStdString());
    server_.answer("/Morvane-2.0.0.zip", 200, testing::readTextFile(package.zip));
    publishManifest("2.0.0", package.sha256);
    const std::string gone = (sandbox_->home() / "Gone/Morvane.app").string();
    auto stuck = makeDelegate(testing::appBundle(gone));
    check(*stuck, true);
    QCOMPARE(warnings_->back(), std::make_pair(std::string("Update check failed"),
                                               "No permission to replace " + gone +
                                                   ". Install the new version manually."));
    QCOMPARE(server_.requestCount("/Morvane-2.0.0.zip"), 0);
    QCOMPARE(stuck->updateState, UpdateState(UpdateStates::Idle{}));
  }

  void automaticChecksFollowTheSetting() {
    sandbox_->writeSettings("{\"autoUpdate\": false}");
    publishManifest("1.2.3", std::string(64, 'a'));
    const int before = server_.requestCount("/latest.json");
    auto app = makeDelegate();
    app->checkForUpdate(false);
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Idle{}));
    check(*app, true);
    QCOMPARE(server_.requestCount("/latest.json"), before + 1);
  }

  void newReleaseIsDownloadedAndOfferedAfterAnAutomaticCheck() {
    const testing::Package package = testing::makeRelease("2.0.0", releases_.path().toStdString());
    QVERIFY(fs::exists(package.zip));
    server_.answer("/Morvane-2.0.0.zip", 200, testing::readTextFile(package.zip));
    publishManifest("2.0.0", package.sha256);

    const int before = server_.requestCount("/latest.json");
    auto app = makeDelegate();
    app->menu.popup(QPoint(0, 0));
    check(*app, false);
    const Staged staged{"2.0.0", sandbox_->dataDirectory() / "update" / "Morvane.app"};
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Ready{staged}));
    QVERIFY(fs::exists(staged.app / "Contents" / "Info.plist"));
    QCOMPARE(app->note,
             std::optional<std::string>("Version 2.0.0 is downloaded and ready to install"));
    QVERIFY(warnings_->empty());
    // The open menu followed the flow.
    QVERIFY(app->menu.isVisible());
    QAction* install = testing::itemTitled(app->menu, "Install Update 2.0.0 and Restart");
    QVERIFY(install && install->isEnabled());
    QVERIFY(testing::itemTitled(app->menu, "Version 2.0.0 is downloaded and ready to install"));
    app->menu.hide();

    // A staged update ends the checking.
    app->checkForUpdate(true);
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Ready{staged}));
    QCOMPARE(server_.requestCount("/latest.json"), before + 1);
  }

  void failedInstallKeepsTheUpdateOffered() {
    const fs::path staged = sandbox_->dataDirectory() / "update" / "Morvane.app";
    fs::create_directories(staged);
    // The bundle's folder does not exist, so it cannot be replaced.
    auto app = makeDelegate(testing::appBundle((sandbox_->home() / "Gone/Morvane.app").string()));
    app->updateState = UpdateStates::Ready{Staged{"2.0", staged}};
    // While another update holds the installation, even one started with another data
    // directory, nothing of it is touched.
    {
      const fs::path gone = sandbox_->home() / "Gone/Morvane.app";
      fs::create_directories(gone);
      auto other = Updater::UpdateLock::acquire(Paths(sandbox_->home() / "other data"), gone);
      QVERIFY(other.has_value());
      app->installUpdate(Staged{"2.0", staged});
      QCOMPARE(*warnings_, testing::Warnings({{"Update install failed",
                                               "Another update is in progress. Try again once it "
                                               "has finished."}}));
      QVERIFY(fs::exists(staged));
      warnings_->clear();
      fs::remove_all(gone.parent_path());
    }
    app->menu.popup(QPoint(0, 0));
    // The update item stands right before the quit item.
    app->menu.actions()[app->menu.actions().size() - 2]->trigger();
    QCOMPARE(warnings_->size(), size_t(1));
    QCOMPARE(warnings_->front().first, std::string("Update install failed"));
    QVERIFY(warnings_->front().second.starts_with("No permission to replace "));
    QVERIFY(!app->menu.isVisible());
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Ready{Staged{"2.0", staged}}));
    QVERIFY(!fs::exists(sandbox_->dataDirectory() / "update-install.sh"));
  }

  void installWithoutTheStagedBundleOffersANewCheck() {
    const fs::path folder = sandbox_->home() / "Applications";
    fs::create_directories(folder / "Morvane.app");
    auto app = makeDelegate(testing::appBundle((folder / "Morvane.app").string()));
    app->updateState =
        UpdateStates::Ready{Staged{"2.0", sandbox_->dataDirectory() / "update" / "Morvane.app"}};
    app->installUpdate(std::get<UpdateStates::Ready>(app->updateState).staged);
    QCOMPARE(*warnings_, testing::Warnings({{"Update install failed",
                                             "The downloaded update is gone. Check for updates "
                                             "again."}}));
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Idle{}));
  }

  void checkOutlivedByItsDelegateIsDropped() {
    const int before = server_.requestCount("/latest.json");
    auto app = makeDelegate();
    app->checkForUpdate(true);
    app.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    // The failed manual check had no delegate left to alert through.
    QVERIFY(warnings_->empty());
    QCOMPARE(server_.requestCount("/latest.json"), before + 1);
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::UpdateFlowTest)
#include "update_flow_test.moc"
