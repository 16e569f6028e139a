// SPDX-License-Identifier: MIT
#include "FakeServices.h"
#include "engine/files/FileNames.h"
#include "tests/common/TestFiles.h"
#include "ui/common/Twips.h"
#include "ui/frmMain/FileListModel.h"
#include "ui/frmMain/frmMain.h"
#include "tests/common/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QAccessible>
#include <QScreen>
#include <QScrollBar>
#include <QToolTip>
#include <QtTest>

#include <sys/stat.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// What a screen reader does to a control that offers a press.
void pressAccessibly(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface && iface->actionInterface());
    QVERIFY(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// The Results box shows its last line: scrolled to the end, or not scrollable.
bool showsItsEnd(const QPlainTextEdit *box)
{
    return box->verticalScrollBar()->value() == box->verticalScrollBar()->maximum();
}

} // namespace

// The main window driven as a user drives it: clicks on the folder list, the
// file list and the buttons, typing into the boxes; then the files on disk,
// the controls and the recorded message boxes are checked.
class TestFrmMain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void cleanup();

    void browsingFollowsFolderAndPattern();
    void selectionByMouseAndButtons();
    void rightButtonOpensThePopUpAndKeepsTheSelection();
    void replaceWithEachOption();
    void restorePutsBackupsBack();
    void previewFromTheRunMenu();
    void undoLastRunFromTheRunMenu();
    void twoTypedLinesInACrLfFile();
    void failedFileIsLoggedAndTheRunGoesOn();
    void nothingSelected_data();
    void nothingSelected();
    void historyAfterSeveralRunsAndTheWalk();
    void lastFolderDoubleClickAndMissingFolder();
    void caseConversion();
    void swapMirrorsAndSelectOnFocus();
    void viewerOpensBesideAndFollowsClicks();
    void unavailableDrive();
    void typedPatternIsApplied();
    void refusedFolderLeavesBothListsOnTheOpenOne();
    void currentFolderInViewAndCutOffNamesInTooltips();
    void viewerOpensOnTheScreen();
    void driveListFollowsMounts();
    void namesThatAreNotUtf8();

private:
    void browseTo(const QString &folder);
    void clickFile(const QString &name, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void choosePattern(const QString &pattern);
    QStringList listed() const { return m_window->fileList()->names(); }

    FakeServices *m_fakes = nullptr;
    frmMain *m_window = nullptr;
    QTemporaryDir *m_dir = nullptr;
};

void TestFrmMain::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_fakes = new FakeServices;
    m_window = new frmMain(m_fakes->services());
    m_window->ExceptionList = QStringLiteral(".exe .dll .ocx .xls .jpg .gif .bmp .mp3");
    m_window->move(100, 100);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestFrmMain::cleanup()
{
    delete m_window;
    delete m_fakes;
    delete m_dir;
}

// Climbs to the root and clicks down through each folder, as a user would.
void TestFrmMain::browseTo(const QString &folder)
{
    auto clickPath = [this](const QString &path) {
        QListWidget *list = m_window->Dir1;
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toString() == path) {
                list->scrollToItem(list->item(row));
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
                return true;
            }
        }
        return false;
    };
    QVERIFY(clickPath(QStringLiteral("/")));
    QString path;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        QVERIFY2(clickPath(path), qPrintable(path));
    }
    QCOMPARE(m_window->dir1Path(), folder);
}

void TestFrmMain::clickFile(const QString &name, Qt::KeyboardModifiers modifiers)
{
    const int row = int(listed().indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name));
    const QModelIndex index = m_window->fileList()->index(row);
    m_window->lstFiles->scrollTo(index);
    QTest::mouseClick(m_window->lstFiles->viewport(), Qt::LeftButton, modifiers,
                      m_window->lstFiles->visualRect(index).center());
}

