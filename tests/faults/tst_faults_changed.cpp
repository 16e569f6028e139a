// SPDX-License-Identifier: MIT
// Files changed underneath a run: another program writes or deletes a file
// after the run has read it and before its rewrite replaces it (the preloaded
// fault library does so at a chosen call of the writer). The run must notice,
// say so, and leave the other program's content alone.
#include "FaultTools.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace faults;

namespace {

const QByteArray &before = sampleBefore;
const QByteArray &after = sampleAfter;
const QByteArray theirs = "written by someone else\n";
const QString changedMessage = "it was changed by another program while it was being processed; "
                               "its new content was left as it is";

unsigned modeOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

class tst_FaultsChanged : public QObject {
    Q_OBJECT

private slots:
    void changedBeforeRewrite_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("caught");      // or read again, locked, and replaced
        QTest::addColumn<bool>("olderBackup"); // first.txt has one before the run
        // A file is read unlocked and locked only once the text is found in
        // it: a change before the lock is found then, and the file read
        // again, so the other program's content is replaced too.
        QTest::newRow("appended while read unlocked") << "-"
                                                      << "read" << 1 << "change" << false << false;
        QTest::newRow("appended before the lock") << "-"
                                                  << "flock" << 1 << "change" << false << false;
        QTest::newRow("parallel, appended before the lock") << "p"
                                                            << "flock" << 1 << "change" << false << false;
        // The rewrite's own writing and syncing, after the backup where one is made.
        QTest::newRow("appended while writing") << "-"
                                                << "write" << 1 << "change" << true << false;
        QTest::newRow("appended while syncing") << "e"
                                                << "fdatasync" << 1 << "change" << true << false;
        QTest::newRow("appended after the backup") << "be"
                                                   << "write" << 2 << "change" << true << false;
        // Closing the new content, the last call before the rename (the file
        // read stays open as its lock, so this is the first close).
        QTest::newRow("appended while closing the new content") << "-"
                                                                << "close" << 1 << "change" << true << false;
        QTest::newRow("deleted while writing") << "-"
                                               << "write" << 1 << "remove" << true << false;
        QTest::newRow("deleted after the backup") << "be"
                                                  << "fdatasync" << 2 << "remove" << true << false;
        // Read in blocks of four bytes: the new content is written as the
        // file is read, the backup copied after it.
        QTest::newRow("in blocks, appended while reading") << "k"
                                                           << "read" << 2 << "change" << true << false;
        QTest::newRow("in blocks, appended while writing") << "k"
                                                           << "write" << 1 << "change" << true << false;
        QTest::newRow("in blocks, appended after the backup") << "bek"
                                                              << "fdatasync" << 2 << "change" << true << false;
        QTest::newRow("in blocks, deleted while writing") << "k"
                                                          << "write" << 1 << "remove" << true << false;
        // Changed once the new backup is in place, at the naming of the new
        // content: the file is not rewritten, so the backup it had before
        // the run must be its backup still (it was lost to the run's copy).
        QTest::newRow("appended after the backup, older backup kept") << "b"
                                                                      << "linkat" << 3 << "change" << true << true;
        QTest::newRow("in blocks, appended after the backup, older backup kept")
            << "bk"
            << "linkat" << 3 << "change" << true << true;
        QTest::newRow("deleted after the backup, older backup kept") << "b"
                                                                     << "linkat" << 3 << "remove" << true << true;
        // Overwritten in place with as many bytes, within the same second:
        // only the modification time's nanoseconds tell.
        QTest::newRow("overwritten in place, same size") << "-"
                                                         << "linkat" << 1 << "overwrite" << true << false;
        QTest::newRow("in blocks, overwritten in place, same size") << "k"
                                                                    << "linkat" << 1 << "overwrite" << true << false;
        // Kept for Undo, the file is swapped with the new content and looked
        // at in the journal after the swap, which is undone if it took out
        // another file.
        QTest::newRow("journal, appended at the swap") << "j"
                                                       << "rename" << 1 << "change" << true << false;
        QTest::newRow("journal, overwritten in place at the swap, same size")
            << "j"
            << "rename" << 1 << "overwrite" << true << false;
        QTest::newRow("journal, deleted at the swap") << "j"
                                                      << "rename" << 1 << "remove" << true << false;
    }

