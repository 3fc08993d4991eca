#include "switch_row.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QTest>
#include <cmath>
#include <vector>

#include "widest_row.h"

namespace morvane {

class SwitchRowTest : public QObject {
  Q_OBJECT

  static int advance(const QString& text) {
    return int(std::ceil(QFontMetricsF(QApplication::font("QMenu")).horizontalAdvance(text)));
  }

  static QImage paint(CapsuleSwitch& toggle) {
    QImage image(CapsuleSwitch::kWidth, CapsuleSwitch::kHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    toggle.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }

  /// The row as painted on a white ground.
  static QImage paint(SwitchRow& row) {
    QImage image(row.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    row.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }

  /// The height of the ink in `area`: the rows holding a pixel clearly darker than the ground.
  static int inkHeight(const QImage& image, const QRect& area) {
    int top = -1, bottom = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if (qGray(image.pixel(x, y)) < 200) {
          top = top < 0 ? y : top;
          bottom = y;
          break;
        }
    return top < 0 ? 0 : bottom - top + 1;
  }

 private slots:
  void chineseDetailIsDrawnLargeEnoughToRead() {
    SwitchRow english("Backup", QStringLiteral("pid 4242 · disabled"), false, true, {});
    SwitchRow chinese("Backup", QStringLiteral("pid 4242 · 已停用"), false, true, {});
    // Latin detail text is the smaller one; ideographs keep the menu's size, which draws them
    // at least 11 pixels high: enough to keep their strokes apart.
    QVERIFY(QFontInfo(english.detailFont()).pixelSize() <
            QFontInfo(english.titleFont()).pixelSize());
    QCOMPARE(QFontInfo(chinese.detailFont()).pixelSize(),
             QFontInfo(chinese.titleFont()).pixelSize());
    const QImage painted = paint(chinese);
    const int mark = QFontMetrics(chinese.detailFont()).horizontalAdvance("pid 4242 · ");
    QRect ideographs = chinese.detailRect();
    ideographs.setLeft(ideographs.left() + mark);
    QVERIFY2(inkHeight(painted, ideographs) >= 11,
             qPrintable(QString::number(inkHeight(painted, ideographs))));
    // Title and detail still share their baseline, and the row fits both.
    QCOMPARE(chinese.titleRect().y() + QFontMetrics(chinese.titleFont()).ascent(),
             chinese.detailRect().y() + QFontMetrics(chinese.detailFont()).ascent());
    QVERIFY(chinese.detailRect().right() + 1 + 16 <= chinese.toggle()->x());
  }

  void widthFollowsTitleAndDetailWithinBounds() {
    SwitchRow shortRow("Sync", QStringLiteral("pid 1"), false, true, {});
    QCOMPARE(shortRow.width(), 260);
    QCOMPARE(shortRow.height(), 32);

    const QString longTitle = QString("com.example.") + QString(300, 'x') + ".end";
    SwitchRow longRow(longTitle, QStringLiteral("pid 4242 · disabled"), false, true, {});
    QCOMPARE(longRow.width(), 560);
    // The title gives way, cut in the middle; the detail stays whole.
    QVERIFY(longRow.shownTitle().startsWith("com.example."));
    QVERIFY(longRow.shownTitle().endsWith(".end"));
    QVERIFY(longRow.shownTitle().contains(QChar(0x2026)));
    QCOMPARE(longRow.detailRect().width(),
             int(std::ceil(
                 QFontMetricsF(longRow.detailFont()).horizontalAdvance("pid 4242 · disabled"))));
    QVERIFY(longRow.detailRect().right() + 1 + 16 <= longRow.toggle()->x());

    // Details recur and are measured once, but in the font of the moment: a larger menu font
    // widens the same detail.
    const QFont menuFont = QApplication::font("QMenu");
    QFont larger = menuFont;
    larger.setPointSizeF(menuFont.pointSizeF() > 0 ? menuFont.pointSizeF() * 2 : 26);
    QApplication::setFont(larger, "QMenu");
    SwitchRow largerRow("Sync", QStringLiteral("pid 4242 · disabled"), false, true, {});
    QApplication::setFont(menuFont, "QMenu");
    QCOMPARE(largerRow.detailRect().width(),
             int(std::ceil(
                 QFontMetricsF(largerRow.detailFont()).horizontalAdvance("pid 4242 · disabled"))));
    QVERIFY(largerRow.detailRect().width() > longRow.detailRect().width());
  }

  void widestOfManyRowsIsTheWidestMeasuredWithoutMeasuringEach() {
    // Each case: the rows, and the widest of them as measured one by one.
    auto widest = [](const std::vector<std::pair<QString, std::optional<QString>>>& rows) {
      WidestRow found;
      int measured = SwitchRow::kMinWidth;
      for (size_t row = 0; row < rows.size(); ++row) {
        // The texts are not kept: they are asked for again for the rows measured exactly.
        const auto [title, detail] = rows[row];
        found.add(row, title, detail);
        measured = std::max(measured, SwitchRow::widthFor(title, detail));
      }
      const int width = found.width([&](size_t row) {
        return WidestRow::Texts{rows.at(row).first, rows.at(row).second};
      });
      return std::pair(width, measured);
    };
    std::vector<std::pair<QString, std::optional<QString>>> rows;
    QCOMPARE(widest(rows).first, SwitchRow::kMinWidth);
    for (int i = 0; i < 3000; ++i)
      rows.emplace_back(QStringLiteral("com.example.agent-%1").arg(i),
                        i % 3 ? std::optional<QString>() : QStringLiteral("pid %1").arg(i));
    // Narrow letters outnumber wide ones: the row with the most characters is not the widest.
    rows.emplace_back(QString(40, 'i') + QStringLiteral(".l"), QStringLiteral("pid 1"));
    rows.emplace_back(QStringLiteral("WMWMWMWMWMWMWMWMWMWMW"), QStringLiteral("exited 1"));
    auto [found, measured] = widest(rows);
    QCOMPARE(found, measured);
    QCOMPARE(found, SwitchRow::widthFor(rows.back().first, rows.back().second));
    rows.resize(3000);
    // A Chinese detail, and letters shaped together (Devanagari, joined Arabic,
    // combining accents): each the widest among the same rows in turn.
    for (const auto& [title, detail] : std::vector<std::pair<QString, std::optional<QString>>>{
             {QStringLiteral("WMWMWMWMWMW"), QStringLiteral("已停用 · 退出码 1 · 已停用 · 已停用")},
             {QStringLiteral("क्षत्रिय क्षत्रिय क्षत्रिय"), std::nullopt},
             {QStringLiteral("بالعربية بالعربية بالعربية بالعربية بالعربية بالعربية"),
              QStringLiteral("pid 7")},
             {QString("e\u0301").repeated(40), std::nullopt}}) {
      rows.emplace_back(title, detail);
      std::tie(found, measured) = widest(rows);
      QCOMPARE(found, measured);
      QCOMPARE(found, SwitchRow::widthFor(title, detail));
      QVERIFY2(found < SwitchRow::kMaxWidth, qPrintable(title));
      rows.pop_back();
    }
    // Rows too wide for the menu are cut to its widest.
    rows.emplace_back(QString(300, 'x'), std::nullopt);
    QCOMPARE(widest(rows).first, SwitchRow::kMaxWidth);
    // Kerning draws a row narrower than its letters' advances add up to: a row of letters a
    // little narrower by their advances, but not kerned, is the wider one.
    const QFontMetricsF metrics(QApplication::font("QMenu"));
    auto advances = [&](const QString& text) {
      double sum = 0;
      for (QChar c : text)
        sum += metrics.horizontalAdvance(c);
      return sum;
    };
    const QString kerned = QStringLiteral("AV").repeated(20);
    QString plain;
    for (const QChar c : {u'n', u'i', u'.'})
      while (advances(plain + c) < advances(kerned))
        plain += c;
    if (metrics.horizontalAdvance(kerned) + 2 > metrics.horizontalAdvance(plain))
      QSKIP("the menu font does not kern A and V");
    rows.resize(3000);
    rows.emplace_back(kerned, std::nullopt);
    rows.emplace_back(plain, std::nullopt);
    std::tie(found, measured) = widest(rows);
    QCOMPARE(found, SwitchRow::widthFor(plain, std::nullopt));
    QCOMPARE(found, measured);
  }

  void absentDetailAddsNothingAndEmptyDetailAddsTheGap() {
    // A title wide enough that the minimum width does not hide the difference.
    const QString title = QString(25, 'm');
    const int base = advance(title) + 17 + 16 + 38 + 14;
    QVERIFY(base > 260 && base + 20 < 560);
    SwitchRow absent(title, std::nullopt, false, true, {});
    SwitchRow empty(title, QString(), false, true, {});
    QCOMPARE(absent.width(), base);
    QCOMPARE(empty.width(), base + 8);
    QVERIFY(!absent.detail());
    // At its own width a row shows its whole title, fractional text widths included.
    for (const QString& text : {QStringLiteral("com.example.alpha.backup.agent"),
                                QStringLiteral("Il1.,;ÿ漢字Il1.,;ÿ漢字Il1.,;ÿ漢字")}) {
      SwitchRow fitted(text, QStringLiteral("pid 1234567 · disabled"), false, true, {});
      QVERIFY(fitted.width() > 260);
      QCOMPARE(fitted.shownTitle(), text);
    }
    QVERIFY(absent.detailRect().isEmpty());
  }

  void laysOutTheSpacings() {
    SwitchRow row("Backup", QStringLiteral("pid 12"), true, true, {});
    row.resize(400, 32);  // the menu stretches rows to its width
    row.show();
    QCOMPARE(row.titleRect().x(), 17);
    QCOMPARE(row.titleRect().width(), advance("Backup"));
    QCOMPARE(row.detailRect().x(), row.titleRect().x() + row.titleRect().width() + 8);
    QCOMPARE(row.toggle()->geometry(), QRect(400 - 14 - 38, 5, 38, 22));
    QVERIFY(std::abs(row.titleRect().center().y() - 16) <= 1);
    // Title and detail share a baseline; the detail is the smaller text.
    QCOMPARE(row.titleRect().y() + QFontMetrics(row.titleFont()).ascent(),
             row.detailRect().y() + QFontMetrics(row.detailFont()).ascent());
    QVERIFY(row.detailFont().pointSizeF() < row.titleFont().pointSizeF());
  }

  void releaseInsideAnEnabledRowFlipsAndReports() {
    std::vector<bool> reported;
    SwitchRow row("Backup", std::nullopt, false, true, [&](bool on) { reported.push_back(on); });
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(30, 16));
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(30, 16));
    QCOMPARE(reported, (std::vector<bool>{true, false}));
    QVERIFY(!row.toggle()->isOn());
  }