void TestFrmMain::choosePattern(const QString &pattern)
{
    // Keyboard choice in the combo box: each step chooses the next item.
    QComboBox *combo = m_window->cmbPattern;
    combo->setFocus();
    int guard = 0;
    while (combo->currentText() != pattern && guard++ < 10)
        QTest::keyClick(combo, combo->currentIndex() < combo->findText(pattern) ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(m_window->fileList()->pattern(), pattern);
}

void TestFrmMain::browsingFollowsFolderAndPattern()
{
    const QString root = m_dir->path();
    QDir(root).mkdir(QStringLiteral("sub"));
    for (const char *name : {"b.HTM", "a.htm", ".hidden.htm", "c.txt", "noext", "page.html"})
        writeFile(root + QLatin1Char('/') + QLatin1String(name), "x");
    writeFile(root + QStringLiteral("/sub/inner.htm"), "x");

    browseTo(root);
    QCOMPARE(listed(), (QStringList{"a.htm", "b.HTM"}));
    QCOMPARE(m_fakes->places.working, root);

    // The folder list shows ancestors, the current folder, then its sub-folders.
    const QListWidget *dir = m_window->Dir1;
    QCOMPARE(dir->currentItem()->data(Qt::UserRole).toString(), root);
    QCOMPARE(dir->item(dir->count() - 1)->text(), QStringLiteral("sub"));

    choosePattern(QStringLiteral("*.txt"));
    QCOMPARE(listed(), QStringList{"c.txt"});
    choosePattern(QStringLiteral("*."));
    QCOMPARE(listed(), QStringList{"noext"});
    choosePattern(QStringLiteral("*.*"));
    QCOMPARE(listed(), (QStringList{"a.htm", "b.HTM", "c.txt", "noext", "page.html"}));

    // Typing a pattern that is not one of the items changes nothing.
    m_window->cmbPattern->lineEdit()->clear();
    QTest::keyClicks(m_window->cmbPattern->lineEdit(), QStringLiteral("*.zz"));
    QCOMPARE(listed().size(), 5);

    browseTo(root + QStringLiteral("/sub"));
    QCOMPARE(m_window->fileList()->pattern(), QStringLiteral("*.*"));
    QCOMPARE(listed(), QStringList{"inner.htm"});
    QCOMPARE(m_fakes->places.working, root + QStringLiteral("/sub"));
}

void TestFrmMain::selectionByMouseAndButtons()
{
    for (const char *name : {"a.htm", "b.htm", "c.htm", "d.htm", "e.htm"})
        writeFile(m_dir->filePath(QLatin1String(name)), "x");
    browseTo(m_dir->path());

    clickFile(QStringLiteral("b.htm"));
    QCOMPARE(m_window->selectedFileNames(), QStringList{"b.htm"});
    clickFile(QStringLiteral("d.htm"), Qt::ShiftModifier);
    QCOMPARE(m_window->selectedFileNames(), (QStringList{"b.htm", "c.htm", "d.htm"}));
    clickFile(QStringLiteral("c.htm"), Qt::ControlModifier);
    clickFile(QStringLiteral("a.htm"), Qt::ControlModifier);
    QCOMPARE(m_window->selectedFileNames(), (QStringList{"a.htm", "b.htm", "d.htm"}));

    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QCOMPARE(m_window->selectedFileNames().size(), 5);
    QTest::mouseClick(m_window->cmdClear, Qt::LeftButton);
    QVERIFY(m_window->selectedFileNames().isEmpty());
    m_window->mnuSelectAll->trigger();
    QCOMPARE(m_window->selectedFileNames().size(), 5);
    m_window->mnuUnSelectAll->trigger();
    QVERIFY(m_window->selectedFileNames().isEmpty());
}

void TestFrmMain::rightButtonOpensThePopUpAndKeepsTheSelection()
{
    for (const char *name : {"a.htm", "b.htm", "c.htm"})
        writeFile(m_dir->filePath(QLatin1String(name)), "x");
    browseTo(m_dir->path());
    clickFile(QStringLiteral("a.htm"));
    clickFile(QStringLiteral("b.htm"), Qt::ControlModifier);

    QWidget *viewport = m_window->lstFiles->viewport();
    const QPoint onC = m_window->lstFiles->visualRect(m_window->fileList()->index(2)).center();
    QTest::mouseClick(viewport, Qt::MiddleButton, {}, onC);
    QVERIFY(!m_window->mnuPopUpCase->isVisible());
    // It opens when the button comes up. Opened by the press, where X11 sends
    // its context-menu event, it once stood at the current file and took the
    // release itself, so the pointer's place was never used.
    // Sent to the window, as the window system does, so that Qt makes its
    // context-menu event of the press too.
    QWindow *window = m_window->windowHandle();
    const QPoint inWindow = viewport->mapTo(m_window, onC);
    QTest::mousePress(window, Qt::RightButton, {}, inWindow);
    QVERIFY(!m_window->mnuPopUpCase->isVisible());
    QTest::mouseRelease(window, Qt::RightButton, {}, inWindow);
    QTRY_VERIFY(m_window->mnuPopUpCase->isVisible());
    QCOMPARE(m_window->mnuPopUpCase->actions().size(), 4);
    // Under the pointer, not at the current file (b.htm) nor the list's corner.
    QCOMPARE(m_window->mnuPopUpCase->pos(), viewport->mapToGlobal(onC));
    // The pop-up acts on the selection, so the right button must not replace it.
    QCOMPARE(m_window->selectedFileNames(), (QStringList{"a.htm", "b.htm"}));
    m_window->mnuPopUpCase->close();
    QTRY_VERIFY(!m_window->mnuPopUpCase->isVisible());

    // From the keyboard (the menu key, Shift+F10) it opens at the current file.
    const QPoint onB = m_window->lstFiles->visualRect(m_window->fileList()->index(1)).center();
    m_window->lstFiles->setFocus();
    QTest::keyClick(m_window->lstFiles, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(m_window->mnuPopUpCase->isVisible());
    QCOMPARE(m_window->mnuPopUpCase->pos(), viewport->mapToGlobal(onB));
    m_window->mnuPopUpCase->close();
}

void TestFrmMain::replaceWithEachOption()
{
    writeFile(m_dir->filePath("a.htm"), "Hello world, hello again");
    writeFile(m_dir->filePath("b.exe"), "hello");
    writeFile(m_dir->filePath("c.htm"), "nothing here");
    browseTo(m_dir->path());
    choosePattern(QStringLiteral("*.*"));
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    m_window->txtResults->setPlainText(QStringLiteral("old log"));

    QTest::keyClicks(m_window->txtFindString, QStringLiteral("hello"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("bye"));

    // Case sensitive and backups on: only the lower-case word changes.
    QTest::mouseClick(m_window->chkCaseSensitive, Qt::LeftButton);
    QTest::mouseClick(m_window->chkBackup, Qt::LeftButton);
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(m_window->txtResults->toPlainText(),
             QStringLiteral("a.htm:  replaced\nb.exe:  protected file\nc.htm:  not found"));
    QCOMPARE(readFile(m_dir->filePath("a.htm")), QByteArray("Hello world, bye again"));
    QCOMPARE(readFile(m_dir->filePath("a.htm.old")), QByteArray("Hello world, hello again"));
    QCOMPARE(readFile(m_dir->filePath("b.exe")), QByteArray("hello"));
    QVERIFY(!QFile::exists(m_dir->filePath("c.htm.old")));
    QCOMPARE(m_fakes->places.working, m_dir->path());

    // Case-insensitive, no backup, trimmed texts.
    QTest::mouseClick(m_window->chkCaseSensitive, Qt::LeftButton);
    QTest::mouseClick(m_window->chkBackup, Qt::LeftButton);
    QTest::mouseClick(m_window->chkTrim, Qt::LeftButton);
    m_window->txtFindString->setPlainText(QStringLiteral("HELLO\n\n"));
    m_window->txtReplaceString->setPlainText(QStringLiteral("Hi\n"));
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(m_window->txtFindString->toPlainText(), QStringLiteral("HELLO"));
    QCOMPARE(m_window->FindString, QStringLiteral("HELLO"));
    QCOMPARE(m_window->ReplaceString, QStringLiteral("Hi"));
    QCOMPARE(readFile(m_dir->filePath("a.htm")), QByteArray("Hi world, bye again"));
    QCOMPARE(readFile(m_dir->filePath("a.htm.old")), QByteArray("Hello world, hello again"));
    QCOMPARE(m_window->txtLastFolder->text(), m_dir->path());
}

// F5 runs a Preview: the Results box says what Replace would do, and nothing
// in the folder, the Folder history or the text fields changes. The menu's
// Replace then does what the preview said.
void TestFrmMain::previewFromTheRunMenu()
{
    writeFile(m_dir->filePath("index.htm"), "<b>a</b> <b>b</b> <b>c</b>");
    writeFile(m_dir->filePath("logo.dat"), QByteArray("<b>\0<b>", 7));
    writeFile(m_dir->filePath("none.htm"), "plain");
    writeFile(m_dir->filePath("pic.gif"), "<b>");
    writeFile(m_dir->filePath("locked.htm"), "<b>");
    ::chmod(QFile::encodeName(m_dir->filePath("locked.htm")).constData(), 0444);
    writeFile(m_dir->filePath("index.htm.old"), "older backup");
    browseTo(m_dir->path());
    choosePattern(QStringLiteral("*.*"));
    for (const char *name : {"index.htm", "locked.htm", "logo.dat", "none.htm", "pic.gif"})
        clickFile(QString::fromLatin1(name), Qt::ControlModifier);
    QTest::mouseClick(m_window->chkBackup, Qt::LeftButton);
    QTest::mouseClick(m_window->chkTrim, Qt::LeftButton);
    m_window->txtFindString->setPlainText(QStringLiteral("<B>\n"));
    m_window->txtReplaceString->setPlainText(QStringLiteral("<strong>"));
    const QStringList folders = m_window->Folders;
    const QStringList before = testfiles::fullListing(m_dir->path());

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTest::keyClick(m_window->txtReplaceString, Qt::Key_F5);
    QTRY_COMPARE(
        m_window->txtResults->toPlainText(),
        QStringLiteral("index.htm:  3 matches\nlocked.htm:  failed: the file is read-only\n"
                       "logo.dat:  2 matches (binary content)\nnone.htm:  not found\n"
                       "pic.gif:  protected file\n"
                       "Preview: 5 files, 2 with matches, 5 matches in all, 1 would fail; nothing was written"));
    QCOMPARE(testfiles::fullListing(m_dir->path()), before);
    QCOMPARE(m_window->Folders, folders);
    QCOMPARE(m_window->txtFindString->toPlainText(), QStringLiteral("<B>\n"));

    m_window->mnuReplace->trigger();
    QCOMPARE(m_window->txtResults->toPlainText(),
             QStringLiteral("index.htm:  replaced\nlocked.htm:  failed: the file is read-only\n"
                            "logo.dat:  replaced\nnone.htm:  not found\npic.gif:  protected file"));
    QCOMPARE(readFile(m_dir->filePath("index.htm.old")), QByteArray("<b>a</b> <b>b</b> <b>c</b>"));
    m_window->mnuRestore->trigger();
    QCOMPARE(readFile(m_dir->filePath("index.htm")), QByteArray("<b>a</b> <b>b</b> <b>c</b>"));

    // An empty text to find matches nowhere, and the summary agrees with the
    // lines and says why.
    QTest::mouseClick(m_window->chkTrim, Qt::LeftButton);
    m_window->txtFindString->clear();
    m_window->mnuPreview->trigger();
    QCOMPARE(m_window->txtResults->toPlainText().split(QLatin1Char('\n')).last(),
             QStringLiteral("Preview: 5 files, 0 with matches, 0 matches in all, 0 would fail; nothing was written "
                            "(the text to find is empty)"));

    // With more lines than the box shows, it is left at the last one, after
    // each kind of run.
    for (int i = 0; i < 40; ++i)
        writeFile(m_dir->filePath(QStringLiteral("many%1.htm").arg(i, 2, 10, QLatin1Char('0'))), "<b>");
    m_window->fileList()->refresh();
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    m_window->txtFindString->setPlainText(QStringLiteral("<b>"));
    for (QAction *run : {m_window->mnuPreview, m_window->mnuReplace, m_window->mnuRestore}) {
        m_window->txtResults->verticalScrollBar()->setValue(0);
        run->trigger();
        QVERIFY(m_window->txtResults->verticalScrollBar()->maximum() > 0);
        QVERIFY2(showsItsEnd(m_window->txtResults), qPrintable(run->objectName()));
    }

    // Nothing selected: the same message as Replace, and no run.
    QTest::mouseClick(m_window->cmdClear, Qt::LeftButton);
    const QString log = m_window->txtResults->toPlainText();
    m_window->mnuPreview->trigger();
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QCOMPARE(m_fakes->messages.shown.first().text, QStringLiteral("No files selected!"));
    QCOMPARE(m_fakes->messages.shown.first().title, QStringLiteral("Preview"));
    QCOMPARE(m_window->txtResults->toPlainText(), log);

    // Regular Expression: the note beside Results while it is on; a pattern
    // that does not compile is said before anything happens.
    clickFile(QStringLiteral("index.htm"));
    QVERIFY(m_window->lblRegularExpression->isHidden());
    m_window->mnuRegularExpression->trigger();
    QVERIFY(!m_window->lblRegularExpression->isHidden());
    m_window->txtFindString->setPlainText(QStringLiteral("<b>(a|b"));
    const QStringList unchanged = testfiles::fullListing(m_dir->path());
    for (QAction *command : {m_window->mnuPreview, m_window->mnuReplace}) {
        command->trigger();
        QCOMPARE(m_fakes->messages.shown.last().text,
                 QStringLiteral("The regular expression cannot be used: missing closing parenthesis "
                                "(at character 8 of Replace This)."));
        QCOMPARE(m_fakes->messages.shown.last().icon, MessageRequest::Icon::Critical);
        QCOMPARE(m_window->txtResults->toPlainText(), log);
        QCOMPARE(testfiles::fullListing(m_dir->path()), unchanged);
    }
    m_window->txtFindString->setPlainText(QStringLiteral("<(b)>([ab])</b>"));
    m_window->txtReplaceString->setPlainText(QStringLiteral("<i>$2$$</i>"));
    m_window->mnuPreview->trigger();
    QCOMPARE(m_window->txtResults->toPlainText().section(QLatin1Char('\n'), 0, 0),
             QStringLiteral("index.htm:  2 matches"));
    m_window->mnuReplace->trigger();
    QCOMPARE(readFile(m_dir->filePath("index.htm")), QByteArray("<i>a$</i> <i>b$</i> <b>c</b>"));
    m_window->mnuRegularExpression->trigger();
    QVERIFY(m_window->lblRegularExpression->isHidden());
}

// Undo Last Run says which folder and how many files, asks (Cancel being the
// default), and then puts back what still holds what the run wrote.
void TestFrmMain::undoLastRunFromTheRunMenu()
{
    m_window->useJournal(m_dir->filePath("journal"));
    QVERIFY(!m_window->mnuUndo->isEnabled());
    const QString data = m_dir->filePath("site");
    QVERIFY(QDir().mkpath(data));
    writeFile(data + "/a.htm", "x hello y");
    writeFile(data + "/b.htm", "x hello z");
    browseTo(data);
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    m_window->txtFindString->setPlainText(QStringLiteral("hello"));
    m_window->txtReplaceString->setPlainText(QStringLiteral("bye"));
    auto replace = [&] {
        QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
        QCOMPARE(m_window->txtResults->toPlainText(), QStringLiteral("a.htm:  replaced\nb.htm:  replaced"));
    };
    replace();
    QVERIFY(m_window->mnuUndo->isEnabled());

    m_fakes->messages.script = {MessageAnswer::Cancel};
    m_window->mnuUndo->trigger();
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    const MessageRequest asked = m_fakes->messages.shown.first();
    QCOMPARE(asked.title, QStringLiteral("Undo Last Run"));
    QVERIFY2(asked.text.contains(data) && asked.text.contains(QStringLiteral("2 file")), qPrintable(asked.text));
    QCOMPARE(asked.buttons, MessageRequest::Buttons::OkCancel);
    QCOMPARE(asked.okText, QStringLiteral("Undo"));
    QVERIFY(asked.cancelIsDefault);
    QCOMPARE(readFile(data + "/a.htm"), QByteArray("x bye y"));

    m_window->mnuUndo->trigger();
    QCOMPARE(m_window->txtResults->toPlainText(), QStringLiteral("a.htm:  restored\nb.htm:  restored"));
    QCOMPARE(readFile(data + "/a.htm"), QByteArray("x hello y"));
    QCOMPARE(readFile(data + "/b.htm"), QByteArray("x hello z"));
    QVERIFY(!m_window->mnuUndo->isEnabled());

    // A file changed since the run keeps its change, and its line says so.
    replace();
    writeFile(data + "/b.htm", "changed by hand");
    m_window->mnuUndo->trigger();
    QCOMPARE(m_window->txtResults->toPlainText(),
             QStringLiteral("a.htm:  restored\nb.htm:  failed: it was changed since the run; it was left as it is"));
    QCOMPARE(readFile(data + "/b.htm"), QByteArray("changed by hand"));
}

// The boxes give LF line breaks; a file with CR LF lines is matched and
// rewritten in its own breaks, and its other lines keep theirs.
void TestFrmMain::twoTypedLinesInACrLfFile()
{
    writeFile(m_dir->filePath("dos.txt"), "first\r\nOld line\r\nsecond part\r\nlast\r\n");
    writeFile(m_dir->filePath("unix.txt"), "first\nold line\nsecond part\nlast\n");
    browseTo(m_dir->path());
    choosePattern(QStringLiteral("*.*"));
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("old line"));
    QTest::keyClick(m_window->txtFindString, Qt::Key_Return);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("second"));
    QCOMPARE(m_window->txtFindString->toPlainText(), QStringLiteral("old line\nsecond"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("new"));
    QTest::keyClick(m_window->txtReplaceString, Qt::Key_Return);
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("lines"));
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(m_window->txtResults->toPlainText(), QStringLiteral("dos.txt:  replaced\nunix.txt:  replaced"));
    QCOMPARE(readFile(m_dir->filePath("dos.txt")), QByteArray("first\r\nnew\r\nlines part\r\nlast\r\n"));
    QCOMPARE(readFile(m_dir->filePath("unix.txt")), QByteArray("first\nnew\nlines part\nlast\n"));
}

void TestFrmMain::restorePutsBackupsBack()
{
    writeFile(m_dir->filePath("a.htm"), "one two");
    writeFile(m_dir->filePath("b.htm"), "three");
    browseTo(m_dir->path());
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("one"));
    QTest::mouseClick(m_window->chkBackup, Qt::LeftButton);
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(readFile(m_dir->filePath("a.htm")), QByteArray(" two"));

    QTest::mouseClick(m_window->cmdRestore, Qt::LeftButton);
    QCOMPARE(m_window->txtResults->toPlainText(), QStringLiteral("a.htm:  restored\nb.htm:  not restored"));
    QCOMPARE(readFile(m_dir->filePath("a.htm")), QByteArray("one two"));
    QVERIFY(!QFile::exists(m_dir->filePath("a.htm.old")));
    QCOMPARE(m_window->Folders.mid(0, 2), (QStringList{m_dir->path(), m_dir->path()}));
}

