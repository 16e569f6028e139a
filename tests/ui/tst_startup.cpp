// SPDX-License-Identifier: MIT
#include "FakeServices.h"
#include "ui/common/Twips.h"
#include "ui/frmMain/FileListModel.h"
#include "ui/frmMain/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QtTest>

#include <memory>

// The main window's start-up and shutdown as the program runs them: the
// settings store kept in a file of the test's own, the program folder and the
// folder the program was started in as temporary folders. The store's own
// rules (defaults, number texts, failing keys) are tested with the settings
// library; here what counts is that the window hands the store its real
// geometry, texts and folders and takes back what the store gives.
using StringMap = QMap<QString, QString>;

class TestStartUp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void cleanup();

    void firstRunWithAnEmptyStore();
    void everyKeyRoundTripsThroughARestart();
    void geometryStaysPutOverRestarts_data();
    void geometryStaysPutOverRestarts();
    void widthThatIsNoNumberKeepsTheLayout();
    void minimisedOrMaximisedKeepsTheStoredGeometry_data();
    void minimisedOrMaximisedKeepsTheStoredGeometry();
    void anyTaskButGetSaves_data();
    void anyTaskButGetSaves();
    void offScreenGeometry_data();
    void offScreenGeometry();
    void lastFolderGoneOpensItsParent();
    void startedFromAnotherFolder_data();
    void startedFromAnotherFolder();
    void exitAndCloseBoxBothSave_data();
    void exitAndCloseBoxBothSave();
    void storeThatCannotBeWrittenIsReported();
    void onlineUpdate_data();
    void onlineUpdate();

private:
    // A window as main() makes one, not yet started.
    frmMain *newWindow();
    // Start-up, shown and waited for, as main() does it.
    frmMain *startWindow();
    QString storeValue(const QString &key) const;
    void putStore(const StringMap &values) const;
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<frmMain> m_window;
    QString m_program;
    QString m_start;
    QString m_store;
};

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

QString geometryText(const twips::WindowGeometry &g)
{
    return QStringLiteral("%1 %2 %3 %4").arg(g.left).arg(g.top).arg(g.width).arg(g.height);
}

} // namespace

void TestStartUp::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program = path(QStringLiteral("program"));
    m_start = path(QStringLiteral("start"));
    m_store = path(QStringLiteral("store/Vexalo4.conf"));
    QVERIFY(QDir().mkpath(m_program) && QDir().mkpath(m_start));
    writeFile(m_program + QStringLiteral("/vexalo4"), QByteArray(1234, 'x'));
    writeFile(m_program + QStringLiteral("/exception.txt"), ".abc .xyz\r\n");
    writeFile(m_program + QStringLiteral("/page.htm"), "<p>");
    m_fakes = std::make_unique<FakeServices>();
    m_fakes->places.program = m_program;
    m_fakes->places.working = m_program;
}

void TestStartUp::cleanup()
{
    m_window.reset();
    for (QWidget *window : QApplication::topLevelWidgets())
        window->close();
    m_fakes.reset();
    m_dir.reset();
}

frmMain *TestStartUp::newWindow()
{
    m_window = std::make_unique<frmMain>(m_fakes->services());
    m_window->useSettingsFile(m_store);
    return m_window.get();
}

frmMain *TestStartUp::startWindow()
{
    frmMain *window = newWindow();
    window->startUp();
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qWarning("main window not exposed");
    return window;
}

QString TestStartUp::storeValue(const QString &key) const
{
    QSettings store(m_store, QSettings::IniFormat);
    return store.value(QStringLiteral("Settings/") + key, QStringLiteral("<absent>")).toString();
}

