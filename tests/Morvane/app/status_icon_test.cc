#include "status_icon.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QTest>

#include "desktop_color_scheme.h"

namespace morvane {

using StatusIcon::Scheme;

/// The desktop portal's settings, as far as the colour scheme goes. Like older portals, it
/// answers Read with the value wrapped in two variants.
class FakePortalSettings : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

 public:
  uint scheme = 0;

 public slots:
  QDBusVariant Read(const QString& group, const QString& key) {
    if (group != "org.freedesktop.appearance" || key != "color-scheme")
      return QDBusVariant(QVariant(QString()));
    return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
  }

 signals:
  void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

class StatusIconTest : public QObject {
  Q_OBJECT

  QProcess bus_;

  static QImage render(qreal scale, Scheme scheme = Scheme::light) {
    StatusIcon::setScheme(scheme);
    QImage image = StatusIcon::image()
                       .pixmap(QSize(StatusIcon::kSize, StatusIcon::kSize), scale)
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32);
    StatusIcon::setScheme(Scheme::unknown);
    return image;
  }

  /// A pixel of the pictogram itself, not of its halo: mostly opaque and dark (drawn for a
  /// light scheme).
  static bool ink(QRgb pixel) { return qAlpha(pixel) >= 128 && qGray(pixel) < 96; }