    void changedBeforeRewrite()
    {
        QFETCH(QString, flags);
        QFETCH(QString, call);
        QFETCH(int, nth);
        QFETCH(QString, action);
        QFETCH(bool, caught);
        QFETCH(bool, olderBackup);
        QTemporaryDir dir;
        writeFile(dir.filePath("first.txt"), before);
        writeFile(dir.filePath("second.txt"), "alpha");
        if (olderBackup)
            writeFile(dir.filePath("first.txt.old"), sampleOlderBackup);
        // In place, the same length as what it overwrites.
        const QByteArray overwrite = "ALPHA";
        Fault fault;
        fault.dir = dir.path();
        fault.call = call;
        fault.nth = nth;
        fault.action = action;
        fault.changePath = dir.filePath("first.txt");
        fault.changeData = action == "overwrite" ? overwrite : theirs;
        const DriverRun run =
            runDriver({"replace", dir.path(), "alpha", "omega", flags, "first.txt", "second.txt"}, fault);
        QCOMPARE(run.lines.size(), 2);
        if (!caught) {
            QCOMPARE(run.lines[0], QString("first.txt:  replaced"));
            QCOMPARE(readFile(dir.filePath("first.txt")), after + theirs);
            QCOMPARE(run.lines[1], QString("second.txt:  replaced"));
            return;
        }
        QCOMPARE(run.lines[0], "first.txt:  failed: " + changedMessage);
        if (action == "remove")
            QVERIFY2(!QFile::exists(dir.filePath("first.txt")), "a deleted file was written again");
        else if (action == "overwrite")
            QCOMPARE(readFile(dir.filePath("first.txt")), overwrite + before.mid(overwrite.size()));
        else
            QCOMPARE(readFile(dir.filePath("first.txt")), before + theirs);
        if (olderBackup)
            QCOMPARE(readFile(dir.filePath("first.txt.old")), sampleOlderBackup);
        else if (flags.contains('b'))
            QCOMPARE(readFile(dir.filePath("first.txt.old")), before);
        QCOMPARE(run.lines[1], QString("second.txt:  replaced"));
        QCOMPARE(temporaries(dir.path()), QStringList());
    }

    // Gone before the run reached it: reported, and the others still run.
    void vanishedBeforeRead()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("second.txt"), "alpha");
        const DriverRun run = runDriver({"replace", dir.path(), "alpha", "omega", "b", "first.txt", "second.txt"});
        QCOMPARE(run.lines, QStringList({"first.txt:  failed: No such file or directory", "second.txt:  replaced"}));
        QCOMPARE(allEntries(dir.path()), QStringList({"second.txt", "second.txt.old"}));
    }

    // Restore while another program changes the file or its backup as the
    // backup is being copied back: the newer content is not overwritten
    // blindly, a backup cut short is not taken for the whole, and nothing
    // is deleted.
    void restoreWhileChanged_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("changed"); // the file changed: first.txt or its backup
        QTest::newRow("file appended to") << "-"
                                          << "change"
                                          << "first.txt";
        // Read in blocks (as a large backup is): copied straight from the
        // backup, whose end the copy must reach.
        QTest::newRow("large backup truncated") << "k"
                                                << "truncate"
                                                << "first.txt.old";
    }

    void restoreWhileChanged()
    {
        QFETCH(QString, flags);
        QFETCH(QString, action);
        QFETCH(QString, changed);
        QTemporaryDir dir;
        writeFile(dir.filePath("first.txt"), after);
        writeFile(dir.filePath("first.txt.old"), before);
        Fault fault;
        fault.dir = dir.path();
        fault.call = "write";
        fault.nth = 1;
        fault.action = action;
        fault.changePath = dir.filePath(changed);
        fault.changeData = theirs;
        const DriverRun run = runDriver({"restore", dir.path(), flags, "first.txt"}, fault);
        QCOMPARE(run.lines, QStringList{"first.txt:  failed: " + changedMessage});
        if (changed == "first.txt") {
            QCOMPARE(readFile(dir.filePath("first.txt")), after + theirs);
            QCOMPARE(readFile(dir.filePath("first.txt.old")), before);
        } else {
            QCOMPARE(readFile(dir.filePath("first.txt")), after);
            QCOMPARE(readFile(dir.filePath("first.txt.old")), before.left(before.size() / 2));
        }
        QCOMPARE(allEntries(dir.path()), QStringList({"first.txt", "first.txt.old"}));
    }

    // Restore onto a file that is missing (made again from the backup, with
    // the backup's permissions), read-only (refused, both kept) and changed
    // since the Replace (the backup is put back: that is what Restore is for).
    void restoreOntoMissingReadOnlyOrChangedFile()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("missing.txt.old"), before);
        chmodPath(dir.filePath("missing.txt.old"), 0640);
        writeFile(dir.filePath("locked.txt"), after);
        chmodPath(dir.filePath("locked.txt"), 0444);
        writeFile(dir.filePath("locked.txt.old"), before);
        writeFile(dir.filePath("edited.txt"), "edited since the replace");
        writeFile(dir.filePath("edited.txt.old"), before);
        const DriverRun run = runDriver({"restore", dir.path(), "-", "missing.txt", "locked.txt", "edited.txt"});
        QCOMPARE(run.lines,
                 QStringList({"missing.txt:  restored", "locked.txt:  failed: the file is read-only",
                              "edited.txt:  restored"}));
        QCOMPARE(readFile(dir.filePath("missing.txt")), before);
        QCOMPARE(modeOf(dir.filePath("missing.txt")), 0640u);
        QCOMPARE(readFile(dir.filePath("locked.txt")), after);
        QCOMPARE(readFile(dir.filePath("locked.txt.old")), before);
        QCOMPARE(readFile(dir.filePath("edited.txt")), before);
        QCOMPARE(allEntries(dir.path()), QStringList({"edited.txt", "locked.txt", "locked.txt.old", "missing.txt"}));
    }
};

QTEST_GUILESS_MAIN(tst_FaultsChanged)
#include "tst_faults_changed.moc"
