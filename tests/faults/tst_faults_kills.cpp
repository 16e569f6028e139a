// SPDX-License-Identifier: MIT
// The program killed in the middle: SIGKILL right before and right after
// each system call of a rewrite, a backup and a restore (by the preloaded
// fault library), and at moments picked by the clock while a large file is
// written. Afterwards every file holds its old or its new content, whole;
// anything left behind carries the writer's hidden prefix, is never listed,
// and is never processed as a user's file by a later run.
#include "FaultTools.h"

#include "engine/files/FileOps.h"
#ifdef VEXALO_HAVE_FILE_LIST
#include "ui/frmMain/FileListModel.h"
#endif

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace faults;

namespace {

const QByteArray &before = sampleBefore;
const QByteArray &after = sampleAfter;
const QByteArray &olderBackup = sampleOlderBackup;

void seedRestore(const QString &dir)
{
    writeFile(dir + "/first.txt", after);
    writeFile(dir + "/first.txt.old", before);
}

QStringList replaceArgs(const QString &dir, const QStringList &names, const QString &flags = "be")
{
    return QStringList{"replace", dir, "alpha", "omega", flags} + names;
}

// Each call of a run, whole-file and (flag k) read in blocks of a few bytes.
void killRows(bool restore)
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<bool>("noTmpfile");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("action");
    const QString whole = restore ? "e" : "be";
    const QList<QPair<QString, bool>> runs{{whole, false}, {whole, true}, {whole + 'k', false}, {whole + 'k', true}};
    for (const auto &[flags, noTmpfile] : runs) {
        QTemporaryDir dir(inMemoryTemplate());
        QStringList args;
        if (restore) {
            seedRestore(dir.path());
            args = {"restore", dir.path(), flags, "first.txt"};
        } else {
            seedReplace(dir.path());
            args = replaceArgs(dir.path(), {"first.txt"}, flags);
        }
        const QStringList calls = traceCalls(args, dir.path(), noTmpfile);
        if (calls.size() < 6)
            qFatal("the trace saw only %d calls: is the fault library preloaded?", int(calls.size()));
        for (int i = 0; i < calls.size(); ++i) {
            for (const char *action : {"kill-before", "kill-after"}) {
                QTest::addRow("%s %s %s #%d %s", qPrintable(flags), noTmpfile ? "named" : "unnamed", action, i + 1,
                              qPrintable(describeCall(calls[i], dir.path())))
                    << flags << noTmpfile << i + 1 << QString::fromLatin1(action);
            }
        }
    }
}

// What the main window's file list shows under the pattern "*.*".
QStringList listed(const QString &dir)
{
#ifdef VEXALO_HAVE_FILE_LIST
    FileListModel list;
    list.setPattern(QStringLiteral("*.*"));
    QString error;
    if (!list.setPath(dir, &error))
        qFatal("cannot list %s: %s", qPrintable(dir), qPrintable(error));
    return list.names();
#else
    // Built without the windows: the driver lists by the same rule.
    return runDriver({"list", dir}).lines;
#endif
}

QMap<QString, QByteArray> contents(const QString &dir, const QStringList &names)
{
    QMap<QString, QByteArray> out;
    for (const QString &name : names)
        out.insert(name, readFile(dir + '/' + name));
    return out;
}

} // namespace

class tst_FaultsKills : public QObject {
    Q_OBJECT

private slots:
    void replaceKilled_data() { killRows(false); }

    void replaceKilled()
    {
        QFETCH(QString, flags);
        QFETCH(bool, noTmpfile);
        QFETCH(int, nth);
        QFETCH(QString, action);
        QTemporaryDir dir(inMemoryTemplate());
        seedReplace(dir.path());
        Fault fault;
        fault.dir = dir.path();
        fault.call = "*";
        fault.nth = nth;
        fault.action = action;
        fault.noTmpfile = noTmpfile;
        const DriverRun run = runDriver(replaceArgs(dir.path(), {"first.txt", "second.txt"}, flags), fault);
        QVERIFY2(run.killed, "the driver was not killed where it should have been");

        // Old or new, whole; a rewritten file always has its backup.
        const QByteArray content = readFile(dir.filePath("first.txt"));
        const QByteArray backup = readFile(dir.filePath("first.txt.old"));
        QVERIFY2(content == before || content == after, content.constData());
        QVERIFY2(backup == olderBackup || backup == before, backup.constData());
        if (content == after)
            QCOMPARE(backup, before);
        QCOMPARE(readFile(dir.filePath("second.txt")), QByteArray("alpha"));

        // Nothing a user would take for a file of theirs, and nothing listed.
        const QStringList userFiles{"first.txt", "first.txt.old", "second.txt"};
        QCOMPARE(strangers(dir.path(), userFiles), QStringList());
        QCOMPARE(listed(dir.path()), userFiles);

        // The next run over the listed files never touches a leftover.
        const QStringList leftovers = temporaries(dir.path());
        const auto leftoverContents = contents(dir.path(), leftovers);
        const DriverRun next = runHere(replaceArgs(dir.path(), {"first.txt", "second.txt"}));
        QCOMPARE(next.lines.size(), 2);
        QVERIFY2(!next.lines.join('\n').contains(vexalo::temporaryPrefix()), qPrintable(next.lines.join('\n')));
        QCOMPARE(readFile(dir.filePath("second.txt")), QByteArray("omega"));
        QCOMPARE(temporaries(dir.path()), leftovers);
        QCOMPARE(contents(dir.path(), leftovers), leftoverContents);
    }