  /// The smallest rectangle holding every pixel of the pictogram.
  static QRect inkBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (ink(image.pixel(x, y)))
          bounds |= QRect(x, y, 1, 1);
    return bounds;
  }

  /// The pixel at a point given in the icon's own coordinates: points, origin bottom left,
  /// before the drawing's shift of 1.6 to the left.
  static QRgb pixelAt(const QImage& image, double x, double y, qreal scale) {
    return image.pixel(int((x - 1.6) * scale), int((StatusIcon::kSize - y) * scale));
  }

  /// The icon laid on a panel of one colour, as a tray shows it.
  static QImage onPanel(const QImage& icon, QColor panel) {
    QImage shown(icon.size(), QImage::Format_RGB32);
    shown.fill(panel);
    QPainter(&shown).drawImage(0, 0, icon);
    return shown;
  }

  /// Pixels that stand out from the panel: a grey level at least 100 away from it.
  static int standingOut(const QImage& shown, QColor panel) {
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x)
        count += std::abs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())) >= 100;
    return count;
  }

 private slots:
  void isOneSharedImage() {
    QVERIFY(&StatusIcon::image() == &StatusIcon::image());
    QCOMPARE(StatusIcon::image().cacheKey(), StatusIcon::image().cacheKey());
  }

  void drawsTheShapesAtOneAndTwoTimesScale_data() {
    QTest::addColumn<qreal>("scale");
    QTest::newRow("1x") << qreal(1);
    QTest::newRow("2x") << qreal(2);
  }

  void drawsTheShapesAtOneAndTwoTimesScale() {
    QFETCH(qreal, scale);
    const QImage image = render(scale);
    QCOMPARE(image.size(), QSize(18, 18) * scale);

    // Filled shapes: cap dome, cap rim, neck, foot, base plate.
    QVERIFY(ink(pixelAt(image, 9.0, 16.0, scale)));
    QVERIFY(ink(pixelAt(image, 4.0, 14.1, scale)));
    QVERIFY(ink(pixelAt(image, 9.0, 12.2, scale)));
    QVERIFY(ink(pixelAt(image, 9.0, 3.5, scale)));
    QVERIFY(ink(pixelAt(image, 4.0, 2.5, scale)));
    // The bands across the body and the trailing line's vertical stretch.
    QVERIFY(ink(pixelAt(image, 9.0, 7.2, scale)));
    QVERIFY(ink(pixelAt(image, 16.2, 6.0, scale)));
    // Nothing above the trailing line, left of the base, or in the top corners.
    QCOMPARE(qAlpha(pixelAt(image, 17.5, 12.5, scale)), 0);
    QCOMPARE(qAlpha(pixelAt(image, 1.8, 8.0, scale)), 0);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(image.width() - 1, 0)), 0);

    // The pictogram spans x 1.4 to 17.2 and y 1.2 to 17.0 after the shift; the halo lies
    // around it.
    const QRect drawn = inkBounds(image);
    const QRectF expected(1.4 * scale, (18 - 17.0) * scale, 15.8 * scale, 15.8 * scale);
    QVERIFY2(std::abs(drawn.left() - expected.left()) <= 1 * scale,
             qPrintable(QString::number(drawn.left())));
    QVERIFY(std::abs(drawn.right() + 1 - expected.right()) <= 1 * scale);
    QVERIFY(std::abs(drawn.top() - expected.top()) <= 1 * scale);
    QVERIFY(std::abs(drawn.bottom() + 1 - expected.bottom()) <= 1 * scale);
  }

  void twoTimesScaleIsDrawnNotEnlarged() {
    // Between the lower and the middle band there is a gap a 2x drawing resolves and a doubled
    // 1x bitmap cannot.
    const QImage sharp = render(2);
    const QImage enlarged = render(1).scaled(36, 36);
    int differing = 0;
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 36; ++x)
        differing += std::abs(qGray(sharp.pixel(x, y)) - qGray(enlarged.pixel(x, y))) > 64;
    QVERIFY(differing > 20);
    QVERIFY(!ink(pixelAt(sharp, 9.0, 6.05, 2)));
  }

  void readsOnLightAndDarkPanels_data() {
    QTest::addColumn<Scheme>("scheme");
    QTest::addColumn<int>("pictogramGrey");
    QTest::newRow("the desktop does not say") << Scheme::unknown << 0;
    QTest::newRow("light scheme") << Scheme::light << 0;
    QTest::newRow("dark scheme") << Scheme::dark << 245;
  }

  void readsOnLightAndDarkPanels() {
    QFETCH(Scheme, scheme);
    QFETCH(int, pictogramGrey);
    const QImage icon = render(1, scheme);
    QVERIFY(std::abs(qGray(pixelAt(icon, 9.0, 16.0, 1)) - pictogramGrey) < 16);
    // The pictogram covers about 110 of the 324 pixels; most of it must stand out on a dark
    // panel and on a light one, whatever the scheme says.
    for (QColor panel : {QColor(0x20, 0x20, 0x20), QColor(0xee, 0xee, 0xee), QColor(Qt::black),
                         QColor(Qt::white)}) {
      const int count = standingOut(onPanel(icon, panel), panel);
      QVERIFY2(count >= 80, qPrintable(QString("%1 on %2").arg(count).arg(panel.name())));
    }
  }

  void followsTheColorSchemeTheDesktopPortalTells() {
    // A session bus of its own, with a portal on it.
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QVERIFY2(bus_.waitForStarted(), "dbus-daemon is installed with scripts/install-deps test");
    QTRY_VERIFY(bus_.canReadLine());
    const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QDBusConnection portalBus = QDBusConnection::connectToBus(address, "portal");
    QVERIFY(portalBus.isConnected());
    FakePortalSettings portal;
    portal.scheme = 1;
    QVERIFY(portalBus.registerObject(
        "/org/freedesktop/portal/desktop", &portal,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QVERIFY(portalBus.registerService("org.freedesktop.portal.Desktop"));

    std::vector<Scheme> told;
    DesktopColorScheme follower([&](Scheme scheme) { told.push_back(scheme); });
    QTRY_COMPARE(told, std::vector<Scheme>{Scheme::dark});

    emit portal.SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(uint(2)));
    emit portal.SettingChanged("org.freedesktop.appearance", "accent-color", QDBusVariant(uint(1)));
    emit portal.SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(uint(0)));
    QTRY_COMPARE(told, (std::vector<Scheme>{Scheme::dark, Scheme::light, Scheme::unknown}));
    portalBus.unregisterService("org.freedesktop.portal.Desktop");
  }

  void cleanupTestCase() {
    if (bus_.state() != QProcess::NotRunning) {
      bus_.terminate();
      bus_.waitForFinished();
    }
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::StatusIconTest)
#include "status_icon_test.moc"
