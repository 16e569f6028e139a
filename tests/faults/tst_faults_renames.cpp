// SPDX-License-Identifier: MIT
// Renames as the case conversion makes them (renameNoReplace): a name taken
// by another file, a case-only change, a file gone since the list was loaded,
// a name taken by a folder or a dangling link. Nothing is replaced, each
// failure is reported, the rest are renamed; also where the file system has
// no atomic "do not replace" (renameat2 refused by the fault library), and
// when the calls of that fallback fail or the program is killed between them.
#include "FaultTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

using namespace faults;

namespace {

void seedBatch(const QString &dir)
{
    writeFile(dir + "/a.txt", "small a");
    writeFile(dir + "/A.TXT", "capital A");
    writeFile(dir + "/ReadMe.Txt", "read me");
    writeFile(dir + "/notes.txt", "notes");
    writeFile(dir + "/x.txt", "x");
    QDir(dir).mkdir("X.TXT");
    writeFile(dir + "/y.txt", "y");
    QFile::link(dir + "/nowhere", dir + "/Y.TXT");
}

const QStringList batch{"a.txt",     "A.TXT",     "ReadMe.Txt", "README.TXT", "gone.txt", "GONE.TXT",
                        "notes.txt", "NOTES.TXT", "x.txt",      "X.TXT",      "y.txt",    "Y.TXT"};

bool isLink(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

class tst_FaultsRenames : public QObject {
    Q_OBJECT

private slots:
    void batchOfRenames_data()
    {
        QTest::addColumn<bool>("noRenameat2");
        QTest::newRow("atomic no-replace rename") << false;
        QTest::newRow("link and unlink instead") << true;
    }

    void batchOfRenames()
    {
        QFETCH(bool, noRenameat2);
        QTemporaryDir dir;
        seedBatch(dir.path());
        Fault fault;
        if (noRenameat2) {
            fault.dir = dir.path();
            fault.noRenameat2 = true;
        }
        const DriverRun run = runDriver(QStringList{"rename", dir.path()} + batch, fault);
        QCOMPARE(run.lines,
                 QStringList({
                     "a.txt:  failed: another file named A.TXT already exists",
                     "ReadMe.Txt -> README.TXT",
                     "gone.txt:  failed: No such file or directory",
                     "notes.txt -> NOTES.TXT",
                     "x.txt:  failed: another file named X.TXT already exists",
                     "y.txt:  failed: another file named Y.TXT already exists",
                 }));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("small a"));
        QCOMPARE(readFile(dir.filePath("A.TXT")), QByteArray("capital A"));
        QCOMPARE(readFile(dir.filePath("README.TXT")), QByteArray("read me"));
        QCOMPARE(readFile(dir.filePath("NOTES.TXT")), QByteArray("notes"));
        QCOMPARE(readFile(dir.filePath("x.txt")), QByteArray("x"));
        QVERIFY(QFileInfo(dir.filePath("X.TXT")).isDir());
        QCOMPARE(readFile(dir.filePath("y.txt")), QByteArray("y"));
        QVERIFY(isLink(dir.filePath("Y.TXT")));
        QCOMPARE(allEntries(dir.path()),
                 QStringList({"A.TXT", "NOTES.TXT", "README.TXT", "X.TXT", "Y.TXT", "a.txt", "x.txt", "y.txt"}));
    }

    // Where renameat2 is refused, the fallback's own calls fail in turn: the
    // file keeps one name, its content, and the failure is reported.
    void fallbackCallsFail_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("expected");
        QTest::newRow("link") << "link"
                              << "notes.txt:  failed: " + reasonOf(EIO);
        QTest::newRow("unlink") << "unlink"
                                << "notes.txt:  failed: " + reasonOf(EIO);
    }

    void fallbackCallsFail()
    {
        QFETCH(QString, call);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        writeFile(dir.filePath("notes.txt"), "notes");
        writeFile(dir.filePath("more.txt"), "more");
        Fault fault;
        fault.dir = dir.path();
        fault.call = call;
        fault.nth = 1;
        fault.noRenameat2 = true;
        const DriverRun run =
            runDriver({"rename", dir.path(), "notes.txt", "NOTES.TXT", "more.txt", "MORE.TXT"}, fault);
        QCOMPARE(run.lines, QStringList({expected, "more.txt -> MORE.TXT"}));
        // One name, never two: two names would look like a copy.
        QCOMPARE(allEntries(dir.path()), QStringList({"MORE.TXT", "notes.txt"}));
        QCOMPARE(readFile(dir.filePath("notes.txt")), QByteArray("notes"));
    }

    // Killed between the fallback's link and unlink: the content is whole
    // under the new name, at worst under both.
    void killedInFallback()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("notes.txt"), "notes");
        Fault fault;
        fault.dir = dir.path();
        fault.call = "link";
        fault.nth = 1;
        fault.action = "kill-after";
        fault.noRenameat2 = true;
        const DriverRun run = runDriver({"rename", dir.path(), "notes.txt", "NOTES.TXT"}, fault);
        QVERIFY(run.killed);
        QCOMPARE(readFile(dir.filePath("NOTES.TXT")), QByteArray("notes"));
        QCOMPARE(strangers(dir.path(), {"NOTES.TXT", "notes.txt"}), QStringList());
    }

    // Two names for one file (a hard link) look to the rename like a file
    // system that ignores case: it goes through a hidden name of its own,
    // finds the new name taken, and puts the file back.
    void sameFileUnderBothNames()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.txt"), "one file");
        QVERIFY(::link(QFile::encodeName(dir.filePath("a.txt")).constData(),
                       QFile::encodeName(dir.filePath("A.TXT")).constData())
                == 0);
        const DriverRun run = runDriver({"rename", dir.path(), "a.txt", "A.TXT"});
        QCOMPARE(run.lines.size(), 1);
        QVERIFY2(run.lines[0].startsWith("a.txt:  failed: "), qPrintable(run.lines[0]));
        QCOMPARE(allEntries(dir.path()), QStringList({"A.TXT", "a.txt"}));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("one file"));
    }
};

QTEST_GUILESS_MAIN(tst_FaultsRenames)
#include "tst_faults_renames.moc"