void TestFrmMain::failedFileIsLoggedAndTheRunGoesOn()
{
    writeFile(m_dir->filePath("a.htm"), "x");
    writeFile(m_dir->filePath("b.htm"), "x");
    writeFile(m_dir->filePath("c.htm"), "x");
    QVERIFY(::chmod(QFile::encodeName(m_dir->filePath("b.htm")).constData(), 0444) == 0);
    browseTo(m_dir->path());
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("x"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("y"));
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);

    const QStringList lines = m_window->txtResults->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("a.htm:  replaced"));
    QVERIFY2(lines[1].startsWith(QStringLiteral("b.htm:  failed: ")) && lines[1].size() > 16, qPrintable(lines[1]));
    QCOMPARE(lines[2], QStringLiteral("c.htm:  replaced"));
    QCOMPARE(readFile(m_dir->filePath("b.htm")), QByteArray("x"));
    QCOMPARE(readFile(m_dir->filePath("c.htm")), QByteArray("y"));
}

void TestFrmMain::nothingSelected_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::newRow("Replace") << "cmdReplace"
                             << "Find & Replace";
    QTest::newRow("Restore") << "cmdRestore"
                             << "Find & Replace";
    QTest::newRow("Upper") << "cmdUpper"
                           << "Upper Case";
    QTest::newRow("Lower") << "cmdLower"
                           << "Lower Case";
}