void TestStartUp::putStore(const StringMap &values) const
{
    QSettings store(m_store, QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        store.setValue(QStringLiteral("Settings/") + it.key(), it.value());
    store.sync();
    QCOMPARE(store.status(), QSettings::NoError);
}

void TestStartUp::firstRunWithAnEmptyStore()
{
    frmMain *window = startWindow();

    // Outer geometry, frame included, once the window wears its frame.
    QTRY_COMPARE(geometryText(twips::outerGeometry(window)), QStringLiteral("1200 1200 7905 7815"));
    QCOMPARE(window->txtFindString->toPlainText(), QString());
    QCOMPARE(window->txtReplaceString->toPlainText(), QString());
    QCOMPARE(window->FindString, QString());
    QCOMPARE(window->ReplaceString, QString());
    QCOMPARE(window->Folders, QStringList(5, m_program));
    QCOMPARE(window->txtLastFolder->text(), m_program);
    QCOMPARE(window->dir1Path(), m_program);
    QCOMPARE(window->fileList()->path(), m_program);
    QCOMPARE(window->fileList()->names(), QStringList{QStringLiteral("page.htm")});
    QCOMPARE(m_fakes->places.working, m_program);
    QCOMPARE(window->ExceptionList, QStringLiteral(".abc .xyz"));
    // Nothing is written while the program runs, and nothing is asked.
    QVERIFY(!QFile::exists(m_store));
    QVERIFY(m_fakes->messages.shown.isEmpty());
}

void TestStartUp::everyKeyRoundTripsThroughARestart()
{
    const QString older = path(QStringLiteral("older"));
    QVERIFY(QDir().mkpath(older));
    const QStringList folders = {m_start, older, m_program, older, m_start};

    frmMain *first = startWindow();
    twips::setOuterGeometry(first, {2250, 1830, 9000, 8100});
    QTRY_COMPARE(geometryText(twips::outerGeometry(first)), QStringLiteral("2250 1830 9000 8100"));
    // Typed into the boxes, several lines each, then swapped by a click on
    // the label: what is stored is what the boxes show at the end.
    first->txtFindString->setFocus();
    QTest::keyClicks(first->txtFindString, QStringLiteral("was here"));
    QTest::keyClick(first->txtFindString, Qt::Key_Return);
    QTest::keyClicks(first->txtFindString, QStringLiteral("  and there"));
    first->txtReplaceString->setFocus();
    QTest::keyClicks(first->txtReplaceString, QStringLiteral("now"));
    first->txtReplaceString->insertPlainText(QStringLiteral("\u00e9"));
    QTest::keyClick(first->txtReplaceString, Qt::Key_Return);
    QTest::keyClick(first->txtReplaceString, Qt::Key_Return);
    QTest::mouseClick(first->Label1, Qt::LeftButton);
    QCOMPARE(first->txtFindString->toPlainText(), QStringLiteral("now\u00e9\n\n"));
    first->Folders = folders;
    QTest::mouseClick(first->cmdExit, Qt::LeftButton);
    QVERIFY(!first->isVisible());

    frmMain *second = startWindow();
    QTRY_COMPARE(geometryText(twips::outerGeometry(second)), QStringLiteral("2250 1830 9000 8100"));
    QCOMPARE(second->txtFindString->toPlainText(), QStringLiteral("now\u00e9\n\n"));
    QCOMPARE(second->txtReplaceString->toPlainText(), QStringLiteral("was here\n  and there"));
    QCOMPARE(second->FindString, QStringLiteral("now\u00e9\n\n"));
    QCOMPARE(second->ReplaceString, QStringLiteral("was here\n  and there"));
    QCOMPARE(second->Folders, folders);
    QCOMPARE(second->txtLastFolder->text(), m_start);
    QCOMPARE(second->dir1Path(), m_start);
    // Start-up still ends in the program folder, whatever Dir1 shows.
    QCOMPARE(m_fakes->places.working, m_program);
}

// Regression: the frame is unknown until the window is shown, so the stored
// outer size was once set as the client size, and the window grew by its
// frame at every start (7905, 7965, 8025, ... twips wide).
void TestStartUp::geometryStaysPutOverRestarts_data()
{
    QTest::addColumn<StringMap>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first run") << StringMap{} << QStringLiteral("1200 1200 7905 7815");
    QTest::newRow("stored") << StringMap{{QStringLiteral("MainLeft"), QStringLiteral("3000")},
                                         {QStringLiteral("MainTop"), QStringLiteral("450")},
                                         {QStringLiteral("MainWidth"), QStringLiteral("6000")},
                                         {QStringLiteral("MainHeight"), QStringLiteral("5010")}}
                            << QStringLiteral("3000 450 6000 5010");
}

void TestStartUp::geometryStaysPutOverRestarts()
{
    QFETCH(StringMap, stored);
    QFETCH(QString, expected);
    if (!stored.isEmpty())
        putStore(stored);

    for (int run = 1; run <= 4; ++run) {
        frmMain *window = startWindow();
        QTRY_COMPARE(geometryText(twips::outerGeometry(window)), expected);
        window->close();
        const QString saved =
            QStringList{storeValue(QStringLiteral("MainLeft")), storeValue(QStringLiteral("MainTop")),
                        storeValue(QStringLiteral("MainWidth")), storeValue(QStringLiteral("MainHeight"))}
                .join(QLatin1Char(' '));
        QVERIFY2(saved == expected, qPrintable(QStringLiteral("run %1 saved %2").arg(run).arg(saved)));
    }
}

void TestStartUp::widthThatIsNoNumberKeepsTheLayout()
{
    // The width a window has as laid out, before any setting reaches it.
    const float laidOut = twips::outerGeometry(newWindow()).width;
    m_window.reset();

    putStore({{QStringLiteral("MainLeft"), QStringLiteral("1500")},
              {QStringLiteral("MainTop"), QStringLiteral("900")},
              {QStringLiteral("MainWidth"), QStringLiteral("wide")},
              {QStringLiteral("MainHeight"), QStringLiteral("6000")},
              {QStringLiteral("FindText"), QStringLiteral("still loaded")}});
    frmMain *window = startWindow();
    QTRY_COMPARE(geometryText(twips::outerGeometry(window)), geometryText({1500, 900, laidOut, 6000}));
    QCOMPARE(window->txtFindString->toPlainText(), QStringLiteral("still loaded"));
    // The next save puts a number back.
    window->close();
    QCOMPARE(storeValue(QStringLiteral("MainWidth")), QString::number(laidOut));
}

void TestStartUp::minimisedOrMaximisedKeepsTheStoredGeometry_data()
{
    QTest::addColumn<Qt::WindowState>("state");
    QTest::newRow("maximised") << Qt::WindowMaximized;
    QTest::newRow("minimised") << Qt::WindowMinimized;
}

void TestStartUp::minimisedOrMaximisedKeepsTheStoredGeometry()
{
    QFETCH(Qt::WindowState, state);
    putStore({{QStringLiteral("MainLeft"), QStringLiteral("1800")},
              {QStringLiteral("MainTop"), QStringLiteral("600")},
              {QStringLiteral("MainWidth"), QStringLiteral("8100")},
              {QStringLiteral("MainHeight"), QStringLiteral("6990")}});
    frmMain *window = startWindow();
    QTRY_COMPARE(geometryText(twips::outerGeometry(window)), QStringLiteral("1800 600 8100 6990"));
    window->setWindowState(state);
    QTRY_VERIFY(window->windowState() & state);
    window->txtFindString->setPlainText(QStringLiteral("saved anyway"));
    window->close();

    QCOMPARE(storeValue(QStringLiteral("MainLeft")), QStringLiteral("1800"));
    QCOMPARE(storeValue(QStringLiteral("MainTop")), QStringLiteral("600"));
    QCOMPARE(storeValue(QStringLiteral("MainWidth")), QStringLiteral("8100"));
    QCOMPARE(storeValue(QStringLiteral("MainHeight")), QStringLiteral("6990"));
    QCOMPARE(storeValue(QStringLiteral("FindText")), QStringLiteral("saved anyway"));
    QCOMPARE(storeValue(QStringLiteral("Folder1")), m_program);
}

void TestStartUp::anyTaskButGetSaves_data()
{
    QTest::addColumn<QString>("task");
    QTest::addColumn<bool>("loads");
    QTest::newRow("get") << QStringLiteral("get") << true;
    QTest::newRow("Get") << QStringLiteral("Get") << false;
    QTest::newRow("GET") << QStringLiteral("GET") << false;
    QTest::newRow("save") << QStringLiteral("save") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestStartUp::anyTaskButGetSaves()
{
    QFETCH(QString, task);
    QFETCH(bool, loads);
    putStore({{QStringLiteral("FindText"), QStringLiteral("stored")}});
    frmMain *window = startWindow();
    window->txtFindString->setPlainText(QStringLiteral("typed"));

    window->Settings(task);
    QCOMPARE(storeValue(QStringLiteral("FindText")), loads ? QStringLiteral("stored") : QStringLiteral("typed"));
    QCOMPARE(window->FindString, loads ? QStringLiteral("stored") : QStringLiteral("typed"));
    // Loading fills the strings only; start-up fills the boxes.
    QCOMPARE(window->txtFindString->toPlainText(), QStringLiteral("typed"));
}

void TestStartUp::offScreenGeometry_data()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const float right = twips::fromPixels(screen.right() + 1);
    const float bottom = twips::fromPixels(screen.bottom() + 1);

    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");
    QTest::addColumn<QString>("expected");
    QTest::newRow("far left and up") << -200000.f << -200000.f << QStringLiteral("1200 1200 6000 4500");
    QTest::newRow("past the right edge") << right << 600.f << QStringLiteral("1200 1200 6000 4500");
    QTest::newRow("below the bottom") << 600.f << bottom << QStringLiteral("1200 1200 6000 4500");
    // Any part on the screen keeps the stored place, negative included.
    QTest::newRow("partly left") << -3000.f << -1500.f << QStringLiteral("-3000 -1500 6000 4500");
    QTest::newRow("partly right") << right - 1500 << 600.f << QStringLiteral("%1 600 6000 4500").arg(right - 1500);
}

void TestStartUp::offScreenGeometry()
{
    QFETCH(float, left);
    QFETCH(float, top);
    QFETCH(QString, expected);
    putStore({{QStringLiteral("MainLeft"), QString::number(left)},
              {QStringLiteral("MainTop"), QString::number(top)},
              {QStringLiteral("MainWidth"), QStringLiteral("6000")},
              {QStringLiteral("MainHeight"), QStringLiteral("4500")}});
    // Checked as start-up leaves it, before the window is shown: the offscreen
    // test platform nudges a shown window whose client area would start left
    // of or above the screen, which a real window system does not.
    frmMain *window = newWindow();
    window->startUp();
    QCOMPARE(geometryText(twips::outerGeometry(window)), expected);
}

void TestStartUp::lastFolderGoneOpensItsParent()
{
    const QString gone = m_start + QStringLiteral("/gone/deeper");
    putStore({{QStringLiteral("Folder1"), gone}});
    frmMain *window = startWindow();
    QCOMPARE(window->txtLastFolder->text(), gone);
    QCOMPARE(window->Folders.value(0), gone);
    QCOMPARE(window->dir1Path(), m_start);
    QCOMPARE(window->fileList()->path(), m_start);
    QCOMPARE(m_fakes->places.working, m_program);
}

void TestStartUp::startedFromAnotherFolder_data()
{
    QTest::addColumn<bool>("startHoldsProgram");
    QTest::newRow("the program's copy there") << true;
    QTest::newRow("no program there") << false;
}

void TestStartUp::startedFromAnotherFolder()
{
    QFETCH(bool, startHoldsProgram);
    if (startHoldsProgram)
        writeFile(m_start + QStringLiteral("/vexalo4"), QByteArray(98765, 'y'));
    writeFile(m_start + QStringLiteral("/exception.txt"), ".start\r\n");
    m_fakes->places.working = m_start;
    const QStringList programBefore = entries(m_program);

    frmMain *window = startWindow();
    if (startHoldsProgram) {
        QCOMPARE(readFile(m_start + QStringLiteral("/fennick.dat")), QByteArray("Vexalo4\r\nVexalo4\r\n4.1.27.98765"));
        QCOMPARE(readFile(m_start + QStringLiteral("/vexalo4.ver")), QByteArray("4.1.27.98765"));
    } else {
        // A folder the program was merely started from is left alone.
        QCOMPARE(entries(m_start), (QStringList{QStringLiteral("exception.txt")}));
    }
    // Not in the program folder, and its exception list, not the start folder's.
    QCOMPARE(entries(m_program), programBefore);
    QCOMPARE(window->ExceptionList, QStringLiteral(".abc .xyz"));
    QCOMPARE(m_fakes->places.working, m_program);
    QVERIFY(m_fakes->messages.shown.isEmpty());
}

void TestStartUp::exitAndCloseBoxBothSave_data()
{
    QTest::addColumn<bool>("byExit");
    QTest::newRow("Exit") << true;
    QTest::newRow("close box") << false;
}

void TestStartUp::exitAndCloseBoxBothSave()
{
    QFETCH(bool, byExit);
    writeFile(m_program + QStringLiteral("/notes.htm"), "old text");
    frmMain *window = startWindow();
    window->txtReplaceString->setPlainText(QStringLiteral("kept"));
    // A viewer with edits nobody saved goes with the main window, unasked.
    const int row = int(window->fileList()->names().indexOf(QStringLiteral("notes.htm")));
    QVERIFY(row >= 0);
    const QPoint onRow = window->lstFiles->visualRect(window->fileList()->index(row)).center();
    QTest::mouseClick(window->lstFiles->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(window->lstFiles->viewport(), Qt::LeftButton, {}, onRow);
    QPointer<frmViewer> viewer = window->viewer();
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    auto *text = viewer->findChild<QPlainTextEdit *>();
    QVERIFY(text);
    text->setPlainText(QStringLiteral("edited"));

    if (byExit)
        QTest::mouseClick(window->cmdExit, Qt::LeftButton);
    else
        QVERIFY(window->close());

    QVERIFY(!window->isVisible());
    QTRY_VERIFY(!viewer);
    QCOMPARE(storeValue(QStringLiteral("ReplaceText")), QStringLiteral("kept"));
    QCOMPARE(readFile(m_program + QStringLiteral("/notes.htm")), QByteArray("old text"));
    QVERIFY(m_fakes->messages.shown.isEmpty());
}

void TestStartUp::storeThatCannotBeWrittenIsReported()
{
    // A file where the store's folder should be: nothing can be written, not
    // even by a user who may write anywhere.
    writeFile(path(QStringLiteral("store")), "not a folder");
    frmMain *window = startWindow();
    QVERIFY(window->close());

    QVERIFY(!window->isVisible());
    QCOMPARE(m_fakes->messages.shown.size(), 1);
    const MessageRequest &message = m_fakes->messages.shown.first();
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(m_store)), qPrintable(message.text));
    QCOMPARE(message.icon, MessageRequest::Icon::Exclamation);
    QCOMPARE(message.buttons, MessageRequest::Buttons::Ok);
}