  void disabledRowAndReleaseOutsideDoNothing() {
    int calls = 0;
    SwitchRow disabled("Backup", std::nullopt, true, false, [&](bool) { ++calls; });
    QTest::mouseClick(&disabled, Qt::LeftButton, {}, QPoint(30, 16));
    QVERIFY(disabled.toggle()->isOn());

    SwitchRow row("Backup", std::nullopt, false, true, [&](bool) { ++calls; });
    QTest::mousePress(&row, Qt::LeftButton, {}, QPoint(30, 16));
    QTest::mouseRelease(&row, Qt::LeftButton, {}, QPoint(30, 40));  // dragged off the row
    QTest::mouseRelease(&row, Qt::LeftButton, {}, QPoint(-1, 16));
    QCOMPARE(calls, 0);
    QVERIFY(!row.toggle()->isOn());
  }

  void disabledRowIsDrawnGreyAndDimmed() {
    SwitchRow disabled("Backup", QStringLiteral("pid 3"), true, false, {});
    SwitchRow enabled("Backup", QStringLiteral("pid 3"), true, true, {});
    const QColor grey = disabled.palette().color(QPalette::Disabled, QPalette::WindowText);
    QCOMPARE(disabled.titleColor(), grey);
    QCOMPARE(disabled.detailColor(), grey);
    QVERIFY(enabled.titleColor() != grey);
    QVERIFY(enabled.detailColor() != grey);
    QVERIFY(!disabled.toggle()->isSwitchEnabled());
    QVERIFY(enabled.toggle()->isSwitchEnabled());
  }

