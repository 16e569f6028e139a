// SPDX-License-Identifier: MIT
#include "FakeServices.h"
#include "ui/common/ReadableColours.h"
#include "ui/common/Twips.h"
#include "ui/frmMain/FileListModel.h"
#include "ui/frmMain/frmMain.h"
#include "platform/QtMessageBoxes.h"
#include "settings/MainWindowState.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace {

// Near-white text on a near-black window, as dark desktop schemes give.
QPalette darkScheme()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(36, 36, 36));
    dark.setColor(QPalette::WindowText, QColor(238, 238, 236));
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::Text, QColor(238, 238, 236));
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, QColor(238, 238, 236));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    dark.setColor(QPalette::Inactive, QPalette::Highlight, QColor(60, 60, 60));
    dark.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(200, 200, 200));
    return dark;
}

} // namespace

// The window's layout as the program defines it: name, kind, caption or
// contents, place and size in twips, background. One row per control.
class TestFrmMainLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void controls_data();
    void controls();
    void tabOrderFollowsTheTable();
    void accessKeys_data();
    void accessKeys();
    void keysForMenusAndButtons();
    void checkBoxesShareOneFont();
    void menusAndCaption();
    void patternListAndFileListAgree();
    void tallWindowOpensAtTheTop();
    void messageBoxShowsItsTitleWhole_data();
    void messageBoxShowsItsTitleWhole();
};

// The whole suite runs under a dark colour scheme: the layout must read the
// same under it as under a light one.
void TestFrmMainLayout::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setPalette(darkScheme());
}

void TestFrmMainLayout::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twipsRect");
    QTest::addColumn<QColor>("background"); // invalid: the style's own

    const QColor peach(255, 224, 192);
    const QColor none;
    auto row = [](const char *name, const char *kind, const char *caption, int l, int t, int w, int h, QColor c) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromUtf8(caption) << QRect(l, t, w, h) << c;
    };
    row("Drive1", "QComboBox", "", 120, 120, 1815, 315, peach);
    row("Dir1", "QListWidget", "", 120, 480, 1815, 2565, peach);
    row("lstFiles", "QListView", "", 120, 3120, 1815, 2625, peach);
    row("cmdSelectAll", "QPushButton", "Select", 240, 5880, 615, 255, none);
    row("cmdClear", "QPushButton", "Clear", 240, 6240, 615, 255, none);
    row("cmdLower", "QPushButton", "Lower", 1080, 5880, 735, 255, none);
    row("cmdUpper", "QPushButton", "Upper", 1080, 6240, 735, 255, none);
    row("cmbPattern", "QComboBox", "*.htm", 840, 6600, 1095, 315, peach);
    row("txtFindString", "QPlainTextEdit", "", 2040, 360, 5655, 1575, QColor(255, 255, 192));
    row("txtReplaceString", "QPlainTextEdit", "", 2040, 2280, 5655, 1455, QColor(192, 255, 255));
    row("txtResults", "QPlainTextEdit", "", 2040, 4080, 5655, 1815, QColor(192, 255, 192));
    row("chkBackup", "QCheckBox", "Create Backups", 2040, 6120, 1575, 195, none);
    row("chkCaseSensitive", "QCheckBox", "Case Sensitive", 2040, 6360, 1455, 255, none);
    row("chkTrim", "QCheckBox", "Trim Blank Lines", 2040, 6600, 1695, 255, none);
    row("cmdReplace", "QPushButton", "Replace", 5160, 6000, 855, 375, none);
    row("cmdRestore", "QPushButton", "Restore", 6120, 6000, 855, 375, none);
    row("cmdExit", "QPushButton", "Exit", 7080, 6000, 615, 375, none);
    row("txtLastFolder", "QLineEdit", "", 3720, 6600, 3975, 285, peach);
    row("lblPattern", "QLabel", "Pattern:", 120, 6600, 735, 255, none);
    row("Label1", "QLabel", "Replace This:", 2040, 120, 1335, 255, none);
    row("Label2", "QLabel", "With This:", 2040, 2040, 1455, 255, none);
    row("Label3", "QLabel", "Results:", 2040, 3840, 735, 255, none);
    row("lblFolders", "QLabel", "Last Folder:", 3720, 6360, 855, 255, none);
    row("Shape1", "QFrame", "", 3960, 0, 375, 375, none);
}