void TestFrmMain::nothingSelected()
{
    QFETCH(QString, button);
    QFETCH(QString, title);
    writeFile(m_dir->filePath("Mixed.htm"), "x");
    browseTo(m_dir->path());
    m_window->txtResults->setPlainText(QStringLiteral("previous log"));
    m_fakes->places.working = QStringLiteral("/elsewhere");

    QTest::mouseClick(m_window->findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    const MessageRequest &shown = m_fakes->messages.shown.first();
    QCOMPARE(shown.text, QStringLiteral("No files selected!"));
    QCOMPARE(shown.title, title);
    QCOMPARE(shown.icon, MessageRequest::Icon::Critical);
    QCOMPARE(shown.buttons, MessageRequest::Buttons::Ok);
    QCOMPARE(m_window->txtResults->toPlainText(), QStringLiteral("previous log"));
    QCOMPARE(m_fakes->places.working, QStringLiteral("/elsewhere"));
    QVERIFY(QFile::exists(m_dir->filePath("Mixed.htm")));
    QCOMPARE(m_window->Folders.first(), QString());
}

void TestFrmMain::historyAfterSeveralRunsAndTheWalk()
{
    QStringList folders;
    for (int i = 1; i <= 6; ++i) {
        const QString folder = m_dir->filePath(QStringLiteral("f%1").arg(i));
        QDir().mkpath(folder);
        writeFile(folder + QStringLiteral("/a.htm"), "x");
        folders << folder;
    }
    for (const QString &folder : std::as_const(folders)) {
        browseTo(folder);
        QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
        QTest::mouseClick(m_window->cmdRestore, Qt::LeftButton);
    }
    QCOMPARE(m_window->Folders, (QStringList{folders[5], folders[4], folders[3], folders[2], folders[1]}));
    QCOMPARE(m_window->txtLastFolder->text(), folders[5]);

    // Each click on "Last Folder:" steps one entry back, wrapping round; so
    // do its key and a screen reader's press.
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QStringList walked;
    for (int i = 0; i < 5; ++i) {
        if (i % 3 == 0)
            QTest::mouseClick(m_window->lblFolders, Qt::LeftButton);
        else if (i % 3 == 1)
            QTest::keyClick(m_window->lstFiles, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        else
            pressAccessibly(m_window->lblFolders);
        walked << m_window->dir1Path();
    }
    QCOMPARE(walked, (QStringList{folders[4], folders[3], folders[2], folders[1], folders[5]}));
    QCOMPARE(m_window->fileList()->path(), folders[5]);

    // Two runs in one folder leave equal neighbours; the walk still moves on.
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QTest::mouseClick(m_window->cmdRestore, Qt::LeftButton);
    QCOMPARE(m_window->Folders.mid(0, 3), (QStringList{folders[5], folders[5], folders[4]}));
    QTest::mouseClick(m_window->lblFolders, Qt::LeftButton);
    QCOMPARE(m_window->dir1Path(), folders[4]);

    // A history entry that is gone: a message, the lists stay, the next click passes it.
    QVERIFY(QDir(folders[3]).removeRecursively());
    QTest::mouseClick(m_window->lblFolders, Qt::LeftButton);
    QCOMPARE(m_window->dir1Path(), folders[4]);
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QVERIFY(m_fakes->messages.shown.first().text.contains(folders[3]));
    QTest::mouseClick(m_window->lblFolders, Qt::LeftButton);
    QCOMPARE(m_window->dir1Path(), folders[2]);
}

void TestFrmMain::lastFolderDoubleClickAndMissingFolder()
{
    const QString runFolder = m_dir->filePath("run");
    QDir().mkpath(runFolder);
    writeFile(runFolder + "/a.htm", "x");
    browseTo(runFolder);
    QTest::mouseClick(m_window->cmdSelectAll, Qt::LeftButton);
    QTest::mouseClick(m_window->cmdRestore, Qt::LeftButton);
    browseTo(m_dir->path());

    QTest::mouseDClick(m_window->txtLastFolder, Qt::LeftButton);
    QCOMPARE(m_window->dir1Path(), runFolder);
    QCOMPARE(listed(), QStringList{"a.htm"});
    // Enter and Space in the box, and a screen reader's press, do the same.
    for (int way = 0; way < 3; ++way) {
        browseTo(m_dir->path());
        m_window->txtLastFolder->setFocus();
        if (way == 2)
            pressAccessibly(m_window->txtLastFolder);
        else
            QTest::keyClick(m_window->txtLastFolder, way == 0 ? Qt::Key_Return : Qt::Key_Space);
        QCOMPARE(m_window->dir1Path(), runFolder);
    }

    browseTo(m_dir->path());
    QVERIFY(QDir(runFolder).removeRecursively());
    QTest::mouseDClick(m_window->txtLastFolder, Qt::LeftButton);
    QCOMPARE(m_window->dir1Path(), m_dir->path());
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QVERIFY(m_fakes->messages.shown.first().text.contains(QStringLiteral("No such file or directory")));
}

void TestFrmMain::caseConversion()
{
    for (const char *name : {"ReadMe.TXT", "notes.txt", "2003-Log.txt", "keep.txt", "a.txt", "A.TXT"})
        writeFile(m_dir->filePath(QLatin1String(name)), name);
    browseTo(m_dir->path());
    choosePattern(QStringLiteral("*.txt"));

    clickFile(QStringLiteral("ReadMe.TXT"));
    clickFile(QStringLiteral("notes.txt"), Qt::ControlModifier);
    clickFile(QStringLiteral("2003-Log.txt"), Qt::ControlModifier);
    QTest::mouseClick(m_window->cmdUpper, Qt::LeftButton);
    QCOMPARE(listed(), (QStringList{"2003-LOG.TXT", "A.TXT", "a.txt", "keep.txt", "NOTES.TXT", "README.TXT"}));
    QVERIFY(m_fakes->messages.shown.isEmpty());

    clickFile(QStringLiteral("README.TXT"));
    clickFile(QStringLiteral("NOTES.TXT"), Qt::ControlModifier);
    m_window->mnuLowerCase->trigger();
    QCOMPARE(listed(), (QStringList{"2003-LOG.TXT", "A.TXT", "a.txt", "keep.txt", "notes.txt", "readme.txt"}));
    QCOMPARE(readFile(m_dir->filePath("readme.txt")), QByteArray("ReadMe.TXT"));

    // a.txt to upper case would take A.TXT's name: reported, both untouched,
    // and the file after it is still renamed.
    clickFile(QStringLiteral("a.txt"));
    clickFile(QStringLiteral("keep.txt"), Qt::ControlModifier);
    m_window->mnuUpperCase->trigger();
    QCOMPARE(readFile(m_dir->filePath("a.txt")), QByteArray("a.txt"));
    QCOMPARE(readFile(m_dir->filePath("A.TXT")), QByteArray("A.TXT"));
    QVERIFY(listed().contains(QStringLiteral("KEEP.TXT")));
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QCOMPARE(m_fakes->messages.shown.first().title, QStringLiteral("Upper Case"));
    QVERIFY(m_fakes->messages.shown.first().text.contains(QStringLiteral("a.txt")));
}

void TestFrmMain::swapMirrorsAndSelectOnFocus()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_window->txtFindString->setFocus();
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("first"));
    QTest::keyClick(m_window->txtFindString, Qt::Key_Return);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("line"));
    QCOMPARE(m_window->FindString, QStringLiteral("first\nline"));

    QTest::mouseClick(m_window->Label1, Qt::LeftButton);
    QCOMPARE(m_window->txtReplaceString->toPlainText(), QStringLiteral("first\nline"));
    QCOMPARE(m_window->txtFindString->toPlainText(), QString());
    QCOMPARE(m_window->ReplaceString, QStringLiteral("first\nline"));
    QCOMPARE(m_window->FindString, QString());
    QTest::mouseClick(m_window->Label2, Qt::LeftButton);
    QCOMPARE(m_window->FindString, QStringLiteral("first\nline"));
    QCOMPARE(m_window->ReplaceString, QString());
    // The swap's key and a screen reader's press on either caption; the focus stays.
    QTest::keyClick(m_window->txtFindString, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(m_window->ReplaceString, QStringLiteral("first\nline"));
    QCOMPARE(QApplication::focusWidget(), m_window->txtFindString);
    pressAccessibly(m_window->Label2);
    QCOMPARE(m_window->FindString, QStringLiteral("first\nline"));
    pressAccessibly(m_window->Label1);
    pressAccessibly(m_window->Label1);
    QCOMPARE(m_window->FindString, QStringLiteral("first\nline"));
    // Alt with a letter no control takes types nothing into the box.
    QTest::keyClick(m_window->txtFindString, Qt::Key_Q, Qt::AltModifier);
    QCOMPARE(m_window->FindString, QStringLiteral("first\nline"));

    // Tabbing into a box selects its whole text, so typing replaces it.
    m_window->txtReplaceString->setPlainText(QStringLiteral("old"));
    QTest::keyClick(m_window->txtFindString, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_window->txtReplaceString);
    QCOMPARE(m_window->txtReplaceString->textCursor().selectedText(), QStringLiteral("old"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("new"));
    QCOMPARE(m_window->ReplaceString, QStringLiteral("new"));
}

void TestFrmMain::viewerOpensBesideAndFollowsClicks()
{
    writeFile(m_dir->filePath("a.htm"), "first file\r\n");
    writeFile(m_dir->filePath("b.htm"), "caf\xe9"); // Latin-1
    browseTo(m_dir->path());
    // Far enough left on the small offscreen screen for the viewer to fit mostly beside it.
    m_window->move(0, 100);
    QTRY_COMPARE(m_window->pos(), QPoint(0, 100));

    clickFile(QStringLiteral("a.htm"));
    QVERIFY(!m_window->viewer()); // a single click never opens the viewer

    const QModelIndex a = m_window->fileList()->index(0);
    QTest::mouseDClick(m_window->lstFiles->viewport(), Qt::LeftButton, {}, m_window->lstFiles->visualRect(a).center());
    frmViewer *viewer = m_window->viewer();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("first file\n"));
    QCOMPARE(viewer->txtSave->text(), m_dir->filePath("a.htm"));
    const twips::WindowGeometry main = twips::outerGeometry(m_window);
    const twips::WindowGeometry beside = twips::outerGeometry(viewer);
    QCOMPARE(beside.top, main.top);
    QVERIFY(qAbs(beside.left - (main.left + main.width + 200)) < twips::perPixel);

    viewer->move(viewer->pos() + QPoint(30, 40));
    const QPoint moved = viewer->pos();
    clickFile(QStringLiteral("b.htm"));
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("caf\u00e9"));
    QCOMPARE(viewer->encoding(), vexalo::FileEncoding::Latin1);
    QCOMPARE(viewer->txtSave->text(), m_dir->filePath("b.htm"));
    QCOMPARE(viewer->pos(), moved);

    // A file that went away: a message naming it, the viewer as it was.
    QVERIFY(QFile::remove(m_dir->filePath("a.htm")));
    clickFile(QStringLiteral("a.htm"));
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QVERIFY(m_fakes->messages.shown.first().text.contains(m_dir->filePath("a.htm")));
    QCOMPARE(viewer->txtSave->text(), m_dir->filePath("b.htm"));

    // A Replace run reloads the open viewer.
    clickFile(QStringLiteral("b.htm"));
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("caf"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("tea"));
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("tea\u00e9"));

    viewer->close();
    QTRY_VERIFY(!m_window->viewer());
    clickFile(QStringLiteral("b.htm"));
    QVERIFY(!m_window->viewer());

    // A file too large for the viewer: one sentence that says so, and no
    // empty viewer with a Save button.
    QFile big(m_dir->filePath("big.htm"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(frmViewer::maxViewedSize + 1));
    big.close();
    m_window->fileList()->refresh();
    clickFile(QStringLiteral("big.htm"));
    m_fakes->messages.shown.clear();
    QTest::keyClick(m_window->lstFiles, Qt::Key_Return);
    QVERIFY(!m_window->viewer());
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    const QString refusal = m_fakes->messages.shown.first().text;
    QVERIFY2(refusal.startsWith(QStringLiteral("\"%1\" is too large for the viewer. It is ").arg(big.fileName()))
                 && refusal.endsWith(QLatin1Char('.')),
             qPrintable(refusal));
}

