// SPDX-License-Identifier: MIT
// Undo through the journal, on real files: what comes back (bytes, owner,
// mode, ACL, attributes), what is left alone (a file changed, replaced or
// deleted since the run), and how much the journal keeps.
#include "engine/journal/Journal.h"
#include "engine/files/FileNames.h"
#include "engine/runs/Runs.h"
#include "tests/common/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <sys/xattr.h>
#include <unistd.h>

using namespace vexalo;
using testfiles::readFile;
using testfiles::readRawFile;
using testfiles::writeFile;
using testfiles::writeRawFile;

namespace {

struct Ran {
    RunSummary summary;
    QString problem;
    QString notice;
};

// The journal takes its places as file paths; the tests name them as text.
Journal journalAt(const QString &location, const JournalLimits &limits = {}, const QString &volumesUnder = {})
{
    return Journal(FilePath::fromString(location), limits, FilePath::fromString(volumesUnder));
}

Ran replaceWithJournal(const Journal &journal, const QString &folder, const QStringList &names, int parallel = 1,
                       const QString &find = QStringLiteral("alpha"))
{
    ReplaceJob job;
    job.folder = FilePath::fromString(folder);
    job.names = FilePath::fromStrings(names);
    job.findText = find;
    job.replaceText = QStringLiteral("omega");
    const std::unique_ptr<JournalRun> run = journal.record(job.folder, Durability::AtEnd);
    job.journal = run.get();
    RunControl control;
    control.parallelFiles = parallel;
    Ran ran;
    ran.summary = runReplace(job, control);
    run->finish();
    ran.problem = run->problem();
    ran.notice = run->notice();
    return ran;
}

QStringList lines(const QList<FileResult> &results)
{
    QStringList out;
    for (FileResult r : results) {
        r.name = r.name.fileName();
        out << logLine(r);
    }
    return out;
}

QByteArray attribute(const QByteArray &path, const char *name)
{
    QByteArray value(4096, '\0');
    const ssize_t n = ::getxattr(path.constData(), name, value.data(), value.size());
    return n < 0 ? QByteArray("<none>") : value.left(n);
}

struct stat statOf(const QByteArray &path)
{
    struct stat info {};
    ::stat(path.constData(), &info);
    return info;
}

struct stat statOf(const QString &path)
{
    return statOf(QFile::encodeName(path));
}

// The kept files of the newest entry: "l..." hard links, "c..." copies.
QStringList keptFiles(const QString &location)
{
    const QStringList entries = QDir(location).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (entries.isEmpty())
        return {};
    QStringList kept = QDir(location + '/' + entries.last()).entryList(QDir::Files);
    kept = kept.filter(QRegularExpression(QStringLiteral("^[lc]\\d+$")));
    return kept;
}

} // namespace