void TestFrmMainLayout::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, twipsRect);
    QFETCH(QColor, background);

    FakeServices fakes;
    frmMain window(fakes.services());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *control = window.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QVERIFY2(control->inherits(kind.toLatin1()), control->metaObject()->className());

    // Positions count from the client area's corner, just below the menu bar.
    const QPoint inWindow = control->mapTo(&window, QPoint(0, 0));
    QCOMPARE(inWindow.y(), window.menuBar()->geometry().bottom() + 1 + twips::toPixels(twipsRect.top()));
    QCOMPARE(inWindow.x(), twips::toPixels(twipsRect.left()));
    QCOMPARE(control->size(), QSize(twips::toPixels(twipsRect.width()), twips::toPixels(twipsRect.height())));

    QString shown;
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        shown = QString(button->text()).remove(QLatin1Char('&')); // the access key's mark is not shown
    else if (auto *label = qobject_cast<QLabel *>(control))
        shown = label->text();
    else if (auto *combo = qobject_cast<QComboBox *>(control); combo && combo->isEditable())
        shown = combo->currentText();
    else if (auto *edit = qobject_cast<QPlainTextEdit *>(control))
        shown = edit->toPlainText();
    QCOMPARE(shown, caption);

    if (background.isValid()) {
        QCOMPARE(control->palette().color(QPalette::Base), background);
        // Text, in a box or on a drop-down button, and selected entries read
        // on the fixed background whatever the scheme's own colours.
        const QPalette colours = control->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            QVERIFY(colours::contrast(colours.color(group, QPalette::Text), background) >= 4.5);
            QVERIFY(colours::contrast(colours.color(group, QPalette::ButtonText), background) >= 4.5);
            QVERIFY(colours::contrast(colours.color(group, QPalette::HighlightedText),
                                      colours.color(group, QPalette::Highlight))
                    >= 4.5);
            QVERIFY(colours::contrast(colours.color(group, QPalette::Highlight), background) >= 3);
        }
    }

    // Captions must fit their boxes, whatever font the system substitutes.
    // Measured unrounded: at a scale of 1.5 a whole logical pixel is too coarse.
    if (auto *label = qobject_cast<QLabel *>(control))
        QVERIFY(QFontMetricsF(label->font()).horizontalAdvance(label->text()) <= label->width() + 0.5);
}

void TestFrmMainLayout::tabOrderFollowsTheTable()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    const QStringList expected = {"Drive1",     "Dir1",      "lstFiles",         "cmdSelectAll",  "cmdClear",
                                  "cmdLower",   "cmdUpper",  "cmbPattern",       "txtFindString", "txtReplaceString",
                                  "txtResults", "chkBackup", "chkCaseSensitive", "chkTrim",       "cmdReplace",
                                  "cmdRestore", "cmdExit",   "txtLastFolder",    "Drive1"};
    window.Drive1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), window.Drive1);
    QStringList visited{QStringLiteral("Drive1")};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // An editable combo box hands the focus to its line edit.
        if (qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << focus->objectName();
    }
    QCOMPARE(visited, expected);
}

void TestFrmMainLayout::accessKeys_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::newRow("cmdSelectAll") << Qt::Key_S;
    QTest::newRow("cmdClear") << Qt::Key_E;
    QTest::newRow("cmdLower") << Qt::Key_L;
    QTest::newRow("cmdUpper") << Qt::Key_U;
    QTest::newRow("cmdReplace") << Qt::Key_R;
    QTest::newRow("cmdRestore") << Qt::Key_O;
    QTest::newRow("cmdExit") << Qt::Key_X;
    QTest::newRow("chkBackup") << Qt::Key_B;
    QTest::newRow("chkCaseSensitive") << Qt::Key_C;
    QTest::newRow("chkTrim") << Qt::Key_T;
}

