// SPDX-License-Identifier: MIT
#include "engine/files/Digest.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"
#include "engine/journal/Journal.h"
#include "engine/journal/JournalRecord.h"
#include "engine/files/ProtectedList.h"
#include "engine/runs/Runs.h"
#include "engine/text/Substitution.h"
#include "tests/common/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringConverter>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexalo;
using namespace testfiles;

namespace {

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

ReplaceJob job(const QString &folder, const QStringList &names, const QString &find, const QString &with)
{
    ReplaceJob j;
    j.folder = FilePath::fromString(folder);
    j.names = FilePath::fromStrings(names);
    j.findText = find;
    j.replaceText = with;
    j.protectedExtensions = defaultProtectedExtensions();
    return j;
}

RestoreJob restoreJob(const QString &folder, const QStringList &names)
{
    return {FilePath::fromString(folder), FilePath::fromStrings(names)};
}

// Letters a-p with "NEEDLE" now and then, different for every seed.
QByteArray largeSample(quint32 seed, qsizetype size)
{
    QRandomGenerator rng(seed);
    std::vector<quint32> words(size_t(size + 3) / 4);
    rng.fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes(reinterpret_cast<const char *>(words.data()), size);
    for (char &c : bytes)
        c = char('a' + (uchar(c) & 15));
    for (qsizetype at = rng.bounded(4000); at + 6 <= size; at += 1 + rng.bounded(8000))
        std::memcpy(bytes.data() + at, "NEEDLE", 6);
    return bytes;
}

// The first byte where two contents part, for a message that does not print
// megabytes.
QByteArray firstDifference(const QByteArray &got, const QByteArray &want)
{
    qsizetype i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return "sizes " + QByteArray::number(got.size()) + " and " + QByteArray::number(want.size())
        + ", first difference at byte " + QByteArray::number(i);
}

// Seeds a folder from lines "name=content", "name->target" (a symbolic
// link), "name==other" (a second name of other's file), "name/" (a folder)
// "name|" (a FIFO) and "name%" (a character device like /dev/null, of the
// test's own: a run that wrote through a link to it must not harm the real one).
void seed(const QString &folder, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QByteArray at =
            QFile::encodeName(folder + '/' + line.section(QRegularExpression("==|->|=|/$|\\|$|%$"), 0, 0));
        if (line.contains("==")) {
            ::link(QFile::encodeName(folder + '/' + line.section("==", 1)).constData(), at.constData());
        } else if (line.contains("->")) {
            QVERIFY(::symlink(QFile::encodeName(line.section("->", 1)).constData(), at.constData()) == 0);
        } else if (line.contains('=')) {
            writeFile(QFile::decodeName(at), line.section('=', 1).toUtf8());
        } else if (line.endsWith('/')) {
            QVERIFY(::mkdir(at.constData(), 0755) == 0);
        } else if (line.endsWith('|')) {
            QVERIFY(::mkfifo(at.constData(), 0644) == 0);
        } else if (line.endsWith('%')) {
            QVERIFY(::mknod(at.constData(), S_IFCHR | 0644, makedev(1, 3)) == 0);
        }
    }
}

// What a folder holds, described so that two folders compare equal exactly
// when a user would find the same files in them: names, kinds, link targets,
// contents, which names are one file, and permission bits.
QStringList snapshot(const QString &folder)
{
    QStringList lines;
    QMap<QPair<dev_t, ino_t>, QString> firstName;
    for (const QString &name : allEntries(folder)) {
        const QString path = folder + '/' + name;
        const struct stat st = statOf(path);
        QString line = name + QString::asprintf(" %o ", unsigned(st.st_mode & 07777));
        if (S_ISLNK(st.st_mode)) {
            line += "-> " + QFile::symLinkTarget(path).section('/', -1);
        } else if (S_ISREG(st.st_mode)) {
            const auto id = qMakePair(st.st_dev, st.st_ino);
            // Content that is not UTF-8 (Latin-1, UTF-16) in hex, so that no
            // two contents look alike.
            const QByteArray bytes = readFile(path);
            const QString text = QString::fromUtf8(bytes);
            line += firstName.contains(id) ? "same as " + firstName[id]
                : text.toUtf8() == bytes   ? text
                                           : "hex " + QString::fromLatin1(bytes.toHex(' '));
            firstName.insert(id, name);
        } else {
            line += "special";
        }
        lines << line;
    }
    return lines;
}

// A folder in memory (/dev/shm) where there is one, else the usual one: for
// the tests that write thousands of small files to check where blocks end
// or the order of files in work, which are about the search and the
// scheduler, not the disk, whose latency on a busy machine was most of
// their time. The files stay small: a default container's /dev/shm is 64 MiB.
std::unique_ptr<QTemporaryDir> scratchDir()
{
    auto shm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vexalo-test-XXXXXX"));
    if (shm->isValid())
        return shm;
    return std::make_unique<QTemporaryDir>();
}

// Runs a run that works on several files at once on a thread of its own,
// for at most the given seconds: a lost wake-up in the scheduler then fails
// the test with a message at once, rather than hang the whole suite until
// its limit. The run gets copies of what it uses, so one that hangs touches
// nothing of the test once it has failed.
template <typename Run>
auto runWithin(int seconds, Run run) -> std::optional<decltype(run())>
{
    struct Shared {
        decltype(run()) summary;
        std::atomic<bool> returned{false};
    };
    const auto shared = std::make_shared<Shared>();
    std::thread([shared, run] {
        shared->summary = run();
        shared->returned = true;
    }).detach();
    if (!QTest::qWaitFor([&] { return shared->returned.load(); }, seconds * 1000))
        return std::nullopt;
    return std::move(shared->summary);
}

#define RUN_WITHIN(seconds, summary, run)                                                                              \
    do {                                                                                                               \
        auto done_ = runWithin(seconds, run);                                                                          \
        QVERIFY2(done_, "a run with several files in work did not return within " #seconds " s (a lost wake-up?)");    \
        summary = std::move(*done_);                                                                                   \
    } while (false)

} // namespace

