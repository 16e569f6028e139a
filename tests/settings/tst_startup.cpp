// SPDX-License-Identifier: MIT
#include "FakeServices.h"

#include "engine/files/FileNames.h"
#include "engine/files/ProtectedList.h"
#include "settings/HandOff.h"
#include "settings/SettingsStore.h"
#include "settings/StartFolders.h"
#include "tests/common/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vexalo;

class TestStartup : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_start;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static void writeFile(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString &file)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll();
    }
    // Names in a folder, the hidden temporaries of a failed write included.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Name);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_start = QDir::currentPath();
    }
    void cleanup() { QDir::setCurrent(m_start); }

    void handOffFilesHoldExactlyTheseBytes_data()
    {
        QTest::addColumn<QByteArray>("folderName");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("version");
        QTest::newRow("some size") << QByteArray("bytes-123456") << 123456 << QByteArray("4.1.27.123456");
        QTest::newRow("empty program file") << QByteArray("bytes-0") << 0 << QByteArray("4.1.27.0");
        // Looked up under another name, the program file would count as empty.
        QTest::newRow("folder not UTF-8") << QByteArray("pr\xe9g") << 4321 << QByteArray("4.1.27.4321");
    }
    void handOffFilesHoldExactlyTheseBytes()
    {
        QFETCH(QByteArray, folderName);
        QFETCH(int, size);
        QFETCH(QByteArray, version);
        const QByteArray folder = QFile::encodeName(m_dir.path()) + '/' + folderName;
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const testfiles::RawTreeRemover remover{folder};
        testfiles::writeRawFile(folder + "/vexalo4", QByteArray(size, 'x'));
        // Longer old files: a stale tail would show that they were not
        // replaced whole.
        testfiles::writeRawFile(folder + "/fennick.dat", QByteArray(200, 'o'));
        testfiles::writeRawFile(folder + "/vexalo4.ver", QByteArray(200, 'o'));

        const HandOffResult result = HandOff::write(FilePath::fromBytes(folder));
        QCOMPARE(result.outcome, HandOffResult::Outcome::Written);
        QCOMPARE(testfiles::readRawFile(folder + "/fennick.dat"), "Vexalo4\r\nVexalo4\r\n" + version);
        QCOMPARE(testfiles::readRawFile(folder + "/vexalo4.ver"), version);
        QCOMPARE(testfiles::rawEntries(folder), (QByteArrayList{"fennick.dat", "vexalo4", "vexalo4.ver"}));
    }

    void programFileThroughALinkCountsWithItsTargetSize()
    {
        const QString folder = path(QStringLiteral("linked"));
        QVERIFY(QDir().mkpath(folder));
        writeFile(path(QStringLiteral("real-vexalo4")), QByteArray(4321, 'x'));
        QVERIFY(QFile::link(path(QStringLiteral("real-vexalo4")), folder + QStringLiteral("/vexalo4")));
        QCOMPARE(HandOff::write(FilePath::fromString(folder)).outcome, HandOffResult::Outcome::Written);
        QCOMPARE(readFile(folder + QStringLiteral("/vexalo4.ver")), QByteArray("4.1.27.4321"));
    }

    // The program does not litter folders it was merely started from.
    void noProgramFileNoHandOff_data()
    {
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("no such name") << false;
        QTest::newRow("a folder of that name") << true;
    }
    void noProgramFileNoHandOff()
    {
        QFETCH(bool, asFolder);
        const QString folder = path(asFolder ? QStringLiteral("dir-named") : QStringLiteral("plain"));
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + QStringLiteral("/vexalo4.exe"), "not our name here");
        if (asFolder)
            QVERIFY(QDir().mkpath(folder + QStringLiteral("/vexalo4")));
        const QStringList before = entries(folder);
        QCOMPARE(HandOff::write(FilePath::fromString(folder)).outcome, HandOffResult::Outcome::NoProgramFile);
        QCOMPARE(entries(folder), before);
    }

    // A hand-off file that cannot be replaced (here a folder is in its way)
    // is reported with its name; the other is still written.
    void oneFailingHandOffFileDoesNotStopTheOther()
    {
        const QString folder = path(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/fennick.dat")));
        writeFile(folder + QStringLiteral("/vexalo4"), "12345");
        const HandOffResult result = HandOff::write(FilePath::fromString(folder));
        QCOMPARE(result.outcome, HandOffResult::Outcome::Failed);
        QVERIFY2(result.error.contains(QStringLiteral("fennick.dat")), qPrintable(result.error));
        QVERIFY(QFileInfo(folder + QStringLiteral("/fennick.dat")).isDir());
        QCOMPARE(readFile(folder + QStringLiteral("/vexalo4.ver")), QByteArray("4.1.27.5"));
        QCOMPARE(entries(folder).size(), 3); // no temporary left behind
    }

    void folderToOpen_data()
    {
        QTest::addColumn<QString>("folder1");  // relative to the test folder unless empty or "relative:"
        QTest::addColumn<QString>("expected"); // likewise; "program" is the program folder
        QTest::newRow("existing") << QStringLiteral("tree/a") << QStringLiteral("tree/a");
        QTest::newRow("gone") << QStringLiteral("tree/a/gone") << QStringLiteral("tree/a");
        QTest::newRow("gone two levels") << QStringLiteral("tree/gone/deeper") << QStringLiteral("tree");
        QTest::newRow("a file, not a folder") << QStringLiteral("tree/a/file.txt") << QStringLiteral("tree/a");
        QTest::newRow("trailing separator") << QStringLiteral("tree/a/") << QStringLiteral("tree/a");
        QTest::newRow("dot-dot") << QStringLiteral("tree/a/..") << QStringLiteral("tree");
        QTest::newRow("empty") << QString() << QStringLiteral("program");
        QTest::newRow("relative") << QStringLiteral("relative:tree/a") << QStringLiteral("program");
        // Looked for under another name, it would seem gone and its parent open.
        QTest::newRow("name not UTF-8") << decodeFileName("tree/d\xe9j\xe0") << decodeFileName("tree/d\xe9j\xe0");
        QTest::newRow("gone, in a folder whose name is not UTF-8")
            << decodeFileName("tree/d\xe9j\xe0/gone") << decodeFileName("tree/d\xe9j\xe0");
    }
    void folderToOpen()
    {
        QFETCH(QString, folder1);
        QFETCH(QString, expected);
        QVERIFY(QDir().mkpath(path(QStringLiteral("tree/a"))));
        writeFile(path(QStringLiteral("tree/a/file.txt")), "x");
        const QByteArray notUtf8 = QFile::encodeName(path(QStringLiteral("tree"))) + "/d\xe9j\xe0";
        ::mkdir(notUtf8.constData(), 0755);
        const QString program = path(QStringLiteral("program"));

        QString stored = folder1;
        if (stored.startsWith(QLatin1String("relative:")))
            stored = stored.mid(9);
        else if (!stored.isEmpty())
            stored = path(stored);
        const QString opened = vexalo::folderToOpen(stored, program);
        ::rmdir(notUtf8.constData()); // QTemporaryDir cannot remove it
        QCOMPARE(opened, path(expected));
    }

    // Start-up run from a folder that is not the program's own, in the order
    // frmMain's Load follows: the hand-off files depend on that starting
    // folder, and "exception.txt" still comes from the program folder.
    void startedFromAnotherFolder_data()
    {
        QTest::addColumn<bool>("startHoldsProgram");
        QTest::addColumn<bool>("refuseMove");
        QTest::newRow("plain other folder") << false << false;
        QTest::newRow("other folder with a program copy") << true << false;
        QTest::newRow("working folder cannot be changed") << false << true;
    }
    void startedFromAnotherFolder()
    {
        QFETCH(bool, startHoldsProgram);
        QFETCH(bool, refuseMove);
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program"));
        const QString start = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(start));
        writeFile(program + QStringLiteral("/vexalo4"), QByteArray(100, 'p'));
        writeFile(program + QStringLiteral("/exception.txt"), ".txt .htm\r\n.exe\r\n");
        writeFile(start + QStringLiteral("/exception.txt"), ".doc\r\n");
        if (startHoldsProgram)
            writeFile(start + QStringLiteral("/vexalo4"), QByteArray(7, 's'));
        QVERIFY(QDir::setCurrent(start));

        FakePlaces places;
        places.program = program;
        places.refuseMove = refuseMove;
        const SettingsStore store(program, dir.filePath(QStringLiteral("store.ini")));

        const HandOffResult handOff = HandOff::write(FilePath::fromString(places.workingFolder()));
        MainWindowState state;
        QVERIFY(store.run(QStringLiteral("get"), state).ok);
        const QString dir1 = vexalo::folderToOpen(state.folders.value(0), program);
        const QString exceptionList = enterProgramFolder(places).extensions;

        QCOMPARE(handOff.outcome,
                 startHoldsProgram ? HandOffResult::Outcome::Written : HandOffResult::Outcome::NoProgramFile);
        QCOMPARE(QFile::exists(start + QStringLiteral("/fennick.dat")), startHoldsProgram);
        QCOMPARE(QFile::exists(start + QStringLiteral("/vexalo4.ver")), startHoldsProgram);
        if (startHoldsProgram)
            QCOMPARE(readFile(start + QStringLiteral("/vexalo4.ver")), QByteArray("4.1.27.7"));
        QVERIFY(!QFile::exists(program + QStringLiteral("/fennick.dat")));
        QCOMPARE(dir1, program);
        QCOMPARE(exceptionList, QStringLiteral(".txt .htm"));
        QCOMPARE(QDir::current().canonicalPath(), QDir(refuseMove ? start : program).canonicalPath());
    }

    void noExceptionFileGivesTheDefaultList()
    {
        QTemporaryDir dir;
        FakePlaces places;
        places.program = dir.path();
        QCOMPARE(enterProgramFolder(places).extensions, defaultProtectedExtensions());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
