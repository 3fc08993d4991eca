#include "status_icon.h"

#include <QImage>
#include <QPixmap>
#include <QTest>

namespace morvane {

class StatusIconTest : public QObject {
  Q_OBJECT

  static QImage render(qreal scale) {
    return StatusIcon::image()
        .pixmap(QSize(StatusIcon::kSize, StatusIcon::kSize), scale)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
  }

  /// The smallest rectangle holding every pixel that is at least half opaque.
  static QRect inkBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) >= 128)
          bounds |= QRect(x, y, 1, 1);
    return bounds;
  }

  /// The alpha at a point given in the icon's own coordinates: points, origin bottom left,
  /// before the drawing's shift of 1.6 to the left.
  static int alphaAt(const QImage& image, double x, double y, qreal scale) {
    return qAlpha(image.pixel(int((x - 1.6) * scale), int((StatusIcon::kSize - y) * scale)));
  }

 private slots:
  void isOneSharedMask() {
    QVERIFY(&StatusIcon::image() == &StatusIcon::image());
    QCOMPARE(StatusIcon::image().cacheKey(), StatusIcon::image().cacheKey());
    QVERIFY(StatusIcon::image().isMask());
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
    QVERIFY(alphaAt(image, 9.0, 16.0, scale) >= 250);
    QVERIFY(alphaAt(image, 4.0, 14.1, scale) >= 250);
    QVERIFY(alphaAt(image, 9.0, 12.2, scale) >= 250);
    QVERIFY(alphaAt(image, 9.0, 3.5, scale) >= 250);
    QVERIFY(alphaAt(image, 4.0, 2.5, scale) >= 250);
    // The bands across the body and the trailing line's vertical stretch.
    QVERIFY(alphaAt(image, 9.0, 7.2, scale) >= 200);
    QVERIFY(alphaAt(image, 16.2, 6.0, scale) >= 160);
    // Nothing above the trailing line, left of the base, or in the top corners.
    QCOMPARE(alphaAt(image, 17.5, 12.0, scale), 0);
    QCOMPARE(alphaAt(image, 2.0, 8.0, scale), 0);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(image.width() - 1, 0)), 0);

    // The geometry spans x 1.4 to 17.2 and y 1.2 to 17.0 after the shift.
    const QRect ink = inkBounds(image);
    const QRectF expected(1.4 * scale, (18 - 17.0) * scale, 15.8 * scale, 15.8 * scale);
    QVERIFY2(std::abs(ink.left() - expected.left()) <= 1 * scale,
             qPrintable(QString::number(ink.left())));
    QVERIFY(std::abs(ink.right() + 1 - expected.right()) <= 1 * scale);
    QVERIFY(std::abs(ink.top() - expected.top()) <= 1 * scale);
    QVERIFY(std::abs(ink.bottom() + 1 - expected.bottom()) <= 1 * scale);

    // Black only: the desktop tints the mask.
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) > 0)
          QCOMPARE(qRed(image.pixel(x, y)) | qGreen(image.pixel(x, y)) | qBlue(image.pixel(x, y)),
                   0);
  }

  void twoTimesScaleIsDrawnNotEnlarged() {
    // Between the lower and the middle band there is a gap a 2x drawing resolves and a doubled
    // 1x bitmap cannot.
    const QImage sharp = render(2);
    const QImage enlarged = render(1).scaled(36, 36);
    int differing = 0;
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 36; ++x)
        differing += std::abs(qAlpha(sharp.pixel(x, y)) - qAlpha(enlarged.pixel(x, y))) > 64;
    QVERIFY(differing > 20);
    QVERIFY(alphaAt(sharp, 9.0, 6.05, 2) < 128);
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::StatusIconTest)
#include "status_icon_test.moc"
