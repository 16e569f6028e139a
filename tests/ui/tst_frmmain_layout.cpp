// SPDX-License-Identifier: MIT
#include "FakeServices.h"
#include "ui/common/Twips.h"
#include "ui/frmMain/FileListModel.h"
#include "ui/frmMain/frmMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QtTest>

// The window's layout as the program defines it: name, kind, caption or
// contents, place and size in twips, background. One row per control.
class TestFrmMainLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void controls_data();
    void controls();
    void tabOrderFollowsTheTable();
    void menusAndCaption();
    void patternListAndFileListAgree();
};

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
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(control))
        shown = label->text();
    else if (auto *combo = qobject_cast<QComboBox *>(control); combo && combo->isEditable())
        shown = combo->currentText();
    else if (auto *edit = qobject_cast<QPlainTextEdit *>(control))
        shown = edit->toPlainText();
    QCOMPARE(shown, caption);

    if (background.isValid())
        QCOMPARE(control->palette().color(QPalette::Base), background);

    // Captions must fit their boxes, whatever font the system substitutes.
    if (auto *label = qobject_cast<QLabel *>(control))
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
}

void TestFrmMainLayout::tabOrderFollowsTheTable()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    const QStringList expected = {"Drive1", "Dir1", "lstFiles", "cmdSelectAll", "cmdClear", "cmdLower",
                                  "cmdUpper", "cmbPattern", "txtFindString", "txtReplaceString", "txtResults",
                                  "chkBackup", "chkCaseSensitive", "chkTrim", "cmdReplace", "cmdRestore",
                                  "cmdExit", "txtLastFolder", "Drive1"};
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

void TestFrmMainLayout::menusAndCaption()
{
    FakeServices fakes;
    frmMain window(fakes.services());
    QCOMPARE(window.windowTitle(), QStringLiteral("Vexalo"));

    const QList<QAction *> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 1); // the pop-up menu never shows on the menu bar
    QCOMPARE(bar.first()->menu()->objectName(), QStringLiteral("mnuHelp"));
    QCOMPARE(bar.first()->text(), QStringLiteral("Help"));

    QStringList help;
    for (QAction *action : window.mnuHelp->actions())
        help << action->objectName() + QLatin1Char('=') + (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(help, (QStringList{"mnuEmail=Email Author", "mnuWebSite=Web Site", "mnuForums=Discussion Forums",
                                "mnuOnlineHelp=Online Help", "mnuUpdate=Online Update", "mnuSel=-", "mnuAbout=About"}));

    auto *popup = window.findChild<QMenu *>(QStringLiteral("mnuPopUpCase"));
    QVERIFY(popup);
    QCOMPARE(popup->title(), QStringLiteral("Popup"));
    QStringList items;
    for (QAction *action : popup->actions())
        items << action->objectName() + QLatin1Char('=') + action->text();
    QCOMPARE(items, (QStringList{"mnuUpperCase=Upper Case", "mnuLowerCase=Lower Case", "mnuSelectAll=Select All",
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

QTEST_MAIN(TestFrmMainLayout)
#include "tst_frmmain_layout.moc"
