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

#include <sys/stat.h>
#include <sys/time.h>
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
};

Ran replaceWithJournal(const Journal &journal, const QString &folder, const QStringList &names,
                       int parallel = 1, const QString &find = QStringLiteral("alpha"))
{
    ReplaceJob job;
    job.folder = folder;
    job.names = names;
    job.findText = find;
    job.replaceText = QStringLiteral("omega");
    const std::unique_ptr<JournalRun> run = journal.record(folder, Durability::AtEnd);
    job.journal = run.get();
    RunControl control;
    control.parallelFiles = parallel;
    Ran ran;
    ran.summary = runReplace(job, control);
    run->finish();
    ran.problem = run->problem();
    return ran;
}

QStringList lines(const QList<FileResult> &results)
{
    QStringList out;
    for (FileResult r : results) {
        r.name = r.name.mid(r.name.lastIndexOf(QLatin1Char('/')) + 1);
        out << logLine(r);
    }
    return out;
}

QByteArray attribute(const QString &path, const char *name)
{
    QByteArray value(4096, '\0');
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), name, value.data(), value.size());
    return n < 0 ? QByteArray("<none>") : value.left(n);
}

struct stat statOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
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
        QVERIFY(Journal::defaultLocation().startsWith(qEnvironmentVariable("XDG_STATE_HOME")));
    }

    // A run without backups is taken back: the bytes, and who may do what
    // with the file. On the journal's own file system the old file is kept
    // by a hard link; elsewhere (a tmpfs) by a copy that must carry the same.
    void undoGivesBackTheOriginal_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("journal on the same file system (link)") << false;
        QTest::newRow("journal on another file system (copy)") << true;
    }

    void undoGivesBackTheOriginal()
    {
        QFETCH(bool, elsewhere);
        QTemporaryDir dir;
        std::optional<QTemporaryDir> shm;
        QString location = dir.filePath("state/Vexalo/journal");
        if (elsewhere) {
            shm.emplace(QStringLiteral("/dev/shm/vexalo-journal-XXXXXX"));
            if (!shm->isValid() || statOf(shm->path()).st_dev == statOf(dir.path()).st_dev)
                QSKIP("no file system other than the test folder's at /dev/shm");
            location = shm->filePath("Vexalo/journal");
        }
        const Journal journal(location);
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        const testfiles::RawTreeRemover remover{QFile::encodeName(data)};
        const QByteArray odd = QFile::encodeName(data) + "/caf\xe9.txt"; // not UTF-8
        writeRawFile(odd, "alpha in a name that is not UTF-8\n");
        const QString file = data + "/index.htm";
        writeFile(file, "alpha beta alpha\r\n");
        const QByteArray native = QFile::encodeName(file);
        QCOMPARE(::chmod(native.constData(), 0640), 0);
        QCOMPARE(::setxattr(native.constData(), "user.note", "kept", 4, 0), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(native.constData(), 12345, 23456), 0);
        const bool acl = QProcess::execute("setfacl", {"-m", "u:4242:r", file}) == 0;
        const struct timespec olden[2] = {{1000000000, 123456789}, {1000000000, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, native.constData(), olden, 0), 0);
        const struct stat before = statOf(file);
        const QByteArray aclBefore = attribute(file, "system.posix_acl_access");

        const Ran ran = replaceWithJournal(journal, data, {"index.htm", decodeFileName("caf\xe9.txt")});
        QCOMPARE(ran.problem, QString());
        QCOMPARE(lines(ran.summary.results), QStringList({"index.htm:  replaced", "caf\\xE9.txt:  replaced"}));
        QCOMPARE(readFile(file), QByteArray("omega beta omega\r\n"));
        const QStringList kept = keptFiles(location);
        QCOMPARE(kept.size(), 2);
        for (const QString &name : kept)
            QVERIFY2(name.startsWith(elsewhere ? 'c' : 'l'), qPrintable(name));
        QCOMPARE(QFileInfo(location).permissions() & 0077, 0);

        const std::optional<JournalEntry> last = journal.lastRun();
        QVERIFY(last);
        QCOMPARE(last->files, 2);
        QCOMPARE(last->folder, data);

        const UndoResult undone = journal.undoLast();
        QVERIFY2(!undone.refused, qPrintable(undone.message));
        QCOMPARE(lines(undone.summary.results), QStringList({"caf\\xE9.txt:  restored", "index.htm:  restored"}));
        QVERIFY(undone.complete);
        QCOMPARE(readFile(file), QByteArray("alpha beta alpha\r\n"));
        QCOMPARE(readRawFile(odd), QByteArray("alpha in a name that is not UTF-8\n"));
        const struct stat after = statOf(file);
        QCOMPARE(after.st_mode & 07777, before.st_mode & 07777);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(attribute(file, "user.note"), QByteArray("kept"));
        if (acl)
            QCOMPARE(attribute(file, "system.posix_acl_access"), aclBefore);

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
        const Journal journal(dir.filePath("state/Vexalo/journal"));
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        QByteArray utf8Early;
        for (int i = 0; i < 20; ++i)
            utf8Early += "caf\xc3\xa9 ";
        const QByteArray lateLatin1 = utf8Early + "\xe9";            // Latin-1 only at its last byte
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
        QTest::newRow("appended to") << "append" << "it was changed since the run";
        QTest::newRow("same size and time, other bytes") << "same-identity" << "it was changed since the run";
        QTest::newRow("deleted") << "delete" << "it was deleted since the run";
        QTest::newRow("another file renamed over it") << "replace" << "it was replaced by another file since the run";
    }

    void changedFilesAreLeftAlone()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const Journal journal(dir.filePath("journal"));
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        writeFile(data + "/a.txt", "alpha one\n");
        writeFile(data + "/b.txt", "alpha two\n");
        QCOMPARE(replaceWithJournal(journal, data, {"a.txt", "b.txt"}).summary.results.size(), 2);

        const QString b = data + "/b.txt";
        QByteArray left = "<missing>";
        if (change == "append") {
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
        const Journal journal(dir.filePath("journal"), limits);
        const QByteArray forty(40, 'x');
        for (int i = 0; i < 4; ++i) {
            writeFile(data + QString("/f%1.txt").arg(i), "alpha" + forty);
            replaceWithJournal(journal, data, {QString("f%1.txt").arg(i)});
        }
        QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 2); // 3 by number, but 45 bytes each leaves room for two
        QVERIFY(entries[0].id > entries[1].id);
        QCOMPARE(entries[0].bytes, 45);

        writeFile(data + "/big.txt", "alpha" + QByteArray(200, 'y'));
        const Ran ran = replaceWithJournal(journal, data, {"big.txt"});
        QCOMPARE(lines(ran.summary.results),
                 QStringList({"big.txt:  replaced (cannot be undone: it is larger than the journal's room (100 bytes))"}));
        QCOMPARE(readFile(data + "/big.txt"), "omega" + QByteArray(200, 'y'));
        const UndoResult undone = journal.undoLast();
        QCOMPARE(lines(undone.summary.results).size(), 1);
        QVERIFY(lines(undone.summary.results)[0].startsWith("big.txt:  failed: the journal did not keep"));
        QCOMPARE(readFile(data + "/big.txt"), "omega" + QByteArray(200, 'y'));

        // Runs by number alone.
        limits.maxBytes = qint64(1) << 30;
        const Journal roomy(dir.filePath("roomy"), limits);
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
        const Journal journal(dir.filePath("journal"));
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

    // A journal that cannot be written stops no run.
    void unwritableJournalStopsNothing()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("blocker"), "a file where the journal's folder would go");
        const Journal journal(dir.filePath("blocker/Vexalo/journal"));
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