void TestFrmMain::unavailableDrive()
{
    delete m_window;
    m_fakes->places.driveList << DriveInfo{QStringLiteral("/media/gone"), QStringLiteral("/media/gone")};
    m_fakes->places.unavailable << QStringLiteral("/media/gone");
    m_window = new frmMain(m_fakes->services());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    browseTo(m_dir->path());
    m_fakes->places.working = m_dir->path();

    m_window->Drive1->setFocus();
    QTest::keyClick(m_window->Drive1, Qt::Key_Down);
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QCOMPARE(m_fakes->messages.shown.first().text, QStringLiteral("Selected drive not available!"));
    QCOMPARE(m_fakes->messages.shown.first().title, QStringLiteral("Change Drive"));
    QCOMPARE(m_fakes->messages.shown.first().icon, MessageRequest::Icon::None);
    QCOMPARE(m_window->drive1Drive(), QStringLiteral("/media/gone"));
    QCOMPARE(m_window->dir1Path(), m_dir->path());
    QCOMPARE(m_fakes->places.working, QStringLiteral("/"));
}

void TestFrmMain::typedPatternIsApplied()
{
    for (const char *name : {"a.htm", "b.txt", "c.jpg", "d.old"})
        writeFile(m_dir->filePath(QLatin1String(name)), "x");
    browseTo(m_dir->path());
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QLineEdit *box = m_window->cmbPattern->lineEdit();

    // Enter applies what is typed, an item of the list or not.
    auto typeAndEnter = [&](const QString &pattern) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, pattern);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(m_window->fileList()->pattern(), pattern);
        QCOMPARE(m_window->cmbPattern->currentText(), pattern);
    };
    typeAndEnter(QStringLiteral("*.txt;*.jpg"));
    QCOMPARE(listed(), (QStringList{"b.txt", "c.jpg"}));
    typeAndEnter(QStringLiteral("*.*"));
    QCOMPARE(listed().size(), 4);
    typeAndEnter(QStringLiteral("?.old"));
    QCOMPARE(listed(), QStringList{"d.old"});

    // Typing alone changes nothing, and a pattern left without Enter gives way
    // to the one applied, so the selection a run acts on is never taken from
    // a list the box belies.
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("*.htm;*.txt"));
    QCOMPARE(listed(), QStringList{"d.old"});
    m_window->cmdSelectAll->setFocus();
    QCOMPARE(listed(), QStringList{"d.old"});
    QCOMPARE(m_window->cmbPattern->currentText(), QStringLiteral("?.old"));
}