class tst_Journal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The journal must never reach the real state folder.
        QVERIFY(qEnvironmentVariableIsSet("XDG_STATE_HOME"));
        QVERIFY(Journal::defaultLocation().toString().startsWith(qEnvironmentVariable("XDG_STATE_HOME")));
    }

    // A run without backups is taken back: the bytes, and who may do what
    // with the file. On the journal's own file system the old file is kept
    // by a hard link; elsewhere (a tmpfs) by a copy that must carry the same.
    void undoGivesBackTheOriginal_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::addColumn<bool>("narrowed");
        QTest::addColumn<QByteArray>("folderName");
        QTest::newRow("journal on the same file system (link)") << false << false << QByteArray("data");
        QTest::newRow("journal on another file system (copy)") << true << false << QByteArray("data");
        QTest::newRow("access narrowed after the run: it stays narrowed") << false << true << QByteArray("data");
        QTest::newRow("access narrowed after the run, copy") << true << true << QByteArray("data");
        // The run, its record and Undo must name the folder by its bytes:
        // through text it would be another folder, or none.
        QTest::newRow("a folder whose name is not UTF-8") << false << false << QByteArray("pr\xe9g");
    }

    void undoGivesBackTheOriginal()
    {
        QFETCH(bool, elsewhere);
        QFETCH(bool, narrowed);
        QFETCH(QByteArray, folderName);
        QTemporaryDir dir;
        std::optional<QTemporaryDir> shm;
        QString location = dir.filePath("state/Vexalo/journal");
        if (elsewhere) {
            shm.emplace(QStringLiteral("/dev/shm/vexalo-journal-XXXXXX"));
            if (!shm->isValid() || statOf(shm->path()).st_dev == statOf(dir.path()).st_dev)
                QSKIP("no file system other than the test folder's at /dev/shm");
            location = shm->filePath("Vexalo/journal");
        }
        const Journal journal = journalAt(location);
        const QByteArray dataBytes = QFile::encodeName(dir.path()) + '/' + folderName;
        QCOMPARE(::mkdir(dataBytes.constData(), 0777), 0);
        const QString data = decodeFileName(dataBytes);
        const testfiles::RawTreeRemover remover{dataBytes};
        const QByteArray odd = dataBytes + "/caf\xe9.txt"; // not UTF-8
        writeRawFile(odd, "alpha in a name that is not UTF-8\n");
        const QByteArray native = dataBytes + "/index.htm";
        writeRawFile(native, "alpha beta alpha\r\n");
        QCOMPARE(::chmod(native.constData(), 0640), 0);
        QCOMPARE(::setxattr(native.constData(), "user.note", "kept", 4, 0), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(native.constData(), 12345, 23456), 0);
        // setfacl is handed the name as text, which holds only UTF-8.
        const bool utf8 = QString::fromUtf8(folderName).toUtf8() == folderName;
        const bool acl = utf8 && QProcess::execute("setfacl", {"-m", "u:4242:r", data + "/index.htm"}) == 0;
        const struct timespec olden[2] = {{1000000000, 123456789}, {1000000000, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, native.constData(), olden, 0), 0);
        const struct stat before = statOf(native);
        const QByteArray aclBefore = attribute(native, "system.posix_acl_access");

        const Ran ran = replaceWithJournal(journal, data, {"index.htm", decodeFileName("caf\xe9.txt")});
        QCOMPARE(ran.problem, QString());
        QCOMPARE(lines(ran.summary.results), QStringList({"index.htm:  replaced", "caf\\xE9.txt:  replaced"}));
        QCOMPARE(readRawFile(native), QByteArray("omega beta omega\r\n"));
        const QStringList kept = keptFiles(location);
        QCOMPARE(kept.size(), 2);
        for (const QString &name : kept)
            QVERIFY2(name.startsWith(elsewhere ? 'c' : 'l'), qPrintable(name));
        QCOMPARE(QFileInfo(location).permissions() & 0077, 0);

        const std::optional<JournalEntry> last = journal.lastRun();
        QVERIFY(last);
        QCOMPARE(last->files, 2);
        QCOMPARE(last->folder.toString(), data);
        if (narrowed) {
            // The user's newer wish: Undo gives back content and time only.
            QCOMPARE(::chmod(native.constData(), 0600), 0);
            QCOMPARE(::removexattr(native.constData(), "user.note"), 0);
            if (acl)
                QCOMPARE(QProcess::execute("setfacl", {"-b", data + "/index.htm"}), 0);
        }

        const UndoResult undone = journal.undoLast();
        QVERIFY2(!undone.refused, qPrintable(undone.message));
        QCOMPARE(lines(undone.summary.results), QStringList({"caf\\xE9.txt:  restored", "index.htm:  restored"}));
        QVERIFY(undone.complete);
        QCOMPARE(readRawFile(native), QByteArray("alpha beta alpha\r\n"));
        QCOMPARE(readRawFile(odd), QByteArray("alpha in a name that is not UTF-8\n"));
        const struct stat after = statOf(native);
        QCOMPARE(after.st_mode & 07777, narrowed ? 0600u : before.st_mode & 07777);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(attribute(native, "user.note"), narrowed ? QByteArray("<none>") : QByteArray("kept"));
        if (acl)
            QCOMPARE(attribute(native, "system.posix_acl_access"), narrowed ? QByteArray("<none>") : aclBefore);

        // Undo twice: the second finds nothing to do and says so, and does
        // not reach back to an older run.
        const UndoResult again = journal.undoLast();
        QVERIFY(again.refused);
        QVERIFY2(again.message.contains("undone already"), qPrintable(again.message));
        QVERIFY(!journal.lastRun());
        QVERIFY(journal.entries().isEmpty());
        if (!root)
            qInfo("not root: the owner was not changed for this test");
    }

    // A file larger than a block is written as it is read; one whose
    // encoding shows only near its end is read and written a second time,
    // and the digest Undo checks must be of what landed, not of the first try.
    void filesReadInBlocks()
    {
        setBlockReadingForTests(16, 4);
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        QTemporaryDir dir;
        const Journal journal = journalAt(dir.filePath("state/Vexalo/journal"));
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        QByteArray utf8Early;
        for (int i = 0; i < 20; ++i)
            utf8Early += "caf\xc3\xa9 ";
        const QByteArray lateLatin1 = utf8Early + "\xe9";                // Latin-1 only at its last byte
        const QByteArray ascii = QByteArray("x \xc3\xa9 ").repeated(30); // UTF-8 throughout
        writeRawFile(QFile::encodeName(data + "/late.txt"), lateLatin1);
        writeRawFile(QFile::encodeName(data + "/utf8.txt"), ascii);

        const Ran ran = replaceWithJournal(journal, data, {"late.txt", "utf8.txt"}, 1, QStringLiteral("\u00e9"));
        QCOMPARE(lines(ran.summary.results), QStringList({"late.txt:  replaced", "utf8.txt:  replaced"}));
        QCOMPARE(readRawFile(QFile::encodeName(data + "/late.txt")), utf8Early + "omega");
        QCOMPARE(readRawFile(QFile::encodeName(data + "/utf8.txt")), QByteArray("x omega ").repeated(30));

        const UndoResult undone = journal.undoLast();
        QVERIFY2(!undone.refused, qPrintable(undone.message));
        QCOMPARE(lines(undone.summary.results), QStringList({"late.txt:  restored", "utf8.txt:  restored"}));
        QCOMPARE(readRawFile(QFile::encodeName(data + "/late.txt")), lateLatin1);
        QCOMPARE(readRawFile(QFile::encodeName(data + "/utf8.txt")), ascii);

        // Undo reads a file larger than it holds whole in blocks too.
        setBlockReadingForTests(-1, -1);
        const QByteArray large = QByteArray("alpha and more ").repeated(500 * 1024); // 7.5 MB
        writeRawFile(QFile::encodeName(data + "/large.txt"), large);
        const Ran second = replaceWithJournal(journal, data, {"large.txt"});
        QCOMPARE(lines(second.summary.results), QStringList({"large.txt:  replaced"}));
        const UndoResult back = journal.undoLast();
        QCOMPARE(lines(back.summary.results), QStringList({"large.txt:  restored"}));
        QVERIFY(readRawFile(QFile::encodeName(data + "/large.txt")) == large);
    }

    // Between the run and the undo the files went on living: each that does
    // not hold exactly what the run wrote keeps what it holds, and says why.
    void changedFilesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("appended to") << "append"
                                     << "it was changed since the run";
        QTest::newRow("same size and time, other bytes") << "same-identity"
                                                         << "it was changed since the run";
        QTest::newRow("deleted") << "delete"
                                 << "it was deleted since the run";
        QTest::newRow("another file renamed over it") << "replace"
                                                      << "it was renamed or replaced since the run";
        QTest::newRow("renamed") << "rename"
                                 << "it was renamed or replaced since the run";
        // The old file kept its other name: edited in place there, it is no
        // longer what the run replaced, so Undo must not give that back.
        QTest::newRow("its other name edited in place") << "other-name"
                                                        << "";
    }

    void changedFilesAreLeftAlone()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const Journal journal = journalAt(dir.filePath("journal"));
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        writeFile(data + "/a.txt", "alpha one\n");
        writeFile(data + "/b.txt", "alpha two\n");
        const QString otherName = data + "/other-name.txt";
        if (change == "other-name")
            QCOMPARE(::link(QFile::encodeName(data + "/b.txt").constData(), QFile::encodeName(otherName).constData()),
                     0);
        QCOMPARE(replaceWithJournal(journal, data, {"a.txt", "b.txt"}).summary.results.size(), 2);

        const QString b = data + "/b.txt";
        QByteArray left = "<missing>";
        if (change == "other-name") {
            QFile f(otherName);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write("EDITED");
            f.close();
            left = "alpha two\n"; // b.txt itself is untouched since the run: it comes back
        } else if (change == "append") {
            left = "omega two\nmore\n";
            writeFile(b, left);
        } else if (change == "same-identity") {
            // Only the digest can tell: size and modification time stay.
            const struct stat was = statOf(b);
            QFile f(b);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write("OMEGA");
            f.close();
            const struct timespec times[2] = {was.st_atim, was.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(b).constData(), times, 0), 0);
            left = "OMEGA two\n";
        } else if (change == "delete") {
            QVERIFY(QFile::remove(b));
        } else if (change == "rename") {
            QVERIFY(QFile::rename(b, data + "/b-renamed.txt"));
        } else {
            writeFile(data + "/new.txt", "a new file\n");
            QCOMPARE(::rename(QFile::encodeName(data + "/new.txt").constData(), QFile::encodeName(b).constData()), 0);
            left = "a new file\n";
        }

        const UndoResult undone = journal.undoLast();
        QVERIFY2(!undone.refused, qPrintable(undone.message));
        const QStringList got = lines(undone.summary.results);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0], QStringLiteral("a.txt:  restored"));
        if (reason.isEmpty()) {
            QCOMPARE(got[1], QStringLiteral("b.txt:  restored"));
            QCOMPARE(readFile(b), left);
            QVERIFY(undone.complete);
            return;
        }
        QVERIFY2(got[1].startsWith("b.txt:  failed: " + reason), qPrintable(got[1]));
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("alpha one\n"));
        QCOMPARE(readFile(b), left);
        // The entry stays for the file not back; a second undo tries it
        // alone, and never takes a.txt back twice.
        QVERIFY(!undone.complete);
        const UndoResult again = journal.undoLast();
        QCOMPARE(lines(again.summary.results).size(), 1);
        QVERIFY(lines(again.summary.results)[0].startsWith("b.txt:  failed: " + reason));
        QCOMPARE(readFile(b), left);
    }

    // The oldest runs go first: by their number, and by the room they take.
    // A file larger than the whole room is still replaced, and its line says
    // it cannot be undone.
    void limitsDropTheOldestRuns()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        JournalLimits limits;
        limits.runs = 3;
        limits.maxBytes = 100;
        const Journal journal = journalAt(dir.filePath("journal"), limits);
        const QByteArray forty(40, 'x');
        for (int i = 0; i < 4; ++i) {
            writeFile(data + QString("/f%1.txt").arg(i), "alpha" + forty);
            replaceWithJournal(journal, data, {QString("f%1.txt").arg(i)});
        }
        QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 2); // 3 by number, but 45 bytes each leaves room for two
        // What was given up is deleted after the run, by a process of its
        // own: the folder ends with the two entries and the journal's files.
        const QDir folder(dir.filePath("journal"));
        const auto numbered = [&] { return folder.entryList({"0*", ".dropped-*"}, QDir::AllEntries | QDir::Hidden); };
        QTRY_COMPARE_WITH_TIMEOUT(numbered().size(), 2, 10000);
        QVERIFY(entries[0].id > entries[1].id);
        QCOMPARE(entries[0].bytes, 45);

        writeFile(data + "/big.txt", "alpha" + QByteArray(200, 'y'));
        const Ran ran = replaceWithJournal(journal, data, {"big.txt"});
        QCOMPARE(
            lines(ran.summary.results),
            QStringList({"big.txt:  replaced (cannot be undone: it is larger than the journal's room (100 bytes))"}));
        QCOMPARE(readFile(data + "/big.txt"), "omega" + QByteArray(200, 'y'));
        const UndoResult undone = journal.undoLast();
        QCOMPARE(lines(undone.summary.results).size(), 1);
        QVERIFY(lines(undone.summary.results)[0].startsWith("big.txt:  failed: the journal did not keep"));
        QCOMPARE(readFile(data + "/big.txt"), "omega" + QByteArray(200, 'y'));

        // Runs by number alone.
        limits.maxBytes = qint64(1) << 30;
        const Journal roomy = journalAt(dir.filePath("roomy"), limits);
        for (int i = 0; i < 5; ++i) {
            writeFile(data + "/g.txt", "alpha");
            replaceWithJournal(roomy, data, {"g.txt"});
        }
        QCOMPARE(roomy.entries().size(), 3);
    }

    // Four files in work at once, and a run that changes nothing: the
    // journal records every file the run rewrote, and no run that rewrote
    // none.
    void parallelRunAndRunWithoutChanges()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        const Journal journal = journalAt(dir.filePath("journal"));
        QStringList names;
        for (int i = 0; i < 40; ++i) {
            names << QString("n%1.txt").arg(i, 2, 10, QChar('0'));
            writeFile(data + '/' + names.last(), "alpha " + QByteArray::number(i));
        }
        replaceWithJournal(journal, data, names, 4);
        QCOMPARE(journal.lastRun()->files, 40);
        replaceWithJournal(journal, data, names, 4, QStringLiteral("not there"));
        QCOMPARE(journal.entries().size(), 1);
        const UndoResult undone = journal.undoLast();
        QCOMPARE(undone.summary.results.size(), 40);
        for (int i = 0; i < 40; ++i)
            QCOMPARE(readFile(data + '/' + names[i]), "alpha " + QByteArray::number(i));
    }

    // Runs are ordered by their number, never by the clock: a run that
    // begins while another goes on is the later one. Undo refuses, naming
    // the run, while any run goes on; a run that begins while an Undo goes
    // on waits for it. A record that cannot be read is said, never passed
    // over, and what it kept stays.
    void runsInOrderAndUndoWaits()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        const QString location = dir.filePath("journal");
        const Journal journal = journalAt(location);
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"})
            writeFile(data + '/' + name, QByteArray("alpha ") + name);

        std::unique_ptr<JournalRun> longRun = journal.record(FilePath::fromString(data), Durability::AtEnd);
        ReplaceJob job;
        job.folder = FilePath::fromString(data);
        job.names = FilePath::fromStrings({"a.txt"});
        job.findText = QStringLiteral("alpha");
        job.replaceText = QStringLiteral("omega");
        job.journal = longRun.get();
        QCOMPARE(runReplace(job, {}).results.size(), 1);
        replaceWithJournal(journal, data, {"b.txt"});
        const UndoResult refused = journal.undoLast();
        QVERIFY(refused.refused);
        QVERIFY2(refused.message.startsWith("run 1 (begun ") && refused.message.contains("still going on"),
                 qPrintable(refused.message));
        QCOMPARE(readFile(data + "/b.txt"), QByteArray("omega b.txt"));
        QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].run, 2);
        QVERIFY(!entries[0].running && entries[1].running);
        longRun->finish();
        // The last run is the one begun last.
        const UndoResult undone = journal.undoLast();
        QCOMPARE(lines(undone.summary.results), QStringList({"b.txt:  restored"}));
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("omega a.txt"));
        QVERIFY(journal.undoLast().message.contains("undone already"));

        // An Undo going on (its hold on the journal, taken here by hand)
        // holds back a run that begins meanwhile.
        const int busy = ::open(QFile::encodeName(location + "/busy").constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(busy >= 0 && ::flock(busy, LOCK_EX) == 0);
        std::atomic<bool> begun{false};
        std::unique_ptr<JournalRun> waiting;
        std::thread starter([&] {
            waiting = journal.record(FilePath::fromString(data), Durability::AtEnd);
            begun = true;
        });
        QTest::qWait(300);
        const bool waited = !begun;
        ::close(busy);
        starter.join();
        QVERIFY(waited);
        QVERIFY(begun);
        waiting.reset();

        // A damaged record: the file it names stays as it is, with its kept
        // old content, and the run is not taken for undone. The zeros a killed
        // run leaves of its room ahead come before Undo's own records, which
        // are read past them.
        replaceWithJournal(journal, data, {"c.txt", "d.txt"});
        const QString manifest = location + '/' + journal.entries().first().id + "/manifest";
        QByteArray bytes = readFile(manifest);
        const qsizetype keep = bytes.indexOf("\nkeep file=1 ");
        QVERIFY(keep > 0);
        bytes[keep + 20] = bytes[keep + 20] == '0' ? '1' : '0';
        writeFile(manifest, bytes + QByteArray(5000, '\0'));
        const UndoResult partly = journal.undoLast();
        QVERIFY(!partly.refused);
        QVERIFY2(partly.message.contains("1 record(s) of run") && partly.message.contains("checksum"),
                 qPrintable(partly.message));
        QCOMPARE(lines(partly.summary.results), QStringList({"d.txt:  restored"}));
        QVERIFY(!partly.complete);
        QCOMPARE(journal.entries().first().damaged, 1);
        QCOMPARE(journal.entries().first().files, 0);
        QCOMPARE(keptFiles(location).size(), 2);
        QCOMPARE(readFile(data + "/c.txt"), QByteArray("omega c.txt"));

        // Runs killed before their first line was written (no manifest yet,
        // an empty one, half a first line) rewrote nothing: neither listed nor
        // standing between Undo and the run before them.
        const QList<JournalEntry> before = journal.entries();
        const qint64 next = before.first().run + 1;
        const QList<QByteArray> killed = {QByteArray(), QByteArray(""), QByteArray("V2 header run=")};
        for (qsizetype i = 0; i < killed.size(); ++i) {
            const QString entry = location + '/' + QString::number(next + i).rightJustified(12, '0');
            QVERIFY(QDir().mkdir(entry));
            if (i > 0)
                writeFile(entry + "/manifest", killed[i]);
        }
        QCOMPARE(journal.entries().size(), before.size());
        const UndoResult past = journal.undoLast();
        QVERIFY2(!past.refused && past.message.contains("1 record(s) of run"), qPrintable(past.message));
    }

    // The journal's default place is this user's alone: an XDG_STATE_HOME
    // that does not exist, or below a folder someone else may change, is
    // not used (and the run says so); a link in the journal's own folders
    // is never followed, and nothing is made through it.
    void defaultPlaceIsThisUsersOwn_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("note");
        QTest::newRow("usable") << "usable"
                                << "";
        QTest::newRow("does not exist") << "missing"
                                        << "No such file";
        QTest::newRow("below a folder anyone may change") << "open"
                                                          << "can be changed by other users";
        QTest::newRow("below another user's folder") << "foreign"
                                                     << "belongs to another user";
        QTest::newRow("its Vexalo folder a link") << "link"
                                                  << "";
    }

    void defaultPlaceIsThisUsersOwn()
    {
        QFETCH(QString, setup);
        QFETCH(QString, note);
        if (setup == "foreign" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QTemporaryDir dir;
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", savedState); });
        QString state = dir.filePath("state");
        QVERIFY(QDir().mkpath(state));
        if (setup == "missing") {
            state = dir.filePath("not-yet/state");
        } else if (setup == "open") {
            QVERIFY(QDir().mkpath(dir.filePath("open/state")));
            QCOMPARE(::chmod(QFile::encodeName(dir.filePath("open")).constData(), 0777), 0);
            state = dir.filePath("open/state");
        } else if (setup == "foreign") {
            QVERIFY(QDir().mkpath(dir.filePath("theirs/state")));
            QCOMPARE(::chown(QFile::encodeName(dir.filePath("theirs")).constData(), 12345, 12345), 0);
            state = dir.filePath("theirs/state");
        } else if (setup == "link") {
            QVERIFY(QDir().mkpath(dir.filePath("elsewhere")));
            QCOMPARE(::symlink(QFile::encodeName(dir.filePath("elsewhere")).constData(),
                               QFile::encodeName(state + "/Vexalo").constData()),
                     0);
        }
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
        QString said;
        const QString location = Journal::defaultLocation(&said).toString();
        if (note.isEmpty()) {
            QCOMPARE(location, state + "/Vexalo/journal");
            QCOMPARE(said, QString());
        } else {
            QVERIFY2(!location.startsWith(dir.path()), qPrintable(location));
            QVERIFY2(said.contains("XDG_STATE_HOME") && said.contains(note), qPrintable(said));
        }
        if (setup != "usable" && setup != "link")
            return;
        writeFile(dir.filePath("a.txt"), "alpha");
        const Ran ran = replaceWithJournal(journalAt(location), dir.path(), {"a.txt"});
        QCOMPARE(lines(ran.summary.results), QStringList({"a.txt:  replaced"}));
        if (setup == "link") {
            QVERIFY2(ran.problem.contains("cannot be undone"), qPrintable(ran.problem));
            QCOMPARE(QDir(dir.filePath("elsewhere")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        } else {
            QCOMPARE(ran.problem, QString());
            QCOMPARE(QFileInfo(location).permissions() & 0077, 0);
        }
    }

    // Files on another file system than the home journal keep their old
    // content in that file system's own journal folder, at its top, by a
    // swap rather than a copy. A folder there that is not this user's
    // private own, or a top folder others may rename it out of, is left as
    // it is, and the run keeps copies in the home journal instead.
    void journalWhereTheFilesAre_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("notice");
        QTest::newRow("made at the top of the tmpfs") << "usable"
                                                      << "";
        QTest::newRow("the volume not mounted for a while") << "unmounted"
                                                            << "";
        QTest::newRow("kept by an earlier version, without a list of volumes") << "no list"
                                                                               << "";
        QTest::newRow("top folder anyone may change, no sticky bit") << "open-top"
                                                                     << "";
        QTest::newRow("a link planted in its place") << "link"
                                                     << "is a link";
        QTest::newRow("another user's folder in its place") << "foreign"
                                                            << "is not a folder of this user's";
        QTest::newRow("a folder anyone may open in its place") << "open"
                                                               << "is not a folder of this user's";
    }

    void journalWhereTheFilesAre()
    {
        QFETCH(QString, setup);
        QFETCH(QString, notice);
        if (::geteuid() != 0)
            QSKIP("only root can mount a file system of the test's own");
        QTemporaryDir dir;
        const QString top = dir.filePath("volume");
        QVERIFY(QDir().mkpath(top));
        const QByteArray topNative = QFile::encodeName(top);
        // A volume that is to be unmounted and mounted again with what it
        // holds: a tmpfs elsewhere, bound at the top.
        const QByteArray backing = QFile::encodeName(dir.filePath("backing"));
        const bool bound = setup == "unmounted";
        QVERIFY(QDir().mkpath(dir.filePath("backing")));
        if (::mount("tmpfs", bound ? backing.constData() : topNative.constData(), "tmpfs", 0,
                    setup == "open-top" ? "mode=0777" : nullptr)
            != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] {
            ::umount2(topNative.constData(), MNT_DETACH);
            if (bound)
                ::umount2(backing.constData(), MNT_DETACH);
        });
        if (bound)
            QCOMPARE(::mount(backing.constData(), topNative.constData(), nullptr, MS_BIND, nullptr), 0);
        const QString home = dir.filePath("state/Vexalo/journal");
        // Only the volumes mounted in the test's folder: never a real journal.
        const Journal journal = journalAt(home, {}, dir.path());
        const QString volumeJournal = top + "/.vexalo-journal-" + QString::number(::geteuid());
        const QString elsewhere = dir.filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        if (setup == "link") {
            QCOMPARE(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(volumeJournal).constData()),
                     0);
        } else if (setup == "foreign" || setup == "open") {
            QVERIFY(QDir().mkdir(volumeJournal));
            const QByteArray native = QFile::encodeName(volumeJournal);
            QCOMPARE(::chmod(native.constData(), setup == "open" ? 0777 : 0700), 0);
            if (setup == "foreign")
                QCOMPARE(::chown(native.constData(), 12345, 12345), 0);
        }
        struct stat planted {};
        const bool anyPlanted = ::lstat(QFile::encodeName(volumeJournal).constData(), &planted) == 0;

        // A run in the home journal, then one on the tmpfs: the later is the last.
        writeFile(dir.filePath("home.txt"), "alpha at home");
        QCOMPARE(lines(replaceWithJournal(journal, dir.path(), {"home.txt"}).summary.results),
                 QStringList({"home.txt:  replaced"}));
        const QString data = top + "/data";
        QVERIFY(QDir().mkpath(data));
        writeFile(data + "/a.txt", "alpha on the volume");
        const ino_t original = statOf(data + "/a.txt").st_ino;
        const Ran ran = replaceWithJournal(journal, data, {"a.txt"});
        QCOMPARE(lines(ran.summary.results), QStringList({"a.txt:  replaced"}));
        QCOMPARE(ran.problem, QString());
        QVERIFY2(notice.isEmpty() ? ran.notice.isEmpty() : ran.notice.contains(notice), qPrintable(ran.notice));
        if (setup == "unmounted") {
            // Named, not passed over: Undo does not reach past the run it
            // cannot see to the one before.
            QCOMPARE(::umount2(topNative.constData(), 0), 0);
            const QList<JournalEntry> seen = journal.entries();
            QCOMPARE(seen.size(), 2);
            QCOMPARE(seen[0].notMounted.toString(), top);
            QVERIFY(seen[0].run > seen[1].run);
            QString why;
            QVERIFY(!journal.lastRun(&why));
            QVERIFY2(why.contains(top + ", which is not mounted now"), qPrintable(why));
            QVERIFY(journal.undoLast().refused);
            QCOMPARE(readFile(dir.filePath("home.txt")), QByteArray("omega at home"));
            QCOMPARE(::mount(backing.constData(), topNative.constData(), nullptr, MS_BIND, nullptr), 0);
        } else if (setup == "no list") {
            // Found by one walk of the mounts, and listed from then on.
            QVERIFY(QFile::remove(home + "/volumes"));
        }

        const bool own = setup == "usable" || setup == "unmounted" || setup == "no list";
        const QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 2);
        QVERIFY(entries[0].run > entries[1].run);
        QCOMPARE(entries[0].folder.toString(), data);
        QCOMPARE(entries[0].root.toString(), own ? volumeJournal : home);
        QCOMPARE(entries[1].root.toString(), home);
        QCOMPARE(QFileInfo::exists(home + "/volumes"), own);
        const QString kept = (own ? volumeJournal : home) + '/' + entries[0].id + (own ? "/l1" : "/c1");
        QVERIFY2(QFileInfo::exists(kept), qPrintable(kept));
        // The old file itself, not a copy of it.
        QCOMPARE(statOf(kept).st_ino == original, own);
        if (own) {
            QCOMPARE(QFileInfo(volumeJournal).permissions() & 0077, 0);
            // A run going on on the volume holds Undo back too.
            const std::unique_ptr<JournalRun> going = journal.record(FilePath::fromString(data), Durability::AtEnd);
            const UndoResult refused = journal.undoLast();
            QVERIFY2(refused.refused && refused.message.contains("still going on"), qPrintable(refused.message));
            // Another home journal of the same user (another XDG_STATE_HOME)
            // shares the folder on the volume, never its runs.
            const Journal other = journalAt(dir.filePath("other-state/journal"), {}, dir.path());
            QVERIFY(other.entries().isEmpty());
            QVERIFY(other.undoLast().refused);
        } else {
            // The planted thing is as it was, and nothing was made through
            // it; where nothing was planted, nothing was made.
            struct stat now {};
            QCOMPARE(::lstat(QFile::encodeName(volumeJournal).constData(), &now) == 0, anyPlanted);
            QCOMPARE(now.st_mode, planted.st_mode);
            QCOMPARE(now.st_uid, planted.st_uid);
            QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
            if (setup != "link")
                QCOMPARE(QDir(volumeJournal).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        }

        // Undo takes back the run on the volume, and not the one before.
        const UndoResult undone = journal.undoLast();
        QVERIFY2(!undone.refused, qPrintable(undone.message));
        QCOMPARE(lines(undone.summary.results), QStringList({"a.txt:  restored"}));
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("alpha on the volume"));
        QCOMPARE(readFile(dir.filePath("home.txt")), QByteArray("omega at home"));
        QVERIFY(journal.undoLast().message.contains("undone already"));
    }

    // A journal that cannot be written stops no run.
    void unwritableJournalStopsNothing()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("blocker"), "a file where the journal's folder would go");
        const Journal journal = journalAt(dir.filePath("blocker/Vexalo/journal"));
        writeFile(dir.filePath("a.txt"), "alpha");
        const Ran ran = replaceWithJournal(journal, dir.path(), {"a.txt"});
        QCOMPARE(lines(ran.summary.results), QStringList({"a.txt:  replaced"}));
        QVERIFY2(ran.problem.contains("cannot be undone"), qPrintable(ran.problem));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("omega"));
        QVERIFY(journal.undoLast().refused);
    }
};

QTEST_GUILESS_MAIN(tst_Journal)
#include "tst_journal.moc"
