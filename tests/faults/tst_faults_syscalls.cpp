// SPDX-License-Identifier: MIT
// Every system call of a rewrite, a backup and a restore fails in turn, with
// the failure injected into the real call by the preloaded fault library.
// The calls are not listed by hand: a clean run is traced first, so a change
// to the writer that adds a call is covered without touching this file.
#include "FaultTools.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace faults;

namespace {

const QByteArray &before = sampleBefore;
const QByteArray &after = sampleAfter;
const QByteArray &olderBackup = sampleOlderBackup;

QStringList replaceArgs(const QString &dir, const QString &flags, const QStringList &names)
{
    return QStringList{"replace", dir, "alpha", "omega", flags} + names;
}

void seedRestore(const QString &dir)
{
    writeFile(dir + "/first.txt", after);
    writeFile(dir + "/first.txt.old", before);
    writeFile(dir + "/second.txt", "omega");
    writeFile(dir + "/second.txt.old", "alpha");
}

// One row per call that the run on first.txt alone makes: each is the call
// that fails while first.txt and second.txt are processed.
void callRows(const char *command, const QString &flags)
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<bool>("noTmpfile");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("call");
    for (const bool noTmpfile : {false, true}) {
        QTemporaryDir dir(inMemoryTemplate());
        QStringList args;
        if (qstrcmp(command, "replace") == 0) {
            seedReplace(dir.path());
            args = replaceArgs(dir.path(), flags, {"first.txt"});
        } else {
            seedRestore(dir.path());
            args = QStringList{"restore", dir.path(), flags, "first.txt"};
        }
        QStringList calls = traceCalls(args, dir.path(), noTmpfile);
        if (calls.size() < 6)
            qFatal("the trace saw only %d calls: is the fault library preloaded?", int(calls.size()));
        // The one sync at the end of a run comes after the last file, not
        // with this one: endOfRunSyncFails covers it.
        if (!flags.contains('e')) {
            qsizetype lastRename = calls.size() - 1;
            while (lastRename > 0 && !calls[lastRename].startsWith("rename "))
                --lastRename;
            calls = calls.mid(0, lastRename + 1);
        }
        for (int i = 0; i < calls.size(); ++i) {
            const QString call = describeCall(calls[i], dir.path());
            QTest::addRow("%s %s #%d %s", noTmpfile ? "named" : "unnamed", qPrintable(flags), i + 1, qPrintable(call))
                << flags << noTmpfile << i + 1 << call;
        }
    }
}

int expectedError(const QString &call)
{
    return call.startsWith("write ") ? ENOSPC : EIO;
}

// A run that syncs every file promises it is on the disk when its line shows:
// no sync that failed may pass for success, whatever file or folder it was for.
bool mustBeReported(const QString &flags, const QString &call)
{
    return flags.contains('e')
        && (call.startsWith("fdatasync ") || call.startsWith("fsync ") || call.startsWith("syncfs "));
}

} // namespace

class tst_FaultsSyscalls : public QObject {
    Q_OBJECT

private slots:
    void replaceEachCallFails_data()
    {
        // With a backup and a sync per file every call of the writer is made;
        // without the backup and with the one sync at the end, the others.
        callRows("replace", "be");
        callRows("replace", "-");
        // The same read a few bytes at a time: the reads, the kernel's copies
        // and the writes as it goes.
        callRows("replace", "bek");
        callRows("replace", "k");
    }