class tst_Runs : public QObject {
    Q_OBJECT

private slots:
    void outcomesAndLog()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.htm"), "<p>old</p>");
        writeFile(dir.filePath("b.exe"), "old");
        writeFile(dir.filePath("c.htm"), "nothing here");
        const RunSummary run = runReplace(job(dir.path(), {"a.htm", "b.exe", "c.htm"}, "old", "new"));
        QCOMPARE(buildLog(run.results), "a.htm:  replaced\r\nb.exe:  protected file\r\nc.htm:  not found");
        QCOMPARE(readFile(dir.filePath("a.htm")), QByteArray("<p>new</p>")); // no CR LF appended
        QCOMPARE(readFile(dir.filePath("b.exe")), QByteArray("old"));
        QCOMPARE(readFile(dir.filePath("c.htm")), QByteArray("nothing here"));
    }

    void optionsOnDisk_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("backups");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("line");
        QTest::newRow("insensitive, backup") << false << true << QByteArray("bye bye bye") << "f.txt:  replaced";
        QTest::newRow("insensitive, no backup") << false << false << QByteArray("bye bye bye") << "f.txt:  replaced";
        QTest::newRow("exact, backup") << true << true << QByteArray("Hello HELLO bye") << "f.txt:  replaced";
    }
    void optionsOnDisk()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(bool, backups);
        QFETCH(QByteArray, expected);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const QByteArray original = "Hello HELLO hello";
        writeFile(dir.filePath("f.txt"), original);
        ReplaceJob j = job(dir.path(), {"f.txt"}, "hello", "bye");
        j.caseSensitive = caseSensitive;
        j.makeBackups = backups;
        const RunSummary run = runReplace(j);
        QCOMPARE(buildLog(run.results), line);
        QCOMPARE(readFile(dir.filePath("f.txt")), expected);
        QCOMPARE(QFile::exists(dir.filePath("f.txt.old")), backups);
        if (backups)
            QCOMPARE(readFile(dir.filePath("f.txt.old")), original);
        QCOMPARE(allEntries(dir.path()).size(), backups ? 2 : 1);
    }

    // A preview makes the checks a Replace makes and writes nothing: each of
    // its lines foretells the outcome the Replace then has on the same folder.
    void previewForetellsReplace_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("backups");
        QTest::addColumn<QString>("line");
        QTest::addColumn<Outcome>("replaceOutcome");
        QTest::newRow("three matches, backup") << "plain"
                                               << "old"
                                               << "new" << true << "f.txt:  3 matches" << Outcome::Replaced;
        QTest::newRow("one match, other case") << "one"
                                               << "OLD"
                                               << "new" << false << "f.txt:  1 match" << Outcome::Replaced;
        QTest::newRow("not found") << "plain"
                                   << "absent"
                                   << "new" << true << "f.txt:  not found" << Outcome::NotFound;
        QTest::newRow("protected") << "protected"
                                   << "old"
                                   << "new" << true << "f.exe:  protected file" << Outcome::Protected;
        QTest::newRow("binary content") << "binary"
                                        << "old"
                                        << "new" << false << "f.txt:  2 matches (binary content)" << Outcome::Replaced;
        QTest::newRow("read-only") << "readonly"
                                   << "old"
                                   << "new" << true << "f.txt:  failed: the file is read-only" << Outcome::Failed;
        QTest::newRow("read-only, nothing would change") << "readonly"
                                                         << ", "
                                                         << ", " << false << "f.txt:  1 match" << Outcome::Replaced;
        QTest::newRow("replacement not in the file's encoding")
            << "latin1"
            << "old" << QString::fromUtf8("\u65e5") << false
            << "f.txt:  failed: the replacement text has characters that cannot be written in this file's "
               "encoding (Latin-1); the file was left unchanged"
            << Outcome::Failed;
        QTest::newRow("unreadable: not there")
            << "missing"
            << "old"
            << "new" << false << "f.txt:  failed: No such file or directory" << Outcome::Failed;
        QTest::newRow("backup cannot take its name")
            << "backupfolder"
            << "old"
            << "new" << true
            << "f.txt:  failed: the backup could not be made, so the file was left unchanged: a folder has its name"
            << Outcome::Failed;
        QTest::newRow("same, no backup asked") << "backupfolder"
                                               << "old"
                                               << "new" << false << "f.txt:  3 matches" << Outcome::Replaced;
        // Held by another program's flock: a preview says so at once and
        // never waits; the Replace waits out its period, then fails.
        QTest::newRow("locked by another program")
            << "locked"
            << "old"
            << "new" << true << "f.txt:  failed: it is locked by another program" << Outcome::Failed;
    }
    void previewForetellsReplace()
    {
        QFETCH(QString, setup);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, backups);
        QFETCH(QString, line);
        QFETCH(Outcome, replaceOutcome);
        QTemporaryDir dir;
        const QString name = setup == "protected" ? "f.exe" : "f.txt";
        const QString path = dir.filePath(name);
        if (setup == "one")
            writeFile(path, "an old one");
        else if (setup == "binary")
            writeFile(path, QByteArray("old\0\x01old", 9));
        else if (setup == "latin1")
            writeFile(path, "caf\xe9 old");
        else if (setup != "missing")
            writeFile(path, "old, Old and OLD");
        if (setup == "readonly")
            ::chmod(QFile::encodeName(path).constData(), 0444);
        if (setup == "backupfolder") {
            QVERIFY(QDir(dir.path()).mkdir("f.txt.old"));
            writeFile(dir.filePath("f.txt.old/inside"), "kept");
        }
        // An older backup that only a real run may replace.
        if (setup == "plain")
            writeFile(path + ".old", "older backup");
        const int held = setup == "locked" ? ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC) : -1;
        const auto release = qScopeGuard([held] {
            if (held >= 0)
                ::close(held);
        });
        if (setup == "locked")
            QCOMPARE(::flock(held, LOCK_EX), 0);
        RunControl control;
        control.lockWaits = std::make_shared<LockWaits>(std::chrono::milliseconds(200));
        QStringList waitedFor;
        control.lockWaits->onWait = [&](const QString &p) {
            if (!p.isEmpty())
                waitedFor << p;
        };

        ReplaceJob j = job(dir.path(), {name}, find, with);
        j.makeBackups = backups;
        j.preview = true;
        const QStringList before = fullListing(dir.path());
        const RunSummary preview = runReplace(j, control);
        QCOMPARE(waitedFor, QStringList()); // a preview never waits
        QCOMPARE(fullListing(dir.path()), before);
        QCOMPARE(preview.results.size(), 1);
        QCOMPARE(logLine(preview.results[0]), line);

        j.preview = false;
        const RunSummary replace = runReplace(j, control);
        if (setup == "locked") {
            QCOMPARE(waitedFor, QStringList{path});
            QCOMPARE(logLine(replace.results.value(0)), "f.txt:  failed: another program kept it locked for too long");
        }
        QCOMPARE(replace.results.size(), 1);
        const Outcome foretold =
            preview.results[0].outcome == Outcome::Matched ? Outcome::Replaced : preview.results[0].outcome;
        QCOMPARE(foretold, replaceOutcome);
        QCOMPARE(replace.results[0].outcome, replaceOutcome);
    }

    void previewSummaryOverAParallelRun()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("index.htm"), "<b>x</b> <b>y</b> <b>z</b>");
        writeFile(dir.filePath("logo.dat"), QByteArray("<b>\0<b>", 7));
        writeFile(dir.filePath("none.txt"), "plain");
        writeFile(dir.filePath("logo.gif"), "<b>");
        writeFile(dir.filePath("locked.htm"), "<b>");
        ::chmod(QFile::encodeName(dir.filePath("locked.htm")).constData(), 0444);
        ReplaceJob j =
            job(dir.path(), {"index.htm", "logo.dat", "none.txt", "logo.gif", "locked.htm"}, "<b>", "<strong>");
        j.preview = true;
        j.makeBackups = true;
        RunControl control;
        control.parallelFiles = 3;
        const auto reported = std::make_shared<QList<int>>();
        control.fileDone = [reported](const FileResult &, int index) { reported->append(index); };
        const QStringList before = fullListing(dir.path());
        RunSummary run;
        RUN_WITHIN(20, run, ([j, control] { return runReplace(j, control); }));
        QCOMPARE(fullListing(dir.path()), before);
        QCOMPARE(*reported, QList<int>({0, 1, 2, 3, 4}));
        QCOMPARE(buildLog(run.results),
                 "index.htm:  3 matches\r\nlogo.dat:  2 matches (binary content)\r\n"
                 "none.txt:  not found\r\nlogo.gif:  protected file\r\n"
                 "locked.htm:  failed: the file is read-only");
        QCOMPARE(previewSummary(run.results),
                 "Preview: 5 files, 2 with matches, 5 matches in all, 1 would fail; nothing was written");
    }

    void emptyFindAndEmptyFile()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("full.txt"), "x\r\n");
        writeFile(dir.filePath("empty.txt"), "");
        const struct stat before = statOf(dir.filePath("full.txt"));
        ReplaceJob j = job(dir.path(), {"full.txt", "empty.txt"}, "", "zzz");
        j.makeBackups = true;
        const RunSummary run = runReplace(j);
        QCOMPARE(buildLog(run.results), "full.txt:  replaced\r\nempty.txt:  not found");
        // Unchanged content is not written at all: same inode, same bytes.
        QCOMPARE(readFile(dir.filePath("full.txt")), QByteArray("x\r\n"));
        QCOMPARE(statOf(dir.filePath("full.txt")).st_ino, before.st_ino);
        QCOMPARE(readFile(dir.filePath("full.txt.old")), QByteArray("x\r\n"));
        QVERIFY(!QFile::exists(dir.filePath("empty.txt.old")));
    }

    void notFoundLeavesFileAndOlderBackup()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.txt"), "abc");
        writeFile(dir.filePath("a.txt.old"), "older backup");
        const struct stat before = statOf(dir.filePath("a.txt"));
        ReplaceJob j = job(dir.path(), {"a.txt"}, "zzz", "y");
        j.makeBackups = true;
        QCOMPARE(buildLog(runReplace(j).results), "a.txt:  not found");
        QCOMPARE(statOf(dir.filePath("a.txt")).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(readFile(dir.filePath("a.txt.old")), QByteArray("older backup"));
        // Found in a later run: the backup now holds the content before that run.
        j.findText = "b";
        runReplace(j);
        QCOMPARE(readFile(dir.filePath("a.txt.old")), QByteArray("abc"));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("ayc"));
    }

    void encodingsPerFile()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("latin1.txt"), "Caf\xE9 CAF\xC9");
        writeFile(dir.filePath("utf8.txt"), "Caf\xC3\xA9 CAF\xC3\x89");
        ReplaceJob j = job(dir.path(), {"latin1.txt", "utf8.txt"}, QStringLiteral(u"café"), QStringLiteral(u"bar"));
        QCOMPARE(buildLog(runReplace(j).results), "latin1.txt:  replaced\r\nutf8.txt:  replaced");
        QCOMPARE(readFile(dir.filePath("latin1.txt")), QByteArray("bar bar"));
        QCOMPARE(readFile(dir.filePath("utf8.txt")), QByteArray("bar bar"));

        // The lowest character of each UTF-8 length keeps a file UTF-8, also
        // after a long ASCII stretch: é goes in as UTF-8, never as Latin-1.
        for (const QByteArray lowest : {"\xC2\x80", "\xE0\xA0\x80", "\xF0\x90\x80\x80"}) {
            for (const int ascii : {0, 9, 100}) {
                const QByteArray stretch(ascii, '.');
                writeFile(dir.filePath("utf8.txt"), stretch + lowest + " x");
                j.names = FilePath::fromStrings({"utf8.txt"});
                j.findText = "x";
                j.replaceText = QStringLiteral(u"é");
                QCOMPARE(buildLog(runReplace(j).results), "utf8.txt:  replaced");
                QCOMPARE(readFile(dir.filePath("utf8.txt")).toHex(), (stretch + lowest + " \xC3\xA9").toHex());
            }
        }

        // A text the file's encoding cannot carry: the find text does not
        // occur; a replacement that cannot be written leaves the file alone.
        writeFile(dir.filePath("latin1.txt"), "price: EUR \xE9");
        j.names = FilePath::fromStrings({"latin1.txt"});
        j.findText = QStringLiteral(u"€");
        QCOMPARE(buildLog(runReplace(j).results), "latin1.txt:  not found");
        j.findText = "EUR";
        j.replaceText = QStringLiteral(u"€");
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results.first().outcome, Outcome::Failed);
        QVERIFY(run.results.first().reason.contains("Latin-1"));
        QCOMPARE(readFile(dir.filePath("latin1.txt")), QByteArray("price: EUR \xE9"));
    }

    // A line break in either text is matched and written in the file's own
    // style; the expected bytes come from a reference that decides the style
    // by counting, converts the texts and replaces in a plain loop.
    void lineBreaksFollowTheFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("exact");
        const QByteArray crlf = "Alpha\r\nbeta\r\nalpha\r\nBETA\r\ngamma\r\nalpha beta\r\n";
        const QByteArray lf = "Alpha\nbeta\nalpha\nBETA\ngamma\nalpha beta\n";
        const QByteArray mixed = "Alpha\r\nbeta\nalpha\nBETA\r\nalpha\r\nbeta\r\ngamma\n";
        const QByteArray none = "Alpha beta alpha gamma";
        struct File {
            const char *name;
            QByteArray bytes;
        };
        for (const File &file : {File{"CR LF", crlf}, File{"LF", lf}, File{"mixed", mixed}, File{"no break", none}}) {
            for (const bool caseSensitive : {false, true}) {
                const QByteArray mode = caseSensitive ? ", exact case" : ", any case";
                QTest::newRow(QByteArray(file.name) + ", typed" + mode) << file.bytes << "alpha\nbeta"
                                                                        << "one\ntwo\nthree" << caseSensitive << false;
                QTest::newRow(QByteArray(file.name) + ", pasted CR LF" + mode)
                    << file.bytes << "alpha\r\nBETA"
                    << "one\r\ntwo" << caseSensitive << false;
                QTest::newRow(QByteArray(file.name) + ", exact breaks LF" + mode)
                    << file.bytes << "alpha\nbeta"
                    << "one\ntwo" << caseSensitive << true;
                QTest::newRow(QByteArray(file.name) + ", exact breaks CR LF" + mode)
                    << file.bytes << "alpha\r\nbeta"
                    << "one\ntwo" << caseSensitive << true;
            }
            QTest::newRow(QByteArray(file.name) + ", break only in the replacement") << file.bytes << "gamma"
                                                                                     << "g\nh\r\n"
                                                                                     << false << false;
            QTest::newRow(QByteArray(file.name) + ", the break itself") << file.bytes << "\n"
                                                                        << " | " << false << false;
        }
        QTest::newRow("LF before any CR LF is mixed") << QByteArray("\nalpha\r\nbeta\r\n") << "alpha\nbeta"
                                                      << "x" << false << false;
        QTest::newRow("CR LF as the only break") << QByteArray("alpha\r\nbeta") << "a\nb"
                                                 << "x" << false << false;
        QTest::newRow("lone CR is a character") << QByteArray("alpha\rbeta\r\nalpha\r\r\nbeta\r\n") << "alpha\r\nbeta"
                                                << "x\ny" << false << false;
        QTest::newRow("find without a break is literal") << QByteArray("a\r\nb\r\n") << "\r"
                                                         << "-" << false << false;
        QTest::newRow("UTF-8, folded") << QByteArray("Caf\xc3\xa9\r\nBAR\r\ncaf\xc3\xa9\r\nbar\r\n")
                                       << QStringLiteral(u"CAFé\nbar") << QStringLiteral(u"thé\n") << false << false;
        QTest::newRow("Latin-1") << QByteArray("caf\xe9\r\nbar\r\n") << QStringLiteral(u"café\nbar")
                                 << QStringLiteral(u"thé\nx") << true << false;
    }
    void lineBreaksFollowTheFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, exact);

        // The reference.
        const bool utf8 = QString::fromUtf8(content).toUtf8() == content;
        const qsizetype pairs = content.count("\r\n");
        const bool crlfFile = pairs > 0 && pairs == content.count('\n');
        auto inStyle = [&](QString text) {
            if (exact || !text.contains('\n'))
                return text;
            text.replace("\r\n", "\n");
            return crlfFile ? text.replace("\n", "\r\n") : text;
        };
        const QByteArray findBytes = utf8 ? inStyle(find).toUtf8() : inStyle(find).toLatin1();
        const QByteArray withBytes = utf8 ? inStyle(with).toUtf8() : inStyle(with).toLatin1();
        auto lowered = [&](QByteArray bytes) { return caseSensitive ? bytes : bytes.toLower(); };
        QByteArray expected;
        qsizetype count = 0;
        for (qsizetype i = 0; i < content.size();) {
            if (lowered(content.mid(i, findBytes.size())) == lowered(findBytes)) {
                expected += withBytes;
                i += findBytes.size();
                ++count;
            } else {
                expected += content[i++];
            }
        }

        QTemporaryDir dir;
        writeFile(dir.filePath("f.txt"), content);
        ReplaceJob j = job(dir.path(), {"f.txt"}, find, with);
        j.caseSensitive = caseSensitive;
        j.exactBreaks = exact;
        j.preview = true;
        const RunSummary preview = runReplace(j);
        QCOMPARE(preview.results[0].outcome, count ? Outcome::Matched : Outcome::NotFound);
        QCOMPARE(preview.results[0].matches, count);
        QCOMPARE(readFile(dir.filePath("f.txt")), content);
        j.preview = false;
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results[0].outcome, count ? Outcome::Replaced : Outcome::NotFound);
        QCOMPARE(readFile(dir.filePath("f.txt")), expected);
    }

    // A file that begins with a UTF-16 mark and is well-formed after it is
    // matched and written in UTF-16 in its byte order; broken UTF-16 is read
    // as before. The expected bytes come from Qt's own converters: the text
    // decoded, replaced code point by code point in the file's line-break
    // style, encoded again behind the file's mark.
    void utf16Files_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("readAs"); // the encoding the reference reads the file in
        const auto utf16 = [](const QString &text, QStringConverter::Encoding order) {
            return QByteArray(QStringEncoder(order, QStringConverter::Flag::WriteBom)(text));
        };
        const QString text = u"Grüße aus Köln, GRÜSSE, grüße \U00010400 \U00010428!"_qs;
        for (const auto order : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
            const QString name = order == QStringConverter::Utf16LE ? "UTF-16LE" : "UTF-16BE";
            const QByteArray file = utf16(text, order);
            for (const bool caseSensitive : {false, true}) {
                const QString mode = caseSensitive ? ", exact" : ", any case";
                QTest::newRow(qPrintable(name + ", ASCII" + mode)) << file << "aus"
                                                                   << "from" << caseSensitive << name;
                QTest::newRow(qPrintable(name + ", non-ASCII" + mode))
                    << file << u"GRÜßE"_qs << u"Hallo ≠ €"_qs << caseSensitive << name;
                QTest::newRow(qPrintable(name + ", outside the BMP" + mode))
                    << file << u"\U00010428"_qs << u"\U0001F600"_qs << caseSensitive << name;
                QTest::newRow(qPrintable(name + ", not found" + mode)) << file << "Berlin"
                                                                       << "x" << caseSensitive << name;
            }
            // CR LF in 2-byte units; U+010A and U+0D0A hold a 0A byte that is
            // no line break.
            QTest::newRow(qPrintable(name + ", CR LF, typed multi-line"))
                << utf16(u"\u010A\r\nAlpha\r\nbeta\r\n\u0D0Aalpha\r\nBETA\r\n"_qs, order) << "alpha\nbeta"
                << "one\ntwo" << false << name;
            QTest::newRow(qPrintable(name + ", LF, pasted CR LF"))
                << utf16(u"Alpha\nbeta\n\u0A0Dalpha\nbeta\n"_qs, order) << "alpha\r\nbeta"
                << "one\r\ntwo" << true << name;
            QTest::newRow(qPrintable(name + ", mixed breaks"))
                << utf16(u"alpha\r\nbeta\nalpha\nbeta\n"_qs, order) << "alpha\nbeta"
                << "x\ny" << true << name;
            // "A" at an odd offset, across two other characters, is no match.
            const QByteArray odd = order == QStringConverter::Utf16LE ? QByteArray("\xFF\xFE\x20\x41\x00\x20", 6)
                                                                      : QByteArray("\xFE\xFF\x20\x00\x41\x20", 6);
            QTest::newRow(qPrintable(name + ", A only at an odd offset")) << odd << "A"
                                                                          << "B" << true << name;
            QTest::newRow(qPrintable(name + ", a only at an odd offset, any case")) << odd << "a"
                                                                                    << "B" << false << name;
        }
        // Broken UTF-16 keeps the old reading: Latin-1 bytes.
        QTest::newRow("UTF-16LE mark, odd length") << QByteArray("\xFF\xFE"
                                                                 "A\0B",
                                                                 5)
                                                   << "A"
                                                   << "C" << true << "ISO-8859-1";
        QTest::newRow("UTF-16LE mark, unpaired high surrogate") << QByteArray("\xFF\xFE"
                                                                              "A\0\x3D\xD8"
                                                                              "B\0",
                                                                              8)
                                                                << "A"
                                                                << "C" << true << "ISO-8859-1";
        QTest::newRow("UTF-16BE mark, unpaired low surrogate") << QByteArray("\xFE\xFF\0A\xDE\0\0B", 8) << "B"
                                                               << "C" << true << "ISO-8859-1";
        // UTF-8 keeps its mark, as it always did.
        QTest::newRow("UTF-8 with its mark")
            << QByteArray("\xEF\xBB\xBFK\xC3\xB6ln, k\xC3\x96ln") << u"KÖLN"_qs << "Bonn" << false << "UTF-8";
    }
    void utf16Files()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, readAs);

        // The reference.
        const std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForName(readAs.toLatin1());
        QVERIFY(encoding);
        const qsizetype markSize = readAs.startsWith("UTF-16") ? 2 : readAs == "UTF-8" ? 3 : 0;
        const QString text = QString(QStringDecoder(*encoding)(content.sliced(markSize)));
        const bool crlfFile = text.count("\r\n") > 0 && text.count("\r\n") == text.count('\n');
        auto inStyle = [&](QString t) {
            if (!t.contains('\n'))
                return t;
            t.replace("\r\n", "\n");
            return crlfFile ? t.replace("\n", "\r\n") : t;
        };
        auto points = [&](const QString &t) {
            QList<char32_t> out;
            for (const uint c : t.toUcs4())
                out += caseSensitive ? char32_t(c) : QChar::toCaseFolded(char32_t(c));
            return out;
        };
        const QList<uint> hay = text.toUcs4();
        const QList<char32_t> folded = points(text);
        const QList<char32_t> needle = points(inStyle(find));
        QString replaced;
        qsizetype count = 0;
        for (qsizetype i = 0; i < hay.size();) {
            if (folded.mid(i, needle.size()) == needle) {
                replaced += inStyle(with);
                i += needle.size();
                ++count;
            } else {
                const char32_t c = hay[i++];
                replaced += QString::fromUcs4(&c, 1);
            }
        }
        const QByteArray expected = content.first(markSize) + QByteArray(QStringEncoder(*encoding)(replaced));

        QTemporaryDir dir;
        writeFile(dir.filePath("f.txt"), content);
        ReplaceJob j = job(dir.path(), {"f.txt"}, find, with);
        j.caseSensitive = caseSensitive;
        j.preview = true;
        const RunSummary preview = runReplace(j);
        // The ASCII of UTF-16 holds NUL bytes: no "(binary content)" for it,
        // but still for a file that only looked like UTF-16.
        const QString binary = !readAs.startsWith("UTF-16") && content.contains('\0') ? " (binary content)" : "";
        QCOMPARE(logLine(preview.results[0]),
                 count == 0 ? QString("f.txt:  not found")
                            : QString("f.txt:  %1 match%2%3").arg(count).arg(count == 1 ? "" : "es", binary));
        QCOMPARE(readFile(dir.filePath("f.txt")), content);
        j.preview = false;
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results[0].outcome, count ? Outcome::Replaced : Outcome::NotFound);
        QCOMPARE(readFile(dir.filePath("f.txt")).toHex(' '), expected.toHex(' '));
    }

    void utf16ReplacementThatCannotBeWritten()
    {
        // Any text has a UTF-16 form but one holding a lone surrogate.
        QTemporaryDir dir;
        const QByteArray content =
            QStringEncoder(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom)(u"a b"_qs);
        writeFile(dir.filePath("f.txt"), content);
        const RunSummary run = runReplace(job(dir.path(), {"f.txt"}, "b", QString(QChar(0xD800))));
        QCOMPARE(logLine(run.results[0]),
                 "f.txt:  failed: the replacement text has characters that cannot be "
                 "written in this file's encoding (UTF-16BE); the file was left unchanged");
        QCOMPARE(readFile(dir.filePath("f.txt")), content);
    }

    void leftoverTemporaryIsNeverTakenForAUserFile()
    {
        QTemporaryDir dir;
        const QString stale = temporaryPrefix() + "Ab3dE6gH";
        writeFile(dir.filePath(stale), "half of it");
        writeFile(dir.filePath(stale + ".old"), "older");
        const RunSummary run = runReplace(job(dir.path(), {stale}, "half", "all"));
        QCOMPARE(run.results[0].outcome, Outcome::Failed);
        QVERIFY(run.results[0].reason.contains("temporary"));
        QCOMPARE(readFile(dir.filePath(stale)), QByteArray("half of it"));
        QCOMPARE(runRestore(restoreJob(dir.path(), {stale})).results[0].outcome, Outcome::Failed);
        QCOMPARE(readFile(dir.filePath(stale)), QByteArray("half of it"));
    }

    void newFileFollowsTheUmask()
    {
        QTemporaryDir dir;
        const mode_t old = ::umask(027);
        const IoStatus written =
            writeFileAtomically(FilePath::fromString(dir.filePath("new.txt")), QByteArrayView("fresh"));
        ::umask(old);
        QVERIFY2(written.ok(), qPrintable(written.error));
        QCOMPARE(readFile(dir.filePath("new.txt")), QByteArray("fresh"));
        QCOMPARE(statOf(dir.filePath("new.txt")).st_mode & 0777, 0640u);
    }

    void charactersFoldingOntoAsciiInAFile()
    {
        // The Kelvin sign and long s fold onto k and s; the run learns that a
        // file holds them from its one pass over the bytes.
        QTemporaryDir dir;
        writeFile(dir.filePath("k.txt"), QStringLiteral(u"5 \u212A, 5 K, 5 k, \u017Fun").toUtf8());
        ReplaceJob j = job(dir.path(), {"k.txt"}, "k", "kelvin");
        QCOMPARE(buildLog(runReplace(j).results), "k.txt:  replaced");
        QCOMPARE(QString::fromUtf8(readFile(dir.filePath("k.txt"))),
                 QStringLiteral(u"5 kelvin, 5 kelvin, 5 kelvin, \u017Fun"));
        j.findText = "SUN";
        j.replaceText = "moon";
        runReplace(j);
        QCOMPARE(QString::fromUtf8(readFile(dir.filePath("k.txt"))),
                 QStringLiteral(u"5 kelvin, 5 kelvin, 5 kelvin, moon"));
    }

    void restoreRun()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.htm"), "one two");
        writeFile(dir.filePath("b.htm"), "one");
        writeFile(dir.filePath("p.exe"), "binary");
        writeFile(dir.filePath("p.exe.old"), "old binary");
        QVERIFY(QDir(dir.path()).mkdir("d.htm.old"));
        writeFile(dir.filePath("d.htm"), "d");
        ReplaceJob j = job(dir.path(), {"a.htm"}, "two", "three");
        j.makeBackups = true;
        runReplace(j);
        QCOMPARE(readFile(dir.filePath("a.htm")), QByteArray("one three"));

        RestoreJob r = restoreJob(dir.path(), {"a.htm", "b.htm", "p.exe", "d.htm"});
        RunSummary run = runRestore(r);
        QCOMPARE(buildLog(run.results),
                 "a.htm:  restored\r\nb.htm:  not restored\r\np.exe:  restored\r\nd.htm:  not restored");
        QCOMPARE(readFile(dir.filePath("a.htm")), QByteArray("one two"));
        QVERIFY(!QFile::exists(dir.filePath("a.htm.old")));
        QCOMPARE(readFile(dir.filePath("p.exe")), QByteArray("old binary"));
        QCOMPARE(readFile(dir.filePath("d.htm")), QByteArray("d"));
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"a.htm"})).results), "a.htm:  not restored");
        // A folder moved away while shown is a failure with its reason, not a missing backup.
        QCOMPARE(buildLog(runRestore(restoreJob(dir.filePath("moved"), {"a.htm"})).results),
                 "a.htm:  failed: No such file or directory");
        QCOMPARE(buildLog(runRestore(restoreJob(dir.filePath("b.htm"), {"a.htm"})).results),
                 "a.htm:  failed: Not a directory");

        // A backup selected itself is restored only from its own backup.
        writeFile(dir.filePath("i.htm.old"), "backup");
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"i.htm.old"})).results), "i.htm.old:  not restored");
        // A file that is gone comes back from its backup, with the backup's permissions.
        QFile::setPermissions(dir.filePath("i.htm.old"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"i.htm"})).results), "i.htm:  restored");
        QCOMPARE(readFile(dir.filePath("i.htm")), QByteArray("backup"));
        QCOMPARE(statOf(dir.filePath("i.htm")).st_mode & 0777, 0600u);
    }

    // Three names that differ only in bytes that are not UTF-8: each is
    // rewritten once, under its own name, with its own backup, and the log
    // tells them apart. Through U+FFFD the third would be rewritten three
    // times (its original gone from the backup too) and the others not at all.
    void namesThatAreNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const RawTreeRemover remover{folder};
        writeLookalikes(folder);
        QStringList names;
        for (const QByteArray &name : lookalikeNames())
            names << decodeFileName(name);
        ReplaceJob j = job(decodeFileName(folder), names, "alpha", "alpha2");
        j.caseSensitive = true;
        j.makeBackups = true;
        const RunSummary run = runReplace(j);
        QCOMPARE(buildLog(run.results),
                 QStringLiteral("caf\\xE9.txt:  replaced\r\ncaf\\xE8.txt:  replaced\r\n"
                                "caf\ufffd.txt:  replaced"));
        for (const QByteArray &name : lookalikeNames()) {
            QCOMPARE(readRawFile(folder + '/' + name), "alpha2" + lookalikeText(name).mid(5));
            QCOMPARE(readRawFile(folder + '/' + name + ".old"), lookalikeText(name));
        }
        QCOMPARE(rawEntries(folder).size(), 6);

        const RunSummary restored = runRestore(restoreJob(decodeFileName(folder), names));
        QCOMPARE(restored.results.size(), 3);
        for (const FileResult &r : restored.results)
            QCOMPARE(r.outcome, Outcome::Restored);
        for (const QByteArray &name : lookalikeNames())
            QCOMPARE(readRawFile(folder + '/' + name), lookalikeText(name));
        QCOMPARE(rawEntries(folder).size(), 3);
    }

    void permissionsOwnerAndReadOnly()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("shared.txt"), "alpha");
        ::chmod(QFile::encodeName(dir.filePath("shared.txt")).constData(), 0640);
        writeFile(dir.filePath("locked.txt"), "alpha");
        ::chmod(QFile::encodeName(dir.filePath("locked.txt")).constData(), 0444);
        writeFile(dir.filePath("after.txt"), "alpha");
        // Set-group-ID, as on a file that a shared folder's group must keep.
        writeFile(dir.filePath("setgid.txt"), "alpha");
        ::chmod(QFile::encodeName(dir.filePath("setgid.txt")).constData(), 02775);
        ReplaceJob j = job(dir.path(), {"shared.txt", "locked.txt", "after.txt", "setgid.txt"}, "alpha", "beta");
        j.makeBackups = true;
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results.size(), 4);
        QCOMPARE(logLine(run.results[0]), "shared.txt:  replaced");
        QCOMPARE(statOf(dir.filePath("shared.txt")).st_mode & 07777, 0640u);
        QCOMPARE(statOf(dir.filePath("shared.txt.old")).st_mode & 07777, 0640u);
        // Read-only to this program even when it runs as root; no backup either.
        QCOMPARE(logLine(run.results[1]), "locked.txt:  failed: the file is read-only");
        QCOMPARE(readFile(dir.filePath("locked.txt")), QByteArray("alpha"));
        QVERIFY(!QFile::exists(dir.filePath("locked.txt.old")));
        QCOMPARE(logLine(run.results[2]), "after.txt:  replaced");
        QCOMPARE(readFile(dir.filePath("after.txt")), QByteArray("beta"));
        QCOMPARE(logLine(run.results[3]), "setgid.txt:  replaced");
        QCOMPARE(statOf(dir.filePath("setgid.txt")).st_mode & 07777, 02775u);
        QCOMPARE(statOf(dir.filePath("setgid.txt.old")).st_mode & 07777, 02775u);
    }

    // A replacement that changes nothing writes nothing, so a file that is
    // read-only is no obstacle: it is replaced like any other. A backup asked
    // for is made beside it, as for a writable file; a real change is still
    // refused.
    void readOnlyFileThatWouldNotChange_data()
    {
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("backups");
        QTest::addColumn<QString>("line");
        const QString replaced = "locked.txt:  replaced";
        QTest::newRow("empty find text") << ""
                                         << "zzz" << false << replaced;
        QTest::newRow("empty find text, backup") << ""
                                                 << "zzz" << true << replaced;
        QTest::newRow("find equals replace") << "alpha"
                                             << "alpha" << false << replaced;
        QTest::newRow("find equals replace, backup") << "alpha"
                                                     << "alpha" << true << replaced;
        QTest::newRow("equal to what it matches, other case") << "ALPHA"
                                                              << "alpha" << true << replaced;
        QTest::newRow("a real change") << "alpha"
                                       << "beta" << true << "locked.txt:  failed: the file is read-only";
    }
    void readOnlyFileThatWouldNotChange()
    {
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, backups);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const QString locked = dir.filePath("locked.txt");
        writeFile(locked, "alpha and alpha");
        ::chmod(QFile::encodeName(locked).constData(), 0444);
        const struct stat before = statOf(locked);
        ReplaceJob j = job(dir.path(), {"locked.txt"}, find, with);
        j.makeBackups = backups;
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results.size(), 1);
        QCOMPARE(logLine(run.results[0]), line);
        QCOMPARE(readFile(locked), QByteArray("alpha and alpha"));
        QCOMPARE(statOf(locked).st_ino, before.st_ino);
        const bool backupMade = backups && run.results[0].outcome == Outcome::Replaced;
        QCOMPARE(allEntries(dir.path()),
                 backupMade ? QStringList({"locked.txt", "locked.txt.old"}) : QStringList({"locked.txt"}));
        if (backupMade)
            QCOMPARE(readFile(locked + ".old"), QByteArray("alpha and alpha"));
    }

    void ownerAndGroupKept_data()
    {
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<bool>("otherGroup");
        QTest::newRow("another owner and group") << true << true;
        QTest::newRow("own file in another group") << false << true;
        QTest::newRow("another owner, own group") << true << false;
    }
    void ownerAndGroupKept()
    {
        QFETCH(bool, otherOwner);
        QFETCH(bool, otherGroup);
        const bool root = ::geteuid() == 0;
        if (otherOwner && !root)
            QSKIP("giving a file to another user needs root");
        gid_t group = ::getegid();
        if (otherGroup) {
            group = 8765;
            if (!root) {
                // An ordinary user may give a file only to a group of their own.
                gid_t groups[64];
                const int count = ::getgroups(64, groups);
                group = ::getegid();
                for (int i = 0; i < count; ++i) {
                    if (groups[i] != ::getegid())
                        group = groups[i];
                }
                if (group == ::getegid())
                    QSKIP("this user belongs to no second group");
            }
        }
        const uid_t owner = otherOwner ? uid_t(4321) : ::geteuid();
        QTemporaryDir dir;
        writeFile(dir.filePath("theirs.txt"), "mine");
        QCOMPARE(::chown(QFile::encodeName(dir.filePath("theirs.txt")).constData(), owner, group), 0);
        const RunSummary run = runReplace(job(dir.path(), {"theirs.txt"}, "mine", "yours"));
        QCOMPARE(logLine(run.results[0]), "theirs.txt:  replaced");
        QCOMPARE(readFile(dir.filePath("theirs.txt")), QByteArray("yours"));
        QCOMPARE(statOf(dir.filePath("theirs.txt")).st_uid, owner);
        QCOMPARE(statOf(dir.filePath("theirs.txt")).st_gid, group);
    }

    void linksStayLinks()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("real"));
        writeFile(dir.filePath("real/target.txt"), "link me");
        QVERIFY(QFile::link(dir.filePath("real/target.txt"), dir.filePath("link.txt")));
        QVERIFY(QFile::link(dir.filePath("real/nowhere.txt"), dir.filePath("dangling.txt")));
        writeFile(dir.filePath("one.txt"), "link me");
        ::link(QFile::encodeName(dir.filePath("one.txt")).constData(),
               QFile::encodeName(dir.filePath("two.txt")).constData());

        const RunSummary run = runReplace(job(dir.path(), {"link.txt", "dangling.txt", "one.txt"}, "link", "follow"));
        QCOMPARE(logLine(run.results[0]), "link.txt:  replaced");
        QVERIFY(S_ISLNK(statOf(dir.filePath("link.txt")).st_mode));
        QCOMPARE(readFile(dir.filePath("real/target.txt")), QByteArray("follow me"));
        QCOMPARE(run.results[1].outcome, Outcome::Failed);
        QVERIFY2(run.results[1].reason.contains("does not exist"), qPrintable(run.results[1].reason));
        QVERIFY(!QFile::exists(dir.filePath("real/nowhere.txt")));
        // Hard links: the name that was given gets the new content; the other
        // name keeps the old one, as with sed -i.
        QCOMPARE(readFile(dir.filePath("one.txt")), QByteArray("follow me"));
        QCOMPARE(readFile(dir.filePath("two.txt")), QByteArray("link me"));
        QCOMPARE(allEntries(dir.path()).filter(".vexalo4-").size(), 0);
        QCOMPARE(allEntries(dir.path() + "/real").filter(".vexalo4-").size(), 0);
    }

    // Long stretches go out straight from the content, short ones through a
    // buffer, a thousand vectors at a time: the bytes on disk must be exactly
    // what the substitution gives, whatever the mix.
    void writtenBytesMatchTheSubstitution()
    {
        QTemporaryDir dir;
        QRandomGenerator rng(77);
        QByteArray content;
        for (int i = 0; i < 5000; ++i) {
            const int stretch = rng.bounded(3) == 0 ? rng.bounded(12000) : rng.bounded(40);
            content += QByteArray(stretch, char('a' + rng.bounded(20)));
            content += "NEEDLE";
        }
        writeFile(dir.filePath("mixed.txt"), content);
        for (const QByteArray &with : {QByteArray(), QByteArray("x"), QByteArray(5000, 'r')}) {
            writeFile(dir.filePath("mixed.txt"), content);
            const RunSummary run = runReplace(job(dir.path(), {"mixed.txt"}, "needle", QString::fromLatin1(with)));
            QCOMPARE(logLine(run.results[0]), "mixed.txt:  replaced");
            const QByteArray expected = substituteAll(content, "needle", with, false, FileEncoding::Utf8);
            QVERIFY(readFile(dir.filePath("mixed.txt")) == expected);
        }
    }

    // The writer asks its keeper once, with the digest of every byte of the
    // new content, before the new content takes the old one's place; asked
    // for a swap, it leaves the old file under the keeper's name.
    void writerAsksItsKeeperOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("w.txt");
        writeFile(path, "old");
        QVERIFY(QDir().mkpath(dir.filePath("kept")));
        const int keptFolder = ::open(QFile::encodeName(dir.filePath("kept")).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(keptFolder >= 0);
        const auto closeFolder = qScopeGuard([&] { ::close(keptFolder); });
        const QByteArray source = largeSample(3, 600000);
        writeFile(dir.filePath("source.txt"), source);
        QFile from(dir.filePath("source.txt"));
        QVERIFY(from.open(QIODevice::ReadOnly));
        struct Keeper : OldFileKeeper {
            QString path;
            int folder = -1;
            int asked = 0;
            bool replacedEarly = false;
            NewContent seen;
            KeepDecision decide(const NewContent &content) override
            {
                ++asked;
                seen = content;
                replacedEarly = readFile(path) != "old";
                return {folder, "old-one"};
            }
        } keeper;
        keeper.path = path;
        keeper.folder = keptFolder;
        WriteOptions options;
        options.keeper = &keeper;
        {
            AtomicWriter writer(FilePath::fromString(path), options);
            QVERIFY(writer.status().ok());
            const QByteArrayView pieces[] = {"head ", QByteArrayView(source).first(5000)};
            QVERIFY(writer.write(pieces).ok());
            QVERIFY(writer.copyFrom(from.handle(), 1000, source.size() - 1000).ok());
            QCOMPARE(readFile(path), QByteArray("old"));
            QVERIFY(writer.commit().ok());
        }
        const QByteArray expected = "head " + source.first(5000) + source.sliced(1000);
        QCOMPARE(keeper.asked, 1);
        QVERIFY(keeper.seen.digest == Digest::of(expected));
        // Journals outlive the build that wrote them: the digest is XXH3's
        // own, whichever vectors this build computes it with.
        QCOMPARE(Digest::of(QByteArray("0123456789").repeated(400)).toHex(),
                 QByteArray("8168cb848a5a07578bec30c8bff866b7"));
        // And so do their records, each line closed by zlib's CRC-32 of it.
        journal::Record record;
        record.kind = journal::Record::Kind::Withdrawn;
        record.file = 7;
        QCOMPARE(journal::recordLine(record), QByteArray("withdrawn file=7 d74cc460\n"));
        record.kind = journal::Record::Kind::Unkept;
        record.file = 12;
        record.path = "/home/u/a b.txt";
        record.reason = "disque plein";
        QCOMPARE(journal::recordLine(record),
                 QByteArray("unkept file=12 path=2f686f6d652f752f6120622e747874 reason=64697371756520706c65696e "
                            "85dd6c1e\n"));
        QCOMPARE(keeper.seen.size, expected.size());
        QVERIFY(!keeper.replacedEarly);
        QCOMPARE(readFile(dir.filePath("kept/old-one")), QByteArray("old"));
        struct stat now {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &now), 0);
        QCOMPARE(now.st_ino, keeper.seen.inode);
        QVERIFY(readFile(path) == expected);
        // Without a keeper the copy is the kernel's, with the same bytes; the
        // source's own position is not moved.
        {
            AtomicWriter writer(FilePath::fromString(path));
            QVERIFY(writer.copyFrom(from.handle(), 0, source.size()).ok());
            QVERIFY(writer.commit().ok());
        }
        QVERIFY(readFile(path) == source);
        QCOMPARE(from.pos(), 0);
        {
            AtomicWriter dropped(FilePath::fromString(path));
            const QByteArrayView pieces[] = {"never"};
            QVERIFY(dropped.write(pieces).ok());
        }
        QVERIFY(readFile(path) == source);
        QCOMPARE(allEntries(dir.path()), QStringList({"kept", "source.txt", "w.txt"}));
    }

    void callbackOrderAndStop()
    {
        QTemporaryDir dir;
        for (const char *n : {"1.txt", "2.txt", "3.txt"})
            writeFile(dir.filePath(n), "x");
        QStringList seen;
        RunControl control;
        control.fileDone = [&](const FileResult &r, int index) { seen << QString::number(index) + r.name.toString(); };
        // Stop is raised once the first result is seen: the file then in work
        // finishes and is reported (after the closing sync), the third is untouched.
        control.stopRequested = [&] { return seen.size() == 1; };
        const RunSummary run = runReplace(job(dir.path(), {"1.txt", "2.txt", "3.txt"}, "x", "y"), control);
        QVERIFY(run.stopped);
        QCOMPARE(seen, QStringList({"01.txt", "12.txt"}));
        QCOMPARE(readFile(dir.filePath("3.txt")), QByteArray("x"));
    }

    // Stop in a run with several files in work returns once those are done;
    // a run that never returned would leave the window waiting for ever, so
    // the run goes on a thread of its own and is given a minute. Every file
    // changed is reported; the others are untouched.
    void parallelRunStops_data()
    {
        QTest::addColumn<int>("large");      // the file made large
        QTest::addColumn<int>("largeSize");  // its size
        QTest::addColumn<QString>("detour"); // put before the names after it
        // Second, a large file, long in work: the stop after the first result
        // then meets most names still untaken.
        QTest::newRow("large file in work") << 1 << 40 * 1024 * 1024 << QString();
        // First, a file that makes a batch of its own; the names after it are
        // slow to look up (a long way round to their folder), so the stop comes
        // while a worker takes them: they are then left alone, or worked on
        // and reported.
        QString detour;
        for (int i = 0; i < 600; ++i)
            detour += "d/../";
        QTest::newRow("stop while names are taken") << 0 << 1024 * 1024 << detour;
    }

    void parallelRunStops()
    {
        QFETCH(int, large);
        QFETCH(int, largeSize);
        QFETCH(QString, detour);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("d"));
        QStringList names;
        for (int i = 0; i < 200; ++i) {
            names << (i > large ? detour : QString()) + QString::asprintf("f%03d.txt", i);
            writeFile(dir.filePath(names.last()), "x");
        }
        writeFile(dir.filePath(names[large]), QByteArray(largeSize, '.') + "x");
        struct Shared {
            RunSummary run;
            QList<int> reported;
            std::atomic<bool> returned{false};
        };
        const auto shared = std::make_shared<Shared>();
        RunControl control;
        control.parallelFiles = 4;
        control.fileDone = [shared](const FileResult &, int index) { shared->reported << index; };
        control.stopRequested = [shared] { return !shared->reported.isEmpty(); };
        // Everything the thread uses is its own or shared, so a run that hangs
        // touches nothing of this test once it has failed.
        std::thread([shared, j = job(dir.path(), names, "x", "y"), control] {
            shared->run = runReplace(j, control);
            shared->returned = true;
        }).detach();
        QVERIFY2(QTest::qWaitFor([&] { return shared->returned.load(); }, 60000),
                 "the stopped run did not return within a minute");

        const RunSummary &run = shared->run;
        QVERIFY(run.stopped);
        QVERIFY(run.results.size() >= 1 && run.results.size() < names.size());
        QCOMPARE(shared->reported.size(), run.results.size());
        for (int i = 0; i < names.size(); ++i) {
            const bool done = i < run.results.size();
            if (done) {
                QCOMPARE(shared->reported[i], i);
                QCOMPARE(logLine(run.results[i]), names[i] + ":  replaced");
            }
            const QByteArray content = readFile(dir.filePath(names[i]));
            QCOMPARE(content.right(1), QByteArray(done ? "y" : "x"));
        }
    }

    // Large files in work at the same time, each read into memory of its
    // own: every byte written must come from that file. Large is what the
    // run reads in blocks; it is made small here, so the files can be too.
    void parallelLargeFiles()
    {
        QTemporaryDir dir;
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        setBlockReadingForTests(64 * 1024, 16 * 1024);
        const qsizetype mib = 128 * 1024;
        const QList<qsizetype> sizes = {8 * mib, 10 * mib + 3, 12 * mib + 1, 9 * mib + 2, 16 * mib, 32 * mib};
        QStringList names;
        for (int i = 0; i < sizes.size(); ++i) {
            names << QString::asprintf("large%d.txt", i);
            writeFile(dir.filePath(names.last()), largeSample(quint32(100 + i), sizes[i]));
        }
        ReplaceJob j = job(dir.path(), names, "NEEDLE", "thread");
        j.caseSensitive = true;
        RunControl control;
        control.parallelFiles = 4;
        control.durability = Durability::None;
        RunSummary run;
        RUN_WITHIN(30, run, ([j, control] { return runReplace(j, control); }));
        QCOMPARE(run.results.size(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(logLine(run.results[i]), names[i] + ":  replaced");
            const QByteArray want = largeSample(quint32(100 + i), sizes[i]).replace("NEEDLE", "thread");
            const QByteArray got = readFile(dir.filePath(names[i]));
            QVERIFY2(got == want, qPrintable(names[i] + ": " + firstDifference(got, want)));
        }
    }

    // A file larger than a block is read a block at a time: with blocks of a
    // few bytes, a match straddles every possible block edge, and every
    // result (log, preview, file, backup) must be that of the whole-file
    // path, which the substitution tests hold to the plain reference.
    void blockEdges_data()
    {
        QTest::addColumn<QByteArray>("before"); // the content before and after the match
        QTest::addColumn<QByteArray>("match");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QByteArray>("mark"); // what the file begins with
        QTest::addColumn<bool>("regex");
        const QByteArray utf8 = QStringLiteral(u"grüße ").toUtf8();
        const QByteArray latin1 = QStringLiteral(u"grüße ").toLatin1();
        QTest::newRow("exact, UTF-8") << utf8 << QByteArray("NEEDLE") << utf8 << "NEEDLE"
                                      << "pin" << true << QByteArray() << false;
        QTest::newRow("exact, Latin-1") << latin1 << QStringLiteral(u"Nädel").toLatin1() << latin1
                                        << QStringLiteral(u"Nädel") << QStringLiteral(u"Stäbchen") << true
                                        << QByteArray() << false;
        QTest::newRow("folding ASCII, UTF-8") << utf8 << QByteArray("nEeDlE") << utf8 << "Needle"
                                              << "pin" << false << QByteArray() << false;
        QTest::newRow("folding, UTF-8") << utf8 << QStringLiteral(u"ÄPFEL").toUtf8() << utf8 << QStringLiteral(u"äpfel")
                                        << QStringLiteral(u"Birnen") << false << QByteArray() << false;
        QTest::newRow("folding, Latin-1")
            << latin1 << QStringLiteral(u"ÄPFEL").toLatin1() << latin1 << QStringLiteral(u"äpfel")
            << QStringLiteral(u"Birnen") << false << QByteArray() << false;
        QTest::newRow("folding onto ASCII")
            << QStringLiteral(u"\u212A ").toUtf8() << QStringLiteral(u"\u212Aey").toUtf8() << utf8 << "key"
            << "lock" << false << QByteArray() << false;
        QTest::newRow("line break, CR LF")
            << QByteArray("a\r\nb\r\n") << QByteArray("end\r\nstart") << QByteArray("\r\nc") << "end\nstart"
            << "one\ntwo" << true << QByteArray() << false;
        // UTF-16 after its mark; where the match comes at an odd offset the
        // file is not UTF-16 after all, and blocks must agree on that too.
        const auto le = [](const QString &t) { return QByteArray(QStringEncoder(QStringConverter::Utf16LE)(t)); };
        const auto be = [](const QString &t) { return QByteArray(QStringEncoder(QStringConverter::Utf16BE)(t)); };
        QTest::newRow("exact, UTF-16LE") << le(u"grüße "_qs) << le(u"NEEDLE"_qs) << le(u"grüße "_qs) << "NEEDLE"
                                         << "pin" << true << QByteArray("\xFF\xFE") << false;
        QTest::newRow("folding, UTF-16BE, outside the BMP")
            << be(u"grüße \U00010400 "_qs) << be(u"ÄPFEL\U00010428"_qs) << be(u"grüße "_qs)
            << QStringLiteral(u"äpfel\U00010400") << QStringLiteral(u"Birnen") << false << QByteArray("\xFE\xFF")
            << false;
        QTest::newRow("line break, CR LF, UTF-16LE")
            << le(u"a\r\nb\r\n"_qs) << le(u"end\r\nstart"_qs) << le(u"\r\nc"_qs) << "end\nstart"
            << "one\ntwo" << true << QByteArray("\xFF\xFE") << false;
        QTest::newRow("replacement equals the match") << utf8 << QByteArray("same") << utf8 << "SAME"
                                                      << "same" << false << QByteArray() << false;
        // Regular expressions: a match that waits for the bytes it needs,
        // groups in the replacement, and a replacement's line break in the
        // file's style.
        QTest::newRow("regex, groups, UTF-8") << utf8 << QByteArray("31.12.2026") << utf8 << R"((\d+)\.(\d+)\.(\d{4}))"
                                              << "$3-${2}-$1" << true << QByteArray() << true;
        QTest::newRow("regex, \\w folding, Latin-1")
            << latin1 << QStringLiteral(u"ÄPFELmüs").toLatin1() << latin1 << QStringLiteral(u"äpfel\\w*") << "Birnen"
            << false << QByteArray() << true;
        QTest::newRow("regex, UTF-16BE, outside the BMP")
            << be(u"grüße \U00010400 "_qs) << be(u"ÄPFEL\U00010428"_qs) << be(u"grüße "_qs)
            << QStringLiteral(u"äpfel\U00010400") << QStringLiteral(u"$0!") << false << QByteArray("\xFE\xFF") << true;
        QTest::newRow("regex, lines, CR LF")
            << QByteArray("a\r\nb\r\n") << QByteArray("end\r\nstart") << QByteArray("\r\nc") << R"(^end\s+^start\b)"
            << "one\ntwo" << true << QByteArray() << true;
    }

    void blockEdges()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, match);
        QFETCH(QByteArray, after);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(QByteArray, mark);
        QFETCH(bool, regex);
        // The match at every offset across the first blocks, and once at the
        // very end; a neighbouring match now and then.
        QList<QPair<QString, QByteArray>> files;
        QStringList names;
        for (int at = 0; at < 3 * match.size() + 8; ++at) {
            QByteArray content = mark + before.repeated(4).left(at) + match + after;
            if (at % 5 == 0)
                content += match + after;
            names << QString("f%1.txt").arg(at);
            files.append({names.last(), content});
        }
        names << "end.txt";
        files.append({names.last(), mark + before.repeated(3) + match});
        const auto runIn = [&](const QString &folder) {
            for (const auto &[name, content] : files)
                writeFile(folder + '/' + name, content);
            ReplaceJob j = job(folder, names, find, with);
            j.caseSensitive = caseSensitive;
            j.regex = regex;
            j.makeBackups = true;
            j.preview = true;
            // Syncing has nothing to do with where blocks end, and a sync per
            // run was most of this test's time.
            RunControl unsynced;
            unsynced.durability = Durability::None;
            QStringList log = buildLog(runReplace(j, unsynced).results).split("\r\n");
            j.preview = false;
            log += buildLog(runReplace(j, unsynced).results).split("\r\n");
            return log + QStringList{"--"} + snapshot(folder);
        };
        const std::unique_ptr<QTemporaryDir> scratch = scratchDir();
        QTemporaryDir &dir = *scratch;
        QVERIFY(QDir(dir.path()).mkdir("whole"));
        const QStringList expected = runIn(dir.filePath("whole"));
        QVERIFY(expected.contains(names.first() + ":  replaced")); // the match is there to be found
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        for (const int block : {2, 4, 6, 8, 10, 16, 64}) {
            const QString folder = dir.filePath(QString("blocks%1").arg(block));
            QVERIFY(QDir().mkdir(folder));
            setBlockReadingForTests(0, block);
            const QStringList got = runIn(folder);
            setBlockReadingForTests(-1, -1);
            if (got != expected) {
                qInfo() << "blocks of" << block;
                QCOMPARE(got, expected);
            }
        }
    }

    // The search starts with the facts of the first block; a file whose
    // later bytes change them (not UTF-8 after all, a character that folds
    // onto ASCII, a line break without CR) is done again, and comes out as
    // if read whole.
    void factsFoundLate_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QByteArray>("result");
        const QByteArray filler = QByteArray("plain text line\n").repeated(40);
        const QByteArray crlfFiller = QByteArray("plain text line\r\n").repeated(40);
        const QByteArray utf8E = QStringLiteral(u"é").toUtf8();
        QTest::newRow("Latin-1 near the end")
            << utf8E + filler + "\xE9\n"
            << QStringLiteral(u"é") << "e" << true << "replaced" << utf8E + filler + "e\n";
        QTest::newRow("Latin-1 near the end, folding")
            << utf8E + filler + "\xC9\n"
            << QStringLiteral(u"é") << "e" << false << "replaced" << utf8E + filler + "e\n";
        QTest::newRow("Latin-1 near the end, ASCII")
            << "text" + filler + "\xE9 text"
            << "TEXT"
            << "word" << false << "replaced"
            << "word" + QByteArray(filler).replace("text", "word") + "\xE9 word";
        QTest::newRow("Latin-1 cuts a character at the end")
            << utf8E + filler + "\xC3" << QStringLiteral(u"é") << "e" << true << "not found" << QByteArray();
        QTest::newRow("text not in Latin-1") << QStringLiteral(u"€").toUtf8() + filler + "\xE9" << QStringLiteral(u"€")
                                             << "E" << true << "not found" << QByteArray();
        QTest::newRow("replacement not in Latin-1")
            << utf8E + filler + "\xE9" << QStringLiteral(u"é") << QStringLiteral(u"€") << true
            << "failed: the replacement text has characters that cannot be "
               "written in this file's encoding (Latin-1); the file was left unchanged"
            << QByteArray();
        QTest::newRow("Kelvin sign near the end") << "K k" + filler + QStringLiteral(u"\u212A").toUtf8() << "k"
                                                  << "x" << false << "replaced"
                                                  << "x x" + filler + "x";
        QTest::newRow("long s near the end") << "Ss" + filler + QStringLiteral(u"\u017F").toUtf8() << "s"
                                             << "z" << false << "replaced"
                                             << "zz" + QByteArray(filler).replace('s', 'z') + "z";
        QTest::newRow("LF without CR near the end") << "a\r\nb" + crlfFiller + "a\nb"
                                                    << "a\nb"
                                                    << "x" << true << "replaced"
                                                    << "a\r\nb" + crlfFiller + "x";
        // UTF-16 that turns out broken is Latin-1, where "text" is not found.
        const auto le = [](const QString &t) {
            return QByteArray(QStringEncoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom)(t));
        };
        const QString text = QString::fromLatin1(filler);
        QTest::newRow("UTF-16 broken at the end") << le("text" + text) + QByteArray("\x00\xD8", 2) << "text"
                                                  << "word" << true << "not found" << QByteArray();
        QTest::newRow("UTF-16, Kelvin sign near the end") << le("K k" + text + u"\u212A"_qs) << "k"
                                                          << "x" << false << "replaced" << le("x x" + text + "x");
        QTest::newRow("UTF-16, LF without CR near the end")
            << le("a\r\nb" + QString::fromLatin1(crlfFiller) + "a\nb") << "a\nb"
            << "x" << true << "replaced" << le("a\r\nb" + QString::fromLatin1(crlfFiller) + "x");
        QTest::newRow("CR LF only near the end")
            << QByteArray("ab").repeated(500) + "a\r\nb"
            << "a\nb"
            << "a\nc" << true << "replaced" << QByteArray("ab").repeated(500) + "a\r\nc";
    }

    void factsFoundLate()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, log);
        QFETCH(QByteArray, result);
        QTemporaryDir dir;
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        for (const int block : {0, 16, 64, 256}) {
            setBlockReadingForTests(block > 0 ? 0 : -1, block > 0 ? block : -1);
            writeFile(dir.filePath("f.txt"), content);
            ReplaceJob j = job(dir.path(), {"f.txt"}, find, with);
            j.caseSensitive = caseSensitive;
            j.makeBackups = true;
            QCOMPARE(logLine(runReplace(j).results.value(0)), "f.txt:  " + log);
            const QByteArray got = readFile(dir.filePath("f.txt"));
            QVERIFY2(got == (result.isEmpty() ? content : result), qPrintable(QString("blocks of %1").arg(block)));
            if (log == "replaced")
                QVERIFY(readFile(dir.filePath("f.txt.old")) == content);
            QFile::remove(dir.filePath("f.txt.old"));
        }
    }

    // Random texts of letters that fold in every way, line breaks, stray
    // bytes that make a file Latin-1 and NUL bytes, searched with random
    // texts in both modes: read in blocks of every kind of size, every
    // result is that of the whole-file path.
    void blocksAgreeWithWholeFiles()
    {
        const QStringList alphabet{"a",
                                   "b",
                                   "A",
                                   "B",
                                   "s",
                                   "S",
                                   "k",
                                   "K",
                                   QStringLiteral(u"\u017F"),
                                   QStringLiteral(u"\u212A"),
                                   QStringLiteral(u"ä"),
                                   QStringLiteral(u"Ä"),
                                   QStringLiteral(u"é"),
                                   "\r",
                                   "\n",
                                   "\r\n",
                                   " "};
        QRandomGenerator rng(2024);
        auto text = [&](int pieces) {
            QString t;
            for (int i = 0; i < pieces; ++i)
                t += alphabet[rng.bounded(int(alphabet.size()))];
            return t;
        };
        const std::unique_ptr<QTemporaryDir> scratch = scratchDir();
        QTemporaryDir &dir = *scratch;
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        int replaced = 0;
        for (int batch = 0; batch < 24; ++batch) {
            const QString find = text(1 + rng.bounded(5));
            const QString with = text(rng.bounded(4));
            const bool caseSensitive = rng.bounded(2) == 0;
            QList<QPair<QString, QByteArray>> files;
            for (int f = 0; f < 24; ++f) {
                QByteArray content;
                const int parts = rng.bounded(40);
                for (int p = 0; p < parts; ++p) {
                    const int kind = rng.bounded(20);
                    if (kind < 3)
                        content += (rng.bounded(2) ? find : find.toUpper()).toUtf8();
                    else if (kind == 3 && rng.bounded(4) == 0)
                        content += "\xE9"; // not UTF-8: the file is Latin-1
                    else if (kind == 4 && rng.bounded(8) == 0)
                        content += '\0';
                    else
                        content += text(1 + rng.bounded(4)).toUtf8();
                }
                if (f % 4 == 1 || f % 4 == 2) {
                    // The same text in UTF-16 after its mark; a stray byte at
                    // the end now and then makes it Latin-1 after all.
                    const auto order = f % 4 == 1 ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
                    content = QStringEncoder(order, QStringConverter::Flag::WriteBom)(QString::fromUtf8(content));
                    if (rng.bounded(6) == 0)
                        content += 'x';
                }
                files.append({QString("r%1.txt").arg(f), content});
            }
            QStringList names;
            for (const auto &file : files)
                names << file.first;
            const auto runIn = [&](const QString &folder) {
                QDir().mkpath(folder);
                for (const auto &[name, content] : files)
                    writeFile(folder + '/' + name, content);
                ReplaceJob j = job(folder, names, find, with);
                j.caseSensitive = caseSensitive;
                j.makeBackups = batch % 2 == 0;
                j.preview = true;
                RunControl unsynced;
                unsynced.durability = Durability::None;
                QStringList log = buildLog(runReplace(j, unsynced).results).split("\r\n");
                j.preview = false;
                log += buildLog(runReplace(j, unsynced).results).split("\r\n");
                return log + QStringList{"--"} + snapshot(folder);
            };
            setBlockReadingForTests(-1, -1);
            const QStringList expected = runIn(dir.filePath(QString("%1/whole").arg(batch)));
            replaced += expected.filter(":  replaced").size();
            for (const int block : {2, 4 + 2 * rng.bounded(8), 20 + 2 * rng.bounded(40)}) {
                setBlockReadingForTests(0, block);
                const QStringList got = runIn(dir.filePath(QString("%1/blocks%2").arg(batch).arg(block)));
                setBlockReadingForTests(-1, -1);
                if (got != expected) {
                    qInfo() << "find" << find << "with" << with << "case-sensitive" << caseSensitive << "blocks of"
                            << block;
                    QCOMPARE(got, expected);
                }
            }
        }
        QVERIFY(replaced > 100); // the samples are not all misses
    }

    // A find text longer than a block: the window grows to hold it, and a
    // near miss that runs over several blocks is no match.
    void findTextLongerThanABlock_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::newRow("exact") << true;
        QTest::newRow("ignoring case") << false;
    }

    void findTextLongerThanABlock()
    {
        QFETCH(bool, caseSensitive);
        QRandomGenerator rng(11);
        QString find;
        for (int i = 0; i < 3000; ++i)
            find += QChar(u"abcäöüé"[rng.bounded(7)]);
        const QByteArray needle = find.toUtf8();
        const QByteArray nearMiss = (find.chopped(1) + 'x').toUtf8();
        const QByteArray other = caseSensitive ? needle : find.toUpper().toUtf8();
        const QByteArray content = "start " + needle + nearMiss + " mid " + other + other.left(100) + " " + needle;
        QTemporaryDir dir;
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        QByteArray expected;
        for (const int block : {0, 64, 1000, 2048}) {
            setBlockReadingForTests(block > 0 ? 0 : -1, block > 0 ? block : -1);
            writeFile(dir.filePath("f.txt"), content);
            ReplaceJob j = job(dir.path(), {"f.txt"}, find, "<>");
            j.caseSensitive = caseSensitive;
            QVERIFY2(logLine(runReplace(j).results.value(0)) == "f.txt:  replaced",
                     qPrintable(QString("blocks of %1").arg(block)));
            const QByteArray got = readFile(dir.filePath("f.txt"));
            if (block == 0)
                expected = got;
            QVERIFY2(got == expected, qPrintable(QString("blocks of %1").arg(block)));
        }
        QCOMPARE(expected, "start <>" + nearMiss + " mid <>" + other.left(100) + " <>");
    }

    // A file of many blocks with its backup, and a Restore of it: byte for
    // byte, without a whole copy of either in memory.
    void largeFileBackupAndRestore()
    {
        QTemporaryDir dir;
        // Many blocks; made small, so the file can be.
        const auto restore = qScopeGuard([] { setBlockReadingForTests(-1, -1); });
        setBlockReadingForTests(64 * 1024, 16 * 1024);
        const QByteArray original = largeSample(7, 1536 * 1024 + 5);
        writeFile(dir.filePath("big.log"), original);
        ReplaceJob j = job(dir.path(), {"big.log"}, "NEEDLE", "pin");
        j.caseSensitive = true;
        j.makeBackups = true;
        QCOMPARE(buildLog(runReplace(j).results), "big.log:  replaced");
        QVERIFY(readFile(dir.filePath("big.log")) == QByteArray(original).replace("NEEDLE", "pin"));
        QVERIFY(readFile(dir.filePath("big.log.old")) == original);
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"big.log"})).results), "big.log:  restored");
        QVERIFY(readFile(dir.filePath("big.log")) == original);
        QVERIFY(!QFile::exists(dir.filePath("big.log.old")));
        // Already restored by a run that stopped before deleting the backup:
        // only the backup goes.
        writeFile(dir.filePath("big.log.old"), original);
        const ino_t inode = statOf(dir.filePath("big.log")).st_ino;
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"big.log"})).results), "big.log:  restored");
        QCOMPARE(statOf(dir.filePath("big.log")).st_ino, inode);
        QVERIFY(!QFile::exists(dir.filePath("big.log.old")));
        // The same size, another content.
        QByteArray other = original;
        other[other.size() - 2] = 'X';
        writeFile(dir.filePath("big.log.old"), other);
        QCOMPARE(buildLog(runRestore(restoreJob(dir.path(), {"big.log"})).results), "big.log:  restored");
        QVERIFY(readFile(dir.filePath("big.log")) == other);
        QCOMPARE(allEntries(dir.path()), QStringList{"big.log"});
    }

    // Files that depend on each other (a file and its backup, a link and its
    // target, two names of one file) are worked on in list order when the run
    // works on several files at once: every result and every file afterwards
    // is that of the run one file after another, every time.
    void parallelRunEqualsOneAfterAnother_data()
    {
        QTest::addColumn<QString>("command"); // replace (with backups) or restore
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("rounds");
        // Kept for Undo as well, the old files swapped into the journal as
        // the new ones take their place; Undo then gives back the seed.
        QTest::newRow("journaled file and its backup")
            << "undo" << QStringList{"a.htm=x", "a.htm.old=x old"} << QStringList{"a.htm", "a.htm.old"} << 25;
        QTest::newRow("journaled two names of one file")
            << "undo" << QStringList{"a.htm=x x", "b.htm==a.htm"} << QStringList{"b.htm", "a.htm"} << 25;
        QTest::newRow("file and its backup")
            << "replace" << QStringList{"a.htm=x", "a.htm.old=x old"} << QStringList{"a.htm", "a.htm.old"} << 40;
        QTest::newRow("restore file and its backup")
            << "restore" << QStringList{"a.htm=y", "a.htm.old=x", "a.htm.old.old=x old"}
            << QStringList{"a.htm", "a.htm.old"} << 40;
        QTest::newRow("link and its target")
            << "replace" << QStringList{"a.htm=x", "b.htm->a.htm"} << QStringList{"a.htm", "b.htm"} << 40;
        QTest::newRow("two names of one file")
            << "replace" << QStringList{"a.htm=x x", "b.htm==a.htm"} << QStringList{"b.htm", "a.htm"} << 40;
        QTest::newRow("link to a backup") << "replace" << QStringList{"a.htm=x", "a.htm.old=x0", "l.htm->a.htm.old"}
                                          << QStringList{"a.htm", "l.htm"} << 40;
        // The backup the link leads to is made by the run itself.
        QTest::newRow("link to a backup the run makes")
            << "replace" << QStringList{"a.htm=x", "l.htm->a.htm.old"} << QStringList{"a.htm", "l.htm"} << 40;
        // The same, with the file whose backup the link leads to held back by
        // an earlier name of it: the link, if not held back as well, is read
        // before that backup exists, in every round rather than by chance.
        QTest::newRow("link to a backup the run makes, its file held back")
            << "replace" << QStringList{"a.htm=x", "b.htm==a.htm", "l.htm->a.htm.old"}
            << QStringList{"b.htm", "a.htm", "l.htm"} << 10;
        QStringList files;
        QStringList names;
        for (int i = 0; i < 12; ++i) {
            const QString n = QString("f%1.htm").arg(i);
            files << n + "=x" + QString::number(i) << n + ".old=x old" + QString::number(i);
            names << n;
            if (i % 3 == 0)
                names << n + ".old";
            if (i % 4 == 1) {
                files << "l" + n + "->" + n;
                names << "l" + n;
            }
        }
        files << "g.htm=x"
              << "g.htm.old.old=x older"
              << "h.htm==g.htm";
        names << "g.htm.old"
              << "g.htm"
              << "h.htm"
              << "g.htm.old";
        QTest::newRow("mixed batch") << "replace" << files << names << 15;
        // Workers take names a few dozen at a time: here each file's backup,
        // and a second name of it, come in a later batch than the file.
        QStringList farFiles;
        QStringList farNames;
        for (int i = 0; i < 40; ++i) {
            const QString n = QString("f%1.htm").arg(i);
            farFiles << n + "=x" + QString::number(i);
            farNames << n;
            if (i % 5 == 0) {
                farFiles << "h" + n + "==" + n;
                farNames.insert(i / 5, "h" + n);
            }
        }
        for (int i = 0; i < 40; i += 2)
            farNames << QString("f%1.htm.old").arg(i);
        QTest::newRow("dependencies across batches") << "replace" << farFiles << farNames << 10;
        QTest::newRow("journaled mixed batch") << "undo" << files << names << 8;
        QTest::newRow("mixed restore batch") << "restore" << files << names << 15;
    }

    void parallelRunEqualsOneAfterAnother()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, files);
        QFETCH(QStringList, names);
        QFETCH(int, rounds);
        const auto runIn = [&](const QString &folder, int parallel) {
            seed(folder, files);
            RunControl control;
            control.parallelFiles = parallel;
            control.durability = Durability::None;
            RunSummary run;
            QStringList undone;
            if (command == "replace" || command == "undo") {
                ReplaceJob j = job(folder, names, "x", "y");
                j.makeBackups = true;
                j.protectedExtensions.clear();
                const Journal journal(FilePath::fromString(folder + ".journal"));
                std::unique_ptr<JournalRun> recording;
                if (command == "undo") {
                    recording = journal.record(FilePath::fromString(folder), Durability::None);
                    j.journal = recording.get();
                }
                // A run that hangs is a line no round can match.
                const auto done = runWithin(20, [j, control] { return runReplace(j, control); });
                if (!done)
                    return QStringList{"the run did not return within 20 s (a lost wake-up?)"};
                run = *done;
                if (recording) {
                    recording->finish();
                    const QStringList after = snapshot(folder);
                    RunControl unsynced;
                    unsynced.durability = Durability::None;
                    const UndoResult back = journal.undoLast(unsynced);
                    // Undo names each file by its whole path: the folder differs from run to run.
                    const QString log = buildLog(back.summary.results).replace(folder + '/', QString());
                    undone = QStringList{"--"} + after + QStringList{"--"} + log.split("\r\n") + QStringList{"--"}
                        + snapshot(folder);
                }
            } else {
                const auto done =
                    runWithin(20, [folder, names, control] { return runRestore(restoreJob(folder, names), control); });
                if (!done)
                    return QStringList{"the run did not return within 20 s (a lost wake-up?)"};
                run = *done;
            }
            return buildLog(run.results).split("\r\n") + QStringList{"--"} + snapshot(folder) + undone;
        };
        const std::unique_ptr<QTemporaryDir> scratch = scratchDir();
        QTemporaryDir &dir = *scratch;
        QVERIFY(QDir(dir.path()).mkdir("one") && QDir(dir.path()).mkdir("many"));
        const QStringList expected = runIn(dir.filePath("one"), 1);
        if (command == "undo") {
            // Every file the run rewrote comes back as it was just before
            // the run rewrote it (a backup the run wrote first included): no
            // "y" is left, and the backups the run made stay.
            const qsizetype lastPart = expected.lastIndexOf("--");
            const qsizetype logPart = expected.lastIndexOf("--", lastPart - 1);
            for (const QString &line : expected.mid(lastPart + 1))
                QVERIFY2(!line.section(' ', 2).contains('y'), qPrintable(line));
            const QStringList undoLog = expected.mid(logPart + 1, lastPart - logPart - 1).filter(":  ");
            QVERIFY(!undoLog.isEmpty());
            QCOMPARE(undoLog.filter(":  restored"), undoLog);
        }
        for (int round = 0; round < rounds; ++round) {
            const QString folder = dir.filePath(QString("many%1").arg(round));
            QVERIFY(QDir().mkdir(folder));
            const QStringList got = runIn(folder, 8);
            if (got != expected)
                QCOMPARE(got, expected); // shows the first difference
            QDir(folder).removeRecursively();
        }
    }

    // A backup never writes through a link, and a restore never reads through
    // one: the link is replaced by the backup itself (its target untouched);
    // anything else that is not a regular file makes the file fail, unchanged.
    void backupsAndLinks_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("line");      // the log line after "a.txt:  "
        QTest::addColumn<QStringList>("after"); // the folder afterwards, as snapshot() gives it
        QTest::newRow("backup name links to a file")
            << "replace" << QStringList{"a.txt=alpha", "thesis.txt=my thesis", "a.txt.old->thesis.txt"} << "replaced"
            << QStringList{"a.txt 640 omega", "a.txt.old 640 alpha", "thesis.txt 644 my thesis"};
        QTest::newRow("backup name links nowhere")
            << "replace" << QStringList{"a.txt=alpha", "a.txt.old->gone.txt"} << "replaced"
            << QStringList{"a.txt 640 omega", "a.txt.old 640 alpha"};
        QTest::newRow("backup name links to a device")
            << "replace" << QStringList{"a.txt=alpha", "null%", "a.txt.old->null"} << "replaced"
            << QStringList{"a.txt 640 omega", "a.txt.old 640 alpha", "null 644 special"};
        QTest::newRow("backup name is a folder")
            << "replace" << QStringList{"a.txt=alpha", "a.txt.old/"}
            << "failed: the backup could not be made, so the file was left unchanged: a folder has its name"
            << QStringList{"a.txt 640 alpha", "a.txt.old 755 special"};
        QTest::newRow("backup name is a pipe")
            << "replace" << QStringList{"a.txt=alpha", "a.txt.old|"}
            << "failed: the backup could not be made, so the file was left unchanged: something that is not "
               "a regular file (a device, a pipe or a socket) has its name"
            << QStringList{"a.txt 640 alpha", "a.txt.old 644 special"};
        QTest::newRow("restore from a link")
            << "restore" << QStringList{"a.txt=omega", "secret.txt=secret", "a.txt.old->secret.txt"} << "not restored"
            << QStringList{"a.txt 640 omega", "a.txt.old 777 -> secret.txt", "secret.txt 644 secret"};
        QTest::newRow("restore from a pipe") << "restore" << QStringList{"a.txt=omega", "a.txt.old|"} << "not restored"
                                             << QStringList{"a.txt 640 omega", "a.txt.old 644 special"};
        QTest::newRow("restore from a regular backup") << "restore" << QStringList{"a.txt=omega", "a.txt.old=alpha"}
                                                       << "restored" << QStringList{"a.txt 640 alpha"};
    }

    void backupsAndLinks()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, files);
        QFETCH(QString, line);
        QFETCH(QStringList, after);
        if (files.contains("null%") && ::geteuid() != 0)
            QSKIP("making a device node needs root");
        QTemporaryDir dir;
        seed(dir.path(), files);
        for (const char *name : {"a.txt", "thesis.txt", "secret.txt", "a.txt.old"}) {
            const QByteArray path = QFile::encodeName(dir.filePath(name));
            struct stat st {};
            if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
                ::chmod(path.constData(), name == QLatin1String("a.txt") ? 0640 : S_ISDIR(st.st_mode) ? 0755 : 0644);
        }
        RunSummary run;
        if (command == "replace") {
            ReplaceJob j = job(dir.path(), {"a.txt"}, "alpha", "omega");
            j.makeBackups = true;
            run = runReplace(j);
        } else {
            run = runRestore(restoreJob(dir.path(), {"a.txt"}));
        }
        QCOMPARE(buildLog(run.results), "a.txt:  " + line);
        QCOMPARE(snapshot(dir.path()), after);
    }

    // Two runs over the same files at once, each replacing a different word:
    // neither loses the other's change, and neither reports a file it did
    // not change.
    void twoRunsAtOnceLoseNoChange()
    {
        // Enough files for the two runs to meet on many of them.
        constexpr int fileCount = 500;
        for (int trial = 0; trial < 3; ++trial) {
            const std::unique_ptr<QTemporaryDir> scratch = scratchDir();
            QTemporaryDir &dir = *scratch;
            QStringList names;
            for (int i = 0; i < fileCount; ++i) {
                names << QString("f%1.txt").arg(i);
                writeFile(dir.filePath(names.last()), "alpha beta");
            }
            RunControl control;
            control.parallelFiles = 4;
            control.durability = Durability::None;
            std::pair<RunSummary, RunSummary> runs;
            RUN_WITHIN(
                30, runs,
                ([a = job(dir.path(), names, "alpha", "ALPHA"), b = job(dir.path(), names, "beta", "BETA"), control] {
                    RunSummary second;
                    std::thread other([&] { second = runReplace(b, control); });
                    RunSummary first = runReplace(a, control);
                    other.join();
                    return std::pair{first, second};
                }));
            int lost = 0;
            for (const QString &name : names)
                lost += readFile(dir.filePath(name)) != "ALPHA BETA";
            QCOMPARE(lost, 0);
            for (const RunSummary *run : {&runs.first, &runs.second}) {
                QCOMPARE(run->results.size(), fileCount);
                for (const FileResult &r : run->results)
                    QVERIFY2(r.outcome == Outcome::Replaced, qPrintable(logLine(r)));
            }
            QCOMPARE(allEntries(dir.path()).size(), fileCount);
        }
    }

    // Files another program holds locked (flock): the run waits for them, all
    // of its files within one period together, and reads a file only once it
    // holds the lock, so what the other program wrote meanwhile is what it
    // replaces in.
    void lockedByAnotherProgram_data()
    {
        QTest::addColumn<int>("locked");          // files held locked for the whole run
        QTest::addColumn<bool>("appendThenFree"); // f.txt appended to under the lock, then let go
        QTest::addColumn<int>("parallel");        // files in work at once
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("appended while locked, replaced once free") << 0 << true << 1 << QStringList{"f.txt:  replaced"};
        const QString tooLong = ":  failed: another program kept it locked for too long";
        QTest::newRow("four locked files share one period")
            << 4 << false << 1
            << QStringList{"f.txt:  replaced", "l0.txt" + tooLong, "l1.txt" + tooLong, "l2.txt" + tooLong,
                           "l3.txt" + tooLong};
        // The files before the locked one, taken by one worker with it, are
        // reported while the run waits, not once the wait is over.
        QStringList before;
        for (int i = 0; i < 8; ++i)
            before << QString("e%1.txt:  replaced").arg(i);
        QTest::newRow("files done before a wait are reported during it")
            << 1 << false << 2 << before + QStringList{"f.txt:  replaced", "l0.txt" + tooLong};
    }

    void lockedByAnotherProgram()
    {
        QFETCH(int, locked);
        QFETCH(bool, appendThenFree);
        QFETCH(int, parallel);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        QStringList names;
        for (int i = 0; parallel > 1 && i < 8; ++i)
            names << QString("e%1.txt").arg(i);
        names << "f.txt";
        for (const QString &name : names)
            writeFile(dir.filePath(name), "old\n");
        std::vector<int> held;
        const auto release = qScopeGuard([&] {
            for (const int fd : held)
                ::close(fd);
        });
        const auto hold = [&](const QString &name) {
            held.push_back(::open(QFile::encodeName(dir.filePath(name)).constData(), O_RDWR | O_APPEND | O_CLOEXEC));
            return ::flock(held.back(), LOCK_EX) == 0;
        };
        for (int i = 0; i < locked; ++i) {
            names << QString("l%1.txt").arg(i);
            writeFile(dir.filePath(names.last()), "old");
            QVERIFY(hold(names.last()));
        }
        std::thread other;
        std::atomic<bool> waiting{false};
        if (appendThenFree) {
            QVERIFY(hold("f.txt"));
            // Once the run waits: more content under the lock, then let go.
            other = std::thread([&waiting, fd = held.back()] {
                while (!waiting)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                const bool wrote = ::write(fd, "more old\n", 9) == 9;
                ::flock(fd, LOCK_UN);
                Q_UNUSED(wrote);
            });
        }
        const auto joinOther = qScopeGuard([&] {
            waiting = true;
            if (other.joinable())
                other.join();
        });
        // A period short enough for the test, long enough to outlast the
        // other program's append.
        constexpr int period = 400;
        RunControl control;
        control.lockWaits = std::make_shared<LockWaits>(std::chrono::milliseconds(period));
        control.lockWaits->onWait = [&](const QString &path) { waiting = waiting || !path.isEmpty(); };
        control.parallelFiles = parallel;
        QElapsedTimer clock;
        QList<qint64> reportedAt;
        control.fileDone = [&](const FileResult &, int) { reportedAt << clock.elapsed(); };
        clock.start();
        const RunSummary run = runReplace(job(dir.path(), names, "old", "new"), control);
        const qint64 took = clock.elapsed();
        QCOMPARE(buildLog(run.results).split("\r\n"), lines);
        if (appendThenFree)
            QCOMPARE(readFile(dir.filePath("f.txt")), QByteArray("new\nmore new\n"));
        // One period for the run: a period per file would take four.
        if (locked > 1)
            QVERIFY2(took < 3 * period, qPrintable(QString("the run waited %1 ms").arg(took)));
        // A file no one holds is reported once done, also while a later one
        // waits.
        for (int i = 0; i < names.size() - locked && !appendThenFree; ++i)
            QVERIFY2(reportedAt[i] < period / 2,
                     qPrintable(QString("%1 reported after %2 ms").arg(names[i]).arg(reportedAt[i])));
        QVERIFY(waiting);
    }

    void failedLineNamesTheReason()
    {
        QTemporaryDir dir;
        const RunSummary run = runReplace(job(dir.path(), {"gone.txt"}, "a", "b"));
        QCOMPARE(buildLog(run.results), "gone.txt:  failed: No such file or directory");
    }

    // The Qt that Debian ships can report a save as committed after a short
    // write on a full disk; our writer must not, and the original must survive.
    void fullDisk()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a 1 MiB tmpfs needs root");
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("cannot mount a tmpfs here");
        auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });

        const QByteArray original = QByteArray(600 * 1024, 'a') + "end";
        writeFile(dir.filePath("big.txt"), original);
        writeFile(dir.filePath("small.txt"), "a");
        ReplaceJob j = job(dir.path(), {"big.txt", "small.txt"}, "a", "aa");
        const RunSummary run = runReplace(j);
        QCOMPARE(run.results.size(), 2);
        QCOMPARE(run.results[0].outcome, Outcome::Failed);
        QVERIFY2(run.results[0].reason.contains("No space left on device"), qPrintable(run.results[0].reason));
        QCOMPARE(readFile(dir.filePath("big.txt")), original);
        QCOMPARE(logLine(run.results[1]), "small.txt:  replaced");
        QCOMPARE(allEntries(dir.path()), QStringList({"big.txt", "small.txt"}));

        // The backup cannot be made either: no partial ".old", no rewrite.
        j.names = FilePath::fromStrings({"big.txt"});
        j.replaceText = "b";
        j.makeBackups = true;
        const RunSummary backupRun = runReplace(j);
        QCOMPARE(backupRun.results[0].outcome, Outcome::Failed);
        QVERIFY(backupRun.results[0].reason.contains("backup"));
        QCOMPARE(readFile(dir.filePath("big.txt")), original);
        QCOMPARE(allEntries(dir.path()), QStringList({"big.txt", "small.txt"}));
    }
};

QTEST_GUILESS_MAIN(tst_Runs)
#include "tst_runs.moc"