void TestFrmMain::refusedFolderLeavesBothListsOnTheOpenOne()
{
    QDir(m_dir->path()).mkdir(QStringLiteral("gone"));
    writeFile(m_dir->filePath("here.htm"), "x");
    browseTo(m_dir->path());
    QVERIFY(QDir(m_dir->filePath("gone")).removeRecursively());

    QListWidget *list = m_window->Dir1;
    QListWidgetItem *gone = list->item(list->count() - 1);
    QCOMPARE(gone->text(), QStringLiteral("gone"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(gone).center());
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    QVERIFY(m_fakes->messages.shown.first().text.contains(m_dir->filePath("gone")));
    QCOMPARE(m_window->dir1Path(), m_dir->path());
    QCOMPARE(list->currentItem()->data(Qt::UserRole).toString(), m_dir->path());
    QCOMPARE(listed(), QStringList{"here.htm"});
    // The list shows the folders as they are now.
    for (int row = 0; row < list->count(); ++row)
        QVERIFY(list->item(row)->text() != QLatin1String("gone"));
}

void TestFrmMain::currentFolderInViewAndCutOffNamesInTooltips()
{
    QString deep = m_dir->path();
    for (int level = 0; level < 20; ++level)
        deep += QStringLiteral("/level%1").arg(level);
    const QString longFolder = QStringLiteral("a folder whose name is far too long for the list");
    QVERIFY(QDir().mkpath(deep + QLatin1Char('/') + longFolder));
    const QString longFile = QStringLiteral("a file whose name is far too long for the list.htm");
    writeFile(deep + QStringLiteral("/a.htm"), "x");
    writeFile(deep + QLatin1Char('/') + longFile, "x");

    QVERIFY(m_window->setDir1Path(deep, nullptr));
    QListWidget *dir = m_window->Dir1;
    const QRect current = dir->visualItemRect(dir->currentItem());
    QVERIFY(current.top() >= 0 && current.bottom() < dir->viewport()->height());

    // A tooltip for a name that is cut off, with the whole name (the whole
    // path for a folder), and none for one that is shown whole.
    auto toolTipAt = [](QAbstractItemView *view, const QRect &item) {
        QToolTip::hideText();
        (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); });
        const QPoint at = item.intersected(view->viewport()->rect()).center();
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QListWidgetItem *longItem = dir->findItems(longFolder, Qt::MatchExactly).value(0);
    QVERIFY(longItem);
    dir->scrollToItem(longItem);
    QCOMPARE(toolTipAt(dir, dir->visualItemRect(longItem)), deep + QLatin1Char('/') + longFolder);
    dir->scrollToItem(dir->item(0));
    QCOMPARE(toolTipAt(dir, dir->visualItemRect(dir->item(0))), QString());

    QListView *files = m_window->lstFiles;
    const int longRow = int(listed().indexOf(longFile));
    QCOMPARE(toolTipAt(files, files->visualRect(m_window->fileList()->index(longRow))), longFile);
    QCOMPARE(toolTipAt(files, files->visualRect(m_window->fileList()->index(int(listed().indexOf("a.htm"))))),
             QString());
}