void TestStartUp::onlineUpdate_data()
{
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QByteArray>("update");  // empty: no "Update"
    QTest::addColumn<QByteArray>("fennick"); // empty: no "Fennick"
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QStringList>("files");
    // The user has browsed to a data folder that holds an "Update" and a
    // "Fennick" of its own (an unpacked download, say).
    QTest::addColumn<bool>("browsed");

    const QStringList both = {QStringLiteral("Fennick"), QStringLiteral("Update")};
    QTest::newRow("Cancel") << MessageAnswer::Cancel << QByteArray("new") << QByteArray("old") << false << both
                            << false;
    QTest::newRow("OK without Update") << MessageAnswer::Ok << QByteArray() << QByteArray("old") << true
                                       << QStringList{QStringLiteral("Fennick")} << false;
    QTest::newRow("OK with Update and Fennick") << MessageAnswer::Ok << QByteArray("new") << QByteArray("old") << true
                                                << QStringList{QStringLiteral("Fennick")} << false;
    QTest::newRow("OK with Update, no Fennick") << MessageAnswer::Ok << QByteArray("new") << QByteArray() << false
                                                << QStringList{QStringLiteral("Update")} << false;
    QTest::newRow("browsed elsewhere, OK without Update") << MessageAnswer::Ok << QByteArray() << QByteArray("old")
                                                          << true << QStringList{QStringLiteral("Fennick")} << true;
    QTest::newRow("browsed elsewhere, OK with Update and Fennick")
        << MessageAnswer::Ok << QByteArray("new") << QByteArray("old") << true << QStringList{QStringLiteral("Fennick")}
        << true;
}