    void replaceEachCallFails()
    {
        QFETCH(QString, flags);
        QFETCH(bool, noTmpfile);
        QFETCH(int, nth);
        QFETCH(QString, call);
        QTemporaryDir dir(inMemoryTemplate());
        seedReplace(dir.path());
        Fault fault;
        fault.dir = dir.path();
        fault.call = "*";
        fault.nth = nth;
        fault.noTmpfile = noTmpfile;
        const DriverRun run = runDriver(replaceArgs(dir.path(), flags, {"first.txt", "second.txt"}), fault);
        QVERIFY2(!run.killed && run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(run.lines.size(), 2);

        const QByteArray content = readFile(dir.filePath("first.txt"));
        const QByteArray backup = readFile(dir.filePath("first.txt.old"));
        const bool backups = flags.contains('b');
        if (mustBeReported(flags, call))
            QVERIFY2(run.lines[0].startsWith("first.txt:  failed: "), qPrintable(run.lines[0]));
        if (run.lines[0] == "first.txt:  replaced") {
            QCOMPARE(content, after);
            QCOMPARE(backup, backups ? before : olderBackup);
        } else {
            // The failure names the file and the reason the system gave.
            QVERIFY2(run.lines[0].startsWith("first.txt:  failed: "), qPrintable(run.lines[0]));
            QVERIFY2(run.lines[0].contains(reasonOf(expectedError(call))), qPrintable(run.lines[0]));
            // Only a sync that failed after the rename leaves the new content,
            // and the message says so.
            if (content == after)
                QVERIFY2(run.lines[0].contains("sync"), qPrintable(run.lines[0]));
            else
                QCOMPARE(content, before);
            // The older backup goes only once a complete new one has taken
            // its place, and a rewritten file always has its backup.
            QVERIFY2(backup == olderBackup || (backups && backup == before), backup.constData());
            if (content == after && backups)
                QCOMPARE(backup, before);
        }
        // The rest of the batch still runs.
        QCOMPARE(run.lines[1], QString("second.txt:  replaced"));
        QCOMPARE(readFile(dir.filePath("second.txt")), QByteArray("omega"));
        QStringList expected{"first.txt", "first.txt.old", "second.txt"};
        if (backups)
            expected << "second.txt.old";
        QStringList entries = allEntries(dir.path());
        // The older backup's second name, once the file's rewrite is in
        // place, could not be removed: it stays behind as a killed run's
        // temporary does (never taken for a user's file), holding the older
        // backup, and nothing else is out of place.
        if (call == "unlink /.vexalo4-*" && !entries.isEmpty() && entries.first().startsWith(".vexalo4-")) {
            QCOMPARE(readFile(dir.filePath(entries.first())), olderBackup);
            entries.removeFirst();
        }
        QCOMPARE(entries, expected);
    }

    // The run's one sync at its end fails: every file already holds its new
    // content, and the user is told the disk was not synced. The sync is owed
    // to every file written, also when the last one had nothing to change.
    void endOfRunSyncFails_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("last");
        QTest::newRow("last file written") << "-"
                                           << "second.txt";
        QTest::newRow("last file without the text") << "-"
                                                    << "third.txt";
        QTest::newRow("parallel, last file written") << "p"
                                                     << "second.txt";
        QTest::newRow("parallel, last file without the text") << "p"
                                                              << "third.txt";
    }
    void endOfRunSyncFails()
    {
        QFETCH(QString, flags);
        QFETCH(QString, last);
        QTemporaryDir dir;
        seedReplace(dir.path());
        writeFile(dir.filePath("third.txt"), "nothing to change");
        Fault fault;
        fault.dir = dir.path();
        fault.call = "syncfs";
        const DriverRun run = runDriver(replaceArgs(dir.path(), flags, {"first.txt", last}), fault);
        QCOMPARE(run.lines.size(), 2);
        QCOMPARE(run.lines[0], QString("first.txt:  replaced"));
        if (last == "second.txt") {
            QCOMPARE(run.lines[1], "second.txt:  failed: written, but the disk could not be synced: " + reasonOf(EIO));
        } else {
            QVERIFY2(run.lines[1].startsWith(last + ":  failed: ") && run.lines[1].contains("could not be synced")
                         && run.lines[1].endsWith(reasonOf(EIO)),
                     qPrintable(run.lines[1]));
        }
        QCOMPARE(readFile(dir.filePath("first.txt")), after);
        QCOMPARE(readFile(dir.filePath("second.txt")), QByteArray(last == "second.txt" ? "omega" : "alpha"));
        QCOMPARE(readFile(dir.filePath("third.txt")), QByteArray("nothing to change"));
        QCOMPARE(allEntries(dir.path()), QStringList({"first.txt", "first.txt.old", "second.txt", "third.txt"}));
    }

