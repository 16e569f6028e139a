// SPDX-License-Identifier: MIT
#include "ui/common/Twips.h"
#include "ui/help/AboutWindowOpener.h"
#include "ui/help/WindowIcons.h"
#include "ui/help/frmAbout.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>

class tst_About : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void centresInSinglePrecision_data();
    void centresInSinglePrecision();
    void windowLooksAsDesigned();
    void opensCentredOverTheMainWindow();
    void secondOpenOnlyRaisesTheOneWindow();
    void reopenedWindowIsCentredAnew();
    void picturesAreBuiltIn();
    void readsUnderADarkSchemeAndEscapeCloses();

private:
    static int aboutWindowCount();
    // The main window at the given outer place, in twips.
    static void placeMainWindow(QWidget &mainWindow, float left, float top, float width, float height);
};

// A failed check leaves its About window open; the next test must not count it.
void tst_About::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmAbout *>(w))
            w->close();
    }
    QTRY_COMPARE(aboutWindowCount(), 0);
}

int tst_About::aboutWindowCount()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        count += qobject_cast<frmAbout *>(w) ? 1 : 0;
    return count;
}

void tst_About::placeMainWindow(QWidget &mainWindow, float left, float top, float width, float height)
{
    // Shown first, so that its frame is known and the outer size comes out exact.
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    twips::setOuterGeometry(&mainWindow, {left, top, width, height});
    const twips::WindowGeometry placed = twips::outerGeometry(&mainWindow);
    QCOMPARE(placed.left, left);
    QCOMPARE(placed.top, top);
    QCOMPARE(placed.width, width);
    QCOMPARE(placed.height, height);
}

void tst_About::centresInSinglePrecision_data()
{
    QTest::addColumn<float>("mainLeft");
    QTest::addColumn<float>("mainTop");
    QTest::addColumn<float>("mainWidth");
    QTest::addColumn<float>("mainHeight");
    QTest::addColumn<float>("aboutWidth");
    QTest::addColumn<float>("aboutHeight");
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");

    QTest::newRow("usual") << 1200.f << 1200.f << 7905.f << 7815.f << 6615.f << 2595.f << 1845.f << 3810.f;
    // Half twips are kept, not rounded away.
    QTest::newRow("odd difference") << 1200.f << 1200.f << 7906.f << 7816.f << 6615.f << 2595.f << 1845.5f << 3810.5f;
    // Larger than the main window: it overhangs above and to the left, and is
    // not pulled back onto the screen.
    QTest::newRow("about larger") << 0.f << 0.f << 3000.f << 1500.f << 6615.f << 2595.f << -1807.5f << -547.5f;
}

void tst_About::centresInSinglePrecision()
{
    QFETCH(float, mainLeft);
    QFETCH(float, mainTop);
    QFETCH(float, mainWidth);
    QFETCH(float, mainHeight);
    QFETCH(float, aboutWidth);
    QFETCH(float, aboutHeight);
    QFETCH(float, left);
    QFETCH(float, top);

    const TwipsPoint corner = centredOver({mainLeft, mainTop, mainWidth, mainHeight}, aboutWidth, aboutHeight);
    QCOMPARE(corner.left, left);
    QCOMPARE(corner.top, top);
}