  void clickOnTheSwitchReachesTheRow() {
    int calls = 0;
    SwitchRow row("Backup", std::nullopt, false, true, [&](bool) { ++calls; });
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    const QPoint onSwitch = row.toggle()->geometry().center();
    QCOMPARE(row.childAt(onSwitch), nullptr);
    // Through the window, as a real click arrives: the switch is no target.
    QTest::mouseClick(row.windowHandle(), Qt::LeftButton, {}, onSwitch);
    QCOMPARE(calls, 1);
    QVERIFY(row.toggle()->isOn());
  }

  void switchDrawsKnobTrackAndDimming() {
    CapsuleSwitch off(false, true);
    CapsuleSwitch on(true, true);
    CapsuleSwitch dimmed(true, false);
    QCOMPARE(off.sizeHint(), QSize(38, 22));
    const QImage offImage = paint(off);
    const QImage onImage = paint(on);
    const QImage dimmedImage = paint(dimmed);
    // The knob (18 across, 2 in from the edge) is white where it sits.
    QCOMPARE(QColor(offImage.pixel(11, 11)), QColor(Qt::white));
    QCOMPARE(QColor(onImage.pixel(27, 11)), QColor(Qt::white));
    // The track elsewhere: translucent grey when off, the accent colour when on.
    QCOMPARE(qAlpha(offImage.pixel(30, 11)), 102);
    QCOMPARE(QColor(onImage.pixel(8, 11)).rgb(),
             on.palette().color(QPalette::Active, QPalette::Highlight).rgb());
    QCOMPARE(qAlpha(onImage.pixel(8, 11)), 255);
    // Disabled: track, knob shadow and knob each drawn at 0.45, one over the other.
    QVERIFY(std::abs(qAlpha(dimmedImage.pixel(8, 11)) - 115) <= 2);
    const double knob = 1 - 0.55 * (1 - 0.45 * 0.25) * 0.55;
    QVERIFY(std::abs(qAlpha(dimmedImage.pixel(27, 11)) - 255 * knob) <= 2);
    // The corners lie outside the capsule.
    QCOMPARE(qAlpha(onImage.pixel(0, 0)), 0);
    // Switches in one look share one drawing, but each is drawn as it is now: one turned on,
    // and one on a palette of another accent colour.
    off.setOn(true);
    QCOMPARE(paint(off), onImage);
    CapsuleSwitch green(true, true);
    QPalette palette = green.palette();
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(0, 160, 0));
    green.setPalette(palette);
    QCOMPARE(QColor(paint(green).pixel(8, 11)).rgb(), QColor(0, 160, 0).rgb());
    QCOMPARE(paint(on), onImage);
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::SwitchRowTest)
#include "switch_row_test.moc"