void TestStartUp::onlineUpdate()
{
    QFETCH(MessageAnswer, answer);
    QFETCH(QByteArray, update);
    QFETCH(QByteArray, fennick);
    QFETCH(bool, starts);
    QFETCH(QStringList, files);
    QFETCH(bool, browsed);

    // The command works in the program folder, whatever folder is shown.
    const QString updater = m_program + QStringLiteral("/Fennick");
    const QString replacement = m_program + QStringLiteral("/Update");
    if (!update.isEmpty())
        writeFile(replacement, update);
    if (!fennick.isEmpty())
        writeFile(updater, fennick);
    const QString download = m_start;
    const QMap<QString, QByteArray> decoys = {{QStringLiteral("Update"), "downloaded Update"},
                                              {QStringLiteral("Fennick"), "downloaded Fennick"}};
    for (auto decoy = decoys.cbegin(); decoy != decoys.cend(); ++decoy)
        writeFile(download + QLatin1Char('/') + decoy.key(), decoy.value());
    frmMain *window = startWindow();
    QCOMPARE(m_fakes->places.working, m_program);
    if (browsed) {
        QVERIFY(window->setDir1Path(download, nullptr));
        QCOMPARE(m_fakes->places.working, download);
    }
    window->txtFindString->setPlainText(QStringLiteral("at update time"));
    m_fakes->messages.script = {answer};

    window->mnuUpdate->trigger();

    const QList<MessageRequest> &shown = m_fakes->messages.shown;
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown[0].text, QStringLiteral("Vexalo will close to check for online updates!"));
    QCOMPARE(shown[0].title, QStringLiteral("Online Update"));
    QCOMPARE(shown[0].buttons, MessageRequest::Buttons::OkCancel);
    QCOMPARE(shown[0].icon, MessageRequest::Icon::Information);

    const QStringList updaterFiles =
        entries(m_program).filter(QRegularExpression(QStringLiteral("^(Fennick|Update)$")));
    QCOMPARE(updaterFiles, files);

    const bool failed = answer == MessageAnswer::Ok && !starts;
    if (answer == MessageAnswer::Cancel) {
        QCOMPARE(readFile(updater), fennick);
        QCOMPARE(readFile(replacement), update);
    }
    // Nothing of the browsed folder is renamed or started.
    for (auto decoy = decoys.cbegin(); decoy != decoys.cend(); ++decoy)
        QCOMPARE(readFile(download + QLatin1Char('/') + decoy.key()), decoy.value());
    if (starts) {
        QCOMPARE(m_fakes->processes.started, QStringList{updater});
        // The copy that was waiting is the one started.
        QCOMPARE(readFile(updater), update.isEmpty() ? fennick : update);
    } else {
        QVERIFY(m_fakes->processes.started.isEmpty());
    }
    if (failed) {
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].text, QStringLiteral("Error updating Vexalo.  Close all programs and try again!"));
        QCOMPARE(shown[1].title, QStringLiteral("Fennick"));
        QCOMPARE(shown[1].buttons, MessageRequest::Buttons::Ok);
        QCOMPARE(shown[1].icon, MessageRequest::Icon::None);
        QCOMPARE(readFile(replacement), update);
    } else {
        QCOMPARE(shown.size(), 1);
    }

    // Starting the updater closes the window, which saves the settings;
    // otherwise the window stays open and nothing is saved yet.
    QCOMPARE(window->isVisible(), !starts);
    QCOMPARE(storeValue(QStringLiteral("FindText")),
             starts ? QStringLiteral("at update time") : QStringLiteral("<absent>"));
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