    // With a sync per file, each new content is synced before it takes the
    // old one's place, and the folder after that: a run that skipped either
    // would still show every file as safely on the disk.
    void eachFileIsSynced_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("noTmpfile");
        QTest::newRow("replace, unnamed temporaries") << "replace" << false;
        QTest::newRow("replace, named temporaries") << "replace" << true;
        QTest::newRow("restore, unnamed temporaries") << "restore" << false;
        QTest::newRow("restore, named temporaries") << "restore" << true;
    }
    void eachFileIsSynced()
    {
        QFETCH(QString, command);
        QFETCH(bool, noTmpfile);
        QTemporaryDir dir;
        const QStringList names{"first.txt", "second.txt"};
        QStringList args;
        if (command == "replace") {
            seedReplace(dir.path());
            args = replaceArgs(dir.path(), "be", names);
        } else {
            seedRestore(dir.path());
            args = QStringList{"restore", dir.path(), "e"} + names;
        }
        const QStringList calls = traceCalls(args, dir.path(), noTmpfile);
        // How a backup comes to be is the writer's business; the files
        // themselves must each be synced after their last write.
        QStringList renamedOnto;
        bool dataSynced = false;
        bool folderOwed = false;
        for (const QString &call : calls) {
            const QString kind = call.section(' ', 0, 0);
            const QString path = call.section(' ', 1);
            const bool sync = kind == "fdatasync" || kind == "fsync";
            if (kind == "write") {
                dataSynced = false;
            } else if (sync && path == dir.path()) {
                folderOwed = false;
            } else if (sync) {
                dataSynced = true;
            } else if ((kind == "rename" || kind == "renameat2") && names.contains(QFileInfo(path).fileName())) {
                QVERIFY2(!folderOwed, qPrintable("the folder was not synced before " + call));
                QVERIFY2(dataSynced, qPrintable("no data sync before " + call));
                renamedOnto << QFileInfo(path).fileName();
                folderOwed = true;
            }
        }
        QVERIFY2(!folderOwed, "the folder was not synced after the last rename");
        for (const QString &name : names)
            QVERIFY2(renamedOnto.contains(name), qPrintable(renamedOnto.join(' ')));
        // And the run did what it was asked.
        QCOMPARE(readFile(dir.filePath("first.txt")), command == "replace" ? after : before);
    }

    // A link to a file on another file system: the sync of the run's folder
    // would not reach it, so that file system is synced when the file is
    // written, and a failure there is that file's.
    void linkToAnotherFileSystemIsSynced()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a second file system needs root");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("other"));
        TmpfsMount other(dir.filePath("other"), "size=1m");
        if (!other.ok())
            QSKIP(qPrintable("cannot mount a tmpfs: " + other.error()));
        writeFile(dir.filePath("other/target.txt"), "alpha");
        QVERIFY(QFile::link(dir.filePath("other/target.txt"), dir.filePath("link.txt")));
        Fault fault;
        fault.dir = dir.path();
        fault.call = "syncfs";
        fault.nth = 1; // only the first sync: the one for the link's file system
        writeFile(dir.filePath("plain.txt"), "alpha");
        const DriverRun run = runDriver(replaceArgs(dir.path(), "-", {"link.txt", "plain.txt"}), fault);
        QCOMPARE(run.lines.size(), 2);
        QCOMPARE(run.lines[0], "link.txt:  failed: written, but the disk could not be synced: " + reasonOf(EIO));
        QCOMPARE(run.lines[1], QString("plain.txt:  replaced"));
        QCOMPARE(readFile(dir.filePath("other/target.txt")), QByteArray("omega"));
        QVERIFY(QFileInfo(dir.filePath("link.txt")).isSymLink());
    }

    // Several files in work at once, every write failing: each file is
    // reported by name, in order, and none is touched.
    void parallelRunFails()
    {
        QTemporaryDir dir;
        QStringList names;
        for (int i = 0; i < 12; ++i) {
            names << QString("file%1.txt").arg(i, 2, 10, QChar('0'));
            writeFile(dir.filePath(names.last()), before);
        }
        Fault fault;
        fault.dir = dir.path();
        fault.call = "write";
        const DriverRun run = runDriver(QStringList{"replace", dir.path(), "alpha", "omega", "p"} + names, fault);
        QStringList expected;
        for (const QString &name : names)
            expected << name + ":  failed: " + reasonOf(ENOSPC);
        QCOMPARE(run.lines, expected);
        for (const QString &name : names)
            QCOMPARE(readFile(dir.filePath(name)), before);
        QCOMPARE(allEntries(dir.path()), names);
    }

    void restoreEachCallFails_data()
    {
        callRows("restore", "e");
        callRows("restore", "ek");
    }

    void restoreEachCallFails()
    {
        QFETCH(QString, flags);
        QFETCH(bool, noTmpfile);
        QFETCH(int, nth);
        QFETCH(QString, call);
        QTemporaryDir dir(inMemoryTemplate());
        seedRestore(dir.path());
        Fault fault;
        fault.dir = dir.path();
        fault.call = "*";
        fault.nth = nth;
        fault.noTmpfile = noTmpfile;
        const QStringList args{"restore", dir.path(), flags, "first.txt", "second.txt"};
        const DriverRun run = runDriver(args, fault);
        QVERIFY2(!run.killed && run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(run.lines.size(), 2);
        QCOMPARE(run.lines[1], QString("second.txt:  restored"));
        QCOMPARE(readFile(dir.filePath("second.txt")), QByteArray("alpha"));

        const QByteArray content = readFile(dir.filePath("first.txt"));
        if (mustBeReported(flags, call))
            QVERIFY2(run.lines[0].startsWith("first.txt:  failed: "), qPrintable(run.lines[0]));
        if (run.lines[0] == "first.txt:  restored") {
            QCOMPARE(content, before);
            QVERIFY(!QFile::exists(dir.filePath("first.txt.old")));
            return;
        }
        QVERIFY2(run.lines[0].startsWith("first.txt:  failed: "), qPrintable(run.lines[0]));
        QVERIFY2(run.lines[0].contains(reasonOf(expectedError(call))), qPrintable(run.lines[0]));
        // Whatever failed, the backup is still there, and the file is either
        // as it was or already the backup's copy.
        QCOMPARE(readFile(dir.filePath("first.txt.old")), before);
        QVERIFY2(content == after || content == before, content.constData());
        QCOMPARE(allEntries(dir.path()), QStringList({"first.txt", "first.txt.old", "second.txt"}));

        // Running Restore again mends it.
        const DriverRun again = runDriver({"restore", dir.path(), flags, "first.txt"});
        QCOMPARE(again.lines, QStringList{"first.txt:  restored"});
        QCOMPARE(readFile(dir.filePath("first.txt")), before);
        QCOMPARE(allEntries(dir.path()), QStringList({"first.txt", "second.txt"}));
    }

    // A write that the kernel cuts short is continued, never taken for the
    // whole file; a write interrupted by a signal is tried again.
    void shortAndInterruptedWrites_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("nth");
        QTest::newRow("every write short") << "short" << 0 << 0;
        QTest::newRow("interrupted") << "fail" << EINTR << 1;
    }

    void shortAndInterruptedWrites()
    {
        QFETCH(QString, action);
        QFETCH(int, error);
        QFETCH(int, nth);
        QTemporaryDir dir;
        seedReplace(dir.path());
        Fault fault;
        fault.dir = dir.path();
        fault.call = "write";
        fault.nth = nth;
        fault.action = action;
        fault.error = error;
        const DriverRun run = runDriver(replaceArgs(dir.path(), "-", {"first.txt"}), fault);
        QCOMPARE(run.lines, QStringList{"first.txt:  replaced"});
        QCOMPARE(readFile(dir.filePath("first.txt")), after);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsSyscalls)
#include "tst_faults_syscalls.moc"