void TestFrmMain::viewerOpensOnTheScreen()
{
    writeFile(m_dir->filePath("a.htm"), "x");
    browseTo(m_dir->path());
    const QRect screen = m_window->screen()->availableGeometry();
    // Beside a main window near the screen's right edge the viewer would be
    // almost wholly off the screen.
    m_window->move(screen.right() - m_window->frameGeometry().width() - 20, screen.top() + 30);
    QTRY_VERIFY(m_window->frameGeometry().right() > screen.right() - 40);
    clickFile(QStringLiteral("a.htm"));
    m_window->lstFiles->setFocus();
    QTest::keyClick(m_window->lstFiles, Qt::Key_Return); // as a double click
    frmViewer *viewer = m_window->viewer();
    QVERIFY(viewer);
    QTRY_VERIFY(screen.contains(viewer->frameGeometry()));
    QCOMPARE(viewer->frameGeometry().right(), screen.right());
    QCOMPARE(viewer->frameGeometry().top(), m_window->frameGeometry().top());
}

void TestFrmMain::driveListFollowsMounts()
{
    const QString stick = QStringLiteral("/media/stick");
    m_fakes->places.driveList << DriveInfo{stick, QStringLiteral("/media/stick [STICK]")};
    QCOMPARE(m_window->Drive1->findData(stick), -1);
    m_window->Drive1->showPopup();
    QVERIFY(m_window->Drive1->findData(stick) >= 0);
    QCOMPARE(m_window->Drive1->itemText(m_window->Drive1->findData(stick)), QStringLiteral("/media/stick [STICK]"));
    QCOMPARE(m_window->drive1Drive(), QStringLiteral("/"));
    m_window->Drive1->hidePopup();

    // Unmounted again: gone from the list the next time it opens.
    m_fakes->places.driveList.removeLast();
    m_window->Drive1->showPopup();
    QCOMPARE(m_window->Drive1->findData(stick), -1);
    m_window->Drive1->hidePopup();
    QVERIFY(m_fakes->messages.shown.isEmpty());
}