void tst_About::windowLooksAsDesigned()
{
    AboutWindowOpener opener;
    QWidget mainWindow;
    frmAbout *about = opener.open(&mainWindow);
    QVERIFY(about);
    QVERIFY(QTest::qWaitForWindowExposed(about));

    QCOMPARE(about->objectName(), QStringLiteral("frmAbout"));
    QCOMPARE(about->windowTitle(), QStringLiteral("About Vexalo"));
    // No owner: the main window stays usable and may close first.
    QCOMPARE(about->parentWidget(), nullptr);
    QVERIFY(!about->isModal());
    const Qt::WindowFlags flags = about->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(about->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!about->windowIcon().isNull());

    // Client area 6495 x 2115 twips, white.
    QCOMPARE(about->size(), QSize(433, 141));
    const QImage shot = about->grab().toImage();
    QCOMPARE(QColor(shot.pixel(432, 112)), QColor(Qt::white));
    // The banner is drawn from the top-left corner and covers 431 x 110.
    QCOMPARE(shot.pixel(0, 0), WindowIcons::aboutBanner().toImage().pixel(0, 0));
    QCOMPARE(shot.pixel(430, 109), WindowIcons::aboutBanner().toImage().pixel(430, 109));

    QLabel *status = about->findChild<QLabel *>(QStringLiteral("lblStatus"));
    QVERIFY(status);
    QCOMPARE(status, about->lblStatus);
    QCOMPARE(status->geometry(), QRect(0, 120, 433, 25));
    const QString text = status->text();
    QVERIFY2(text.endsWith(QStringLiteral("    Version: 4.1.27")), qPrintable(text));
    // A rights notice in front, then exactly four blanks.
    QVERIFY2(!text.endsWith(QStringLiteral("     Version: 4.1.27")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Vexalo")));
    QCOMPARE(text, frmAbout::statusText());

    about->close();
}

void tst_About::opensCentredOverTheMainWindow()
{
    QWidget mainWindow;
    placeMainWindow(mainWindow, 1200, 1200, 7905, 7815);

    AboutWindowOpener opener;
    frmAbout *about = opener.open(&mainWindow);
    QVERIFY(QTest::qWaitForWindowExposed(about));

    // Centred by its outer size, frame included, although the frame did not
    // exist yet when the place was chosen. The offscreen platform's frame is
    // 2 pixels wide: 6495 x 2115 twips inside make 6555 x 2175 outside, and
    // the corner lands at 1875, 4020.
    const twips::WindowGeometry placed = twips::outerGeometry(about);
    const QSize frame = about->frameGeometry().size() - about->size();
    QCOMPARE(placed.width, 6495.f + twips::fromPixels(frame.width()));
    QCOMPARE(placed.height, 2115.f + twips::fromPixels(frame.height()));
    const TwipsPoint expected = centredOver(twips::outerGeometry(&mainWindow), placed.width, placed.height);
    QCOMPARE(placed.left, expected.left);
    QCOMPARE(placed.top, expected.top);
    if (frame == QSize(4, 4)) {
        QCOMPARE(placed.left, 1875.f);
        QCOMPARE(placed.top, 4020.f);
    }
    about->close();
}

void tst_About::secondOpenOnlyRaisesTheOneWindow()
{
    QWidget mainWindow;
    placeMainWindow(mainWindow, 1200, 1200, 7905, 7815);
    AboutWindowOpener opener;
    frmAbout *first = opener.open(&mainWindow);
    QVERIFY(QTest::qWaitForWindowExposed(first));

    // The user moves it away and the main window moves too; opening again must
    // neither create a second window nor re-run the load step.
    first->move(10, 20);
    first->lblStatus->setText(QStringLiteral("still the first"));
    twips::setOuterPosition(&mainWindow, 3000, 3000);

    frmAbout *second = opener.open(&mainWindow);
    QCOMPARE(second, first);
    QCOMPARE(aboutWindowCount(), 1);
    QCOMPARE(second->pos(), QPoint(10, 20));
    QCOMPARE(second->lblStatus->text(), QStringLiteral("still the first"));
    QVERIFY(second->isVisible());
    second->close();
}

void tst_About::reopenedWindowIsCentredAnew()
{
    QWidget mainWindow;
    placeMainWindow(mainWindow, 1200, 1200, 7905, 7815);
    AboutWindowOpener opener;
    QPointer<frmAbout> first = opener.open(&mainWindow);
    QVERIFY(QTest::qWaitForWindowExposed(first));

    first->close();
    QTRY_VERIFY(first.isNull());
    QCOMPARE(opener.window(), nullptr);
    QCOMPARE(aboutWindowCount(), 0);

    twips::setOuterPosition(&mainWindow, 3000, 1500);
    frmAbout *again = opener.open(&mainWindow);
    QVERIFY(QTest::qWaitForWindowExposed(again));
    const twips::WindowGeometry placed = twips::outerGeometry(again);
    QCOMPARE(placed.left, 3000.f + (7905.f - placed.width) / 2);
    QCOMPARE(placed.top, 1500.f + (7815.f - placed.height) / 2);
    QCOMPARE(again->lblStatus->text(), frmAbout::statusText());
    QCOMPARE(aboutWindowCount(), 1);
    again->close();
}

void tst_About::picturesAreBuiltIn()
{
    const QPixmap banner = WindowIcons::aboutBanner();
    QCOMPARE(banner.size(), QSize(431, 110));
    QVERIFY(!banner.hasAlphaChannel());
    for (const QIcon &icon : {WindowIcons::mainWindow(), WindowIcons::viewer(), WindowIcons::about()}) {
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(32, 32).isNull());
    }
    // Three different pictures, so the windows can be told apart in a task bar.
    const QImage mainIcon = WindowIcons::mainWindow().pixmap(32, 32).toImage();
    QVERIFY(mainIcon != WindowIcons::viewer().pixmap(32, 32).toImage());
    QVERIFY(mainIcon != WindowIcons::about().pixmap(32, 32).toImage());
}

// A dark scheme's light grey text once vanished on the white status line.
void tst_About::readsUnderADarkSchemeAndEscapeCloses()
{
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(36, 36, 36));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 236));
    dark.setColor(QPalette::Text, QColor(238, 238, 236));
    QApplication::setPalette(dark);

    AboutWindowOpener opener;
    QPointer<frmAbout> about = opener.open(nullptr);
    QVERIFY(QTest::qWaitForWindowActive(about));
    QApplication::setPalette(light);
    const QImage line = about->lblStatus->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < line.height(); ++y) {
        for (int x = 0; x < line.width(); ++x)
            darkest = std::min(darkest, qGray(line.pixel(x, y)));
    }
    QVERIFY2(darkest < 80, qPrintable(QString::number(darkest)));
    QCOMPARE(QColor(line.pixel(0, 0)), QColor(Qt::white));

    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(about.isNull());
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