// Alt and the key press that control and no other, wherever the focus is.
void TestFrmMainLayout::accessKeys()
{
    QFETCH(Qt::Key, key);
    FakeServices fakes;
    frmMain window(fakes.services());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.txtFindString->setFocus();

    QHash<QString, int> clicks;
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        connect(button, &QAbstractButton::clicked, this, [&clicks, button] { ++clicks[button->objectName()]; });
    }
    QTest::keyClick(window.txtFindString, key, Qt::AltModifier);
    // A key that two controls shared would only move the focus between them.
    QTRY_COMPARE(clicks, (QHash<QString, int>{{QString::fromLatin1(QTest::currentDataTag()), 1}}));
    QVERIFY(window.txtFindString->toPlainText().isEmpty());
}

void TestFrmMainLayout::keysForMenusAndButtons()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    window.txtFindString->setFocus();
    QTest::keyClick(window.txtFindString, Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(window.mnuHelp->isVisible());
    QTest::keyClick(window.mnuHelp, Qt::Key_Escape);
    QTest::keyClick(window.mnuHelp, Qt::Key_Escape);
    QTRY_VERIFY(!window.mnuHelp->isVisible());
    window.txtFindString->setFocus();
    QTest::keyClick(window.txtFindString, Qt::Key_F10);
    QTRY_VERIFY(window.mnuHelp->isVisible());
    QTest::keyClick(window.mnuHelp, Qt::Key_Escape);
    QTest::keyClick(window.mnuHelp, Qt::Key_Escape);
    QTRY_VERIFY(!window.mnuHelp->isVisible());

    // Enter presses the button that has the focus: Clear empties the selection.
    QSignalSpy cleared(window.cmdClear, &QPushButton::clicked);
    window.cmdClear->setFocus();
    QTest::keyClick(window.cmdClear, Qt::Key_Return);
    QTest::keyClick(window.cmdClear, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(cleared.count(), 2);

    // Ctrl+Q closes the window as Exit does.
    window.txtReplaceString->setFocus();
    QTest::keyClick(window.txtReplaceString, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!window.isVisible());
}

// Each caption is shrunk only where its box is too narrow for it. At a scale
// of 1.5 or 2 (this test runs again under both) rounding once made "Case
// Sensitive" smaller than the two check boxes beside it.
void TestFrmMainLayout::checkBoxesShareOneFont()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    QCOMPARE(window.chkCaseSensitive->font().pointSizeF(), window.chkBackup->font().pointSizeF());
    QCOMPARE(window.chkTrim->font().pointSizeF(), window.chkBackup->font().pointSizeF());
}

void TestFrmMainLayout::menusAndCaption()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    QCOMPARE(window.windowTitle(), QStringLiteral("Vexalo"));

    const QList<QAction *> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 2); // the pop-up menu never shows on the menu bar
    QCOMPARE(bar.last()->menu()->objectName(), QStringLiteral("mnuHelp"));
    QCOMPARE(bar.last()->text(), QStringLiteral("&Help"));
    // The commands beyond the buttons, left of Help; its access key is none
    // of the buttons'.
    QCOMPARE(bar.first()->menu()->objectName(), QStringLiteral("mnuRun"));
    QCOMPARE(bar.first()->text(), QStringLiteral("Ru&n"));
    QStringList run;
    for (QAction *action : window.mnuRun->actions())
        run << action->objectName() + QLatin1Char('=') + (action->isSeparator() ? QStringLiteral("-") : action->text())
                + (action->shortcut().isEmpty() ? QString() : QLatin1Char(' ') + action->shortcut().toString());
    QCOMPARE(run,
             (QStringList{"mnuPreview=&Preview F5", "=-", "mnuReplace=&Replace", "mnuRestore=Rest&ore", "=-",
                          "mnuUndo=&Undo Last Run", "=-", "mnuRegularExpression=Regular &Expression"}));

    QStringList help;
    for (QAction *action : window.mnuHelp->actions())
        help << action->objectName() + QLatin1Char('=')
                + (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(help,
             (QStringList{"mnuEmail=Email Author", "mnuWebSite=Web Site", "mnuForums=Discussion Forums",
                          "mnuOnlineHelp=Online Help", "mnuUpdate=Online Update", "mnuSel=-", "mnuAbout=About"}));

    auto *popup = window.findChild<QMenu *>(QStringLiteral("mnuPopUpCase"));
    QVERIFY(popup);
    QCOMPARE(popup->title(), QStringLiteral("Popup"));
    QStringList items;
    for (QAction *action : popup->actions())
        items << action->objectName() + QLatin1Char('=') + action->text();
    QCOMPARE(items,
             (QStringList{"mnuUpperCase=Upper Case", "mnuLowerCase=Lower Case", "mnuSelectAll=Select All",
                          "mnuUnSelectAll=UnSelect All"}));

    QCOMPARE(window.Shape1->frameShape(), QFrame::Box);
    QCOMPARE(window.Shape1->focusPolicy(), Qt::NoFocus);
    QVERIFY(window.txtLastFolder->isReadOnly());
}