// A folder and files whose names are not UTF-8, used as a user would: listed
// readably, opened, replaced in, viewed and saved, renamed, and gone back to.
// Each must reach the very file it shows; Qt's own conversions reach another
// name, or none.
void TestFrmMain::namesThatAreNotUtf8()
{
    using namespace testfiles;
    const QByteArray folder = QFile::encodeName(m_dir->path()) + "/dossier\xe9";
    QCOMPARE(::mkdir(folder.constData(), 0755), 0);
    const RawTreeRemover remover{folder};
    writeLookalikes(folder);

    browseTo(m_dir->path());
    QList<QListWidgetItem *> shown = m_window->Dir1->findItems(QStringLiteral("dossier\\xE9"), Qt::MatchExactly);
    QCOMPARE(shown.size(), 1);
    QListWidget *dirs = m_window->Dir1;
    QTest::mouseClick(dirs->viewport(), Qt::LeftButton, {}, dirs->visualItemRect(shown.first()).center());
    QCOMPARE(vexalo::encodeFileName(m_window->dir1Path()), folder);

    choosePattern(QStringLiteral("*.txt"));
    QStringList shownNames;
    for (int row = 0; row < m_window->fileList()->rowCount(); ++row)
        shownNames << m_window->fileList()->index(row).data().toString();
    QCOMPARE(shownNames, (QStringList{"caf\\xE8.txt", "caf\\xE9.txt", "caf\ufffd.txt"}));

    const QString e9 = vexalo::decodeFileName("caf\xe9.txt");
    clickFile(vexalo::decodeFileName("caf\xe8.txt"));
    clickFile(e9, Qt::ControlModifier);
    clickFile(vexalo::decodeFileName("caf\xef\xbf\xbd.txt"), Qt::ControlModifier);
    QTest::keyClicks(m_window->txtFindString, QStringLiteral("alpha"));
    QTest::keyClicks(m_window->txtReplaceString, QStringLiteral("alpha2"));
    QTest::mouseClick(m_window->chkCaseSensitive, Qt::LeftButton);
    QTest::mouseClick(m_window->chkBackup, Qt::LeftButton);
    QTest::mouseClick(m_window->cmdReplace, Qt::LeftButton);
    QCOMPARE(m_window->txtResults->toPlainText(),
             QStringLiteral("caf\\xE8.txt:  replaced\ncaf\\xE9.txt:  replaced\ncaf\ufffd.txt:  replaced"));
    for (const QByteArray &name : lookalikeNames()) {
        QCOMPARE(readRawFile(folder + '/' + name), "alpha2" + lookalikeText(name).mid(5));
        QCOMPARE(readRawFile(folder + '/' + name + ".old"), lookalikeText(name));
    }
    QCOMPARE(m_window->txtLastFolder->text(), vexalo::displayName(m_window->dir1Path()));
    QVERIFY(m_fakes->messages.shown.isEmpty());

    // The viewer reads and saves the file itself, and shows its name readably.
    clickFile(e9);
    const QModelIndex index = m_window->fileList()->index(int(listed().indexOf(e9)));
    QTest::mouseDClick(m_window->lstFiles->viewport(), Qt::LeftButton, {},
                       m_window->lstFiles->visualRect(index).center());
    frmViewer *viewer = m_window->viewer();
    QVERIFY(viewer);
    QCOMPARE(viewer->txtViewer->toPlainText().toUtf8(), "alpha2" + lookalikeText("caf\xe9.txt").mid(5));
    QCOMPARE(viewer->txtSave->text(), vexalo::displayName(m_window->dir1Path()) + QStringLiteral("/caf\\xE9.txt"));
    viewer->txtViewer->setPlainText(QStringLiteral("saved"));
    QTest::mouseClick(viewer->cmdSave, Qt::LeftButton);
    QCOMPARE(readRawFile(folder + "/caf\xe9.txt"), QByteArray("saved"));
    viewer->close();
    QTRY_VERIFY(!m_window->viewer());

    // Upper case changes the letters and keeps the bytes that are not UTF-8.
    clickFile(e9);
    QTest::mouseClick(m_window->cmdUpper, Qt::LeftButton);
    QVERIFY(m_fakes->messages.shown.isEmpty());
    QCOMPARE(readRawFile(folder + "/CAF\xe9.TXT"), QByteArray("saved"));
    QCOMPARE(readRawFile(folder + "/caf\xe9.txt"), QByteArray("<missing>"));
    QVERIFY(listed().contains(vexalo::decodeFileName("CAF\xe9.TXT")));

    // The Last Folder box leads back into the folder it shows.
    browseTo(m_dir->path());
    QTest::mouseDClick(m_window->txtLastFolder, Qt::LeftButton);
    QCOMPARE(vexalo::encodeFileName(m_window->dir1Path()), folder);
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