    void restoreKilled_data() { killRows(true); }

    // A kill between the copy back and the backup's deletion included: the
    // next Restore finishes the job.
    void restoreKilled()
    {
        QFETCH(QString, flags);
        QFETCH(bool, noTmpfile);
        QFETCH(int, nth);
        QFETCH(QString, action);
        QTemporaryDir dir(inMemoryTemplate());
        seedRestore(dir.path());
        Fault fault;
        fault.dir = dir.path();
        fault.call = "*";
        fault.nth = nth;
        fault.action = action;
        fault.noTmpfile = noTmpfile;
        const DriverRun run = runDriver({"restore", dir.path(), flags, "first.txt"}, fault);
        QVERIFY2(run.killed, "the driver was not killed where it should have been");

        const QByteArray content = readFile(dir.filePath("first.txt"));
        QVERIFY2(content == after || content == before, content.constData());
        if (QFile::exists(dir.filePath("first.txt.old")))
            QCOMPARE(readFile(dir.filePath("first.txt.old")), before);
        else
            QCOMPARE(content, before); // the backup goes only after the copy is complete
        QCOMPARE(strangers(dir.path(), {"first.txt", "first.txt.old"}), QStringList());

        const DriverRun again = runHere({"restore", dir.path(), "e", "first.txt"});
        const bool hadBackup = !again.lines.isEmpty() && again.lines[0] == "first.txt:  restored";
        QVERIFY2(hadBackup || again.lines == QStringList{"first.txt:  not restored"},
                 qPrintable(again.lines.join('\n')));
        QCOMPARE(readFile(dir.filePath("first.txt")), before);
        QVERIFY(!QFile::exists(dir.filePath("first.txt.old")));
    }

    // Several files in work at once: a kill at any rename leaves every file
    // old or new, and nothing a user would take for theirs.
    void parallelRunKilled_data()
    {
        QTest::addColumn<int>("nth");
        for (int nth : {1, 3, 6, 10})
            QTest::addRow("kill before rename #%d", nth) << nth;
    }

    void parallelRunKilled()
    {
        QFETCH(int, nth);
        QTemporaryDir dir(inMemoryTemplate());
        QStringList names;
        for (int i = 0; i < 12; ++i) {
            names << QString("file%1.txt").arg(i, 2, 10, QChar('0'));
            writeFile(dir.filePath(names.last()), before);
        }
        Fault fault;
        fault.dir = dir.path();
        fault.call = "rename";
        fault.nth = nth;
        fault.action = "kill-before";
        const DriverRun run = runDriver(QStringList{"replace", dir.path(), "alpha", "omega", "bp"} + names, fault);
        QVERIFY(run.killed);
        QStringList expected = names;
        for (const QString &name : names) {
            const QByteArray content = readFile(dir.filePath(name));
            QVERIFY2(content == before || content == after, qPrintable(name));
            if (QFile::exists(dir.filePath(name + ".old"))) {
                QCOMPARE(readFile(dir.filePath(name + ".old")), before);
                expected << name + ".old";
            } else {
                QCOMPARE(content, before);
            }
        }
        QCOMPARE(strangers(dir.path(), expected), QStringList());
        QCOMPARE(listed(dir.path()).filter(vexalo::temporaryPrefix()), QStringList());
    }

    // Killed by the clock, at moments spread over the rewrite of a file large
    // enough that the write takes a while.
    void killedAtRandomMoments()
    {
        QByteArray big;
        for (int i = 0; i < 400000; ++i)
            big += "alpha line " + QByteArray::number(i) + '\n';
        QByteArray replaced = big;
        replaced.replace("alpha", "omega");

        QTemporaryDir probe;
        writeFile(probe.filePath("big.txt"), big);
        QElapsedTimer clock;
        clock.start();
        const DriverRun clean = runDriver({"replace", probe.path(), "alpha", "omega", "be", "big.txt"});
        const qint64 duration = qMax<qint64>(clock.elapsed(), 20);
        QCOMPARE(clean.lines, QStringList{"big.txt:  replaced"});
        QVERIFY(readFile(probe.filePath("big.txt")) == replaced);

        for (int step = 0; step < 10; ++step) {
            QTemporaryDir dir;
            writeFile(dir.filePath("big.txt"), big);
            QProcess process;
            process.start(QStringLiteral(VEXALO_FAULT_DRIVER),
                          {"replace", dir.path(), "alpha", "omega", "be", "big.txt"});
            QVERIFY(process.waitForStarted());
            QThread::msleep(duration * step / 10);
            process.kill();
            process.waitForFinished();
            const QByteArray content = readFile(dir.filePath("big.txt"));
            QVERIFY2(content == big || content == replaced,
                     qPrintable(QStringLiteral("step %1: %2 bytes").arg(step).arg(content.size())));
            if (QFile::exists(dir.filePath("big.txt.old")))
                QVERIFY(readFile(dir.filePath("big.txt.old")) == big);
            QCOMPARE(strangers(dir.path(), {"big.txt", "big.txt.old"}), QStringList());
            QCOMPARE(listed(dir.path()).filter(vexalo::temporaryPrefix()), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(tst_FaultsKills)
#include "tst_faults_kills.moc"