void TestFrmMainLayout::patternListAndFileListAgree()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    QStringList items;
    for (int i = 0; i < window.cmbPattern->count(); ++i)
        items << window.cmbPattern->itemText(i);
    QCOMPARE(items, (QStringList{"*.htm", "*.txt", "*.", "*.*", "*.html", "*.bat", "*.old"}));
    QVERIFY(window.cmbPattern->isEditable());
    QCOMPARE(window.cmbPattern->currentText(), QStringLiteral("*.htm"));
    QCOMPARE(window.fileList()->pattern(), QStringLiteral("*.htm"));
}

// At 200% on a 1280x1024 screen (here the offscreen screen at 2) the window
// is taller than the screen: it opens at the top, where its title bar and
// most of its controls are in reach. Where it fits it keeps its place.
void TestFrmMainLayout::tallWindowOpensAtTheTop()
{
    QTemporaryDir dir;
    FakeServices fakes;
    fakes.places.program = dir.path();
    fakes.places.working = dir.path();
    frmMain window(fakes.services());
    window.useSettingsFile(dir.filePath(QStringLiteral("store.ini")));
    window.startUp();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = window.screen()->availableGeometry();
    const twips::WindowGeometry outer = twips::outerGeometry(&window);
    if (twips::toPixels(outer.height) > screen.height())
        QCOMPARE(twips::toPixels(outer.top), screen.top());
    else
        QCOMPARE(outer.top, vexalo::defaultMainTop);
}

void TestFrmMainLayout::messageBoxShowsItsTitleWhole_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("short text") << QStringLiteral("Find & Replace") << QStringLiteral("No files selected!");
    QTest::newRow("German") << QStringLiteral("Suchen und Ersetzen") << QStringLiteral("Keine Dateien!");
    QTest::newRow("long title") << QStringLiteral("Undo Last Run of the folder with a long name")
                                << QStringLiteral("?");
}

// The window manager cuts a title wider than the box in the middle ("Find...
// lace"); the box is made wide enough for it.
void TestFrmMainLayout::messageBoxShowsItsTitleWhole()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QtMessageBoxes boxes;
    MessageRequest request;
    request.title = title;
    request.text = text;
    request.buttons = MessageRequest::Buttons::OkCancel;
    request.okText = QStringLiteral("Undo");
    int width = 0;
    int needed = 0;
    QString okCaption;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        okCaption = box->button(QMessageBox::Ok)->text();
        width = box->frameGeometry().width();
        needed = QtMessageBoxes::widthForTitle(*box);
        box->button(QMessageBox::Cancel)->click();
    });
    QCOMPARE(boxes.show(nullptr, request), MessageAnswer::Cancel);
    QCOMPARE(okCaption, QStringLiteral("Undo"));
    QVERIFY(needed > QFontMetrics(QApplication::font()).horizontalAdvance(title));
    QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
}

QTEST_MAIN(TestFrmMainLayout)
#include "tst_frmmain_layout.moc"
