// SPDX-License-Identifier: MIT
#include "CliRun.h"
#include "engine/files/ProtectedList.h"
#include "engine/runs/Runs.h"
#include "engine/text/TextTools.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include "tests/common/TestFiles.h"

#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QStringConverter>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char **environ;

using namespace vexalo;
using namespace testfiles;

namespace {

// Every entry with its bytes, hidden ones included, so that a stray backup
// or temporary shows up as a difference.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        files.insert(name, readFile(folder + QLatin1Char('/') + name));
    return files;
}

// A folder with the kinds of file a run meets: found and not found, a
// protected name, an empty file, Latin-1 and UTF-8 text, CR LF lines, a file
// large enough to be written from the content in pieces, and enough small
// files that a run keeps several in work at once.
QStringList fillSampleFolder(const QString &folder)
{
    QStringList names;
    auto add = [&](const QString &name, const QByteArray &bytes) {
        writeFile(folder + QLatin1Char('/') + name, bytes);
        names << name;
    };
    add("a.txt", "Hello hello HELLO\nsecond hello line\n");
    add("b.txt", "nothing to see\n");
    add("c.exe", "hello binary");
    add("d.txt", "");
    add("e.txt", "caf\xe9 hello\r\n");
    add("f.txt", "multi\r\nline hello\r\nend");
    add("g.txt",
        "Gr\xc3\xbc\xc3\x9f"
        "e hello \xc3\x9c"
        "BER \xc3\xbc"
        "ber\n");
    QByteArray big;
    for (int i = 0; i < 20000; ++i)
        big += "line " + QByteArray::number(i) + (i % 7 == 0 ? " hello\n" : " filler\n");
    add("big.txt", big);
    for (int i = 0; i < 40; ++i)
        add(QStringLiteral("n%1.txt").arg(i, 2, 10, QLatin1Char('0')),
            i % 3 == 0 ? QByteArray("x hello y\n") : QByteArray("x y\n"));
    return names;
}

struct CliOutcome {
    int status = -1;
    QString out;
    QString err;
};

// Runs the command line in this process, as main() would, with the given
// folder standing in for the program folder.
CliOutcome runCli(const QStringList &arguments, const QString &programFolder)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    cli::CliStreams streams;
    streams.out = &out;
    streams.err = &err;
    CliOutcome o;
    o.status = cli::runCommandLine(arguments, programFolder, streams);
    o.out = QString::fromUtf8(out.data());
    o.err = QString::fromUtf8(err.data());
    return o;
}

QStringList pathsIn(const QString &folder, const QStringList &names)
{
    QStringList paths;
    for (const QString &n : names)
        paths << folder + QLatin1Char('/') + n;
    return paths;
}

struct RawOutcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Starts the real executable with these argument bytes in the given folder.
// QProcess takes QStrings, and would hand a name that is not UTF-8 over as
// another name.
RawOutcome runRaw(const QByteArrayList &args, const QByteArray &folder, const QByteArray &program = VEXALO_CLI_PATH)
{
    QTemporaryDir streams;
    const QByteArray outPath = QFile::encodeName(streams.filePath("out"));
    const QByteArray errPath = QFile::encodeName(streams.filePath("err"));
    QByteArrayList words = QByteArrayList{program} + args;
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RawOutcome o;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    if (spawned == 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        o.status = WEXITSTATUS(wstatus);
    o.out = readRawFile(outPath);
    o.err = readRawFile(errPath);
    return o;
}

// Runs the real executable as the user uid (root too) through setpriv,
// with only the environment given: what a user, or root run through sudo
// with a user's environment, starts.
CliOutcome runAs(uid_t uid, const QStringList &arguments, const QMap<QString, QString> &environment)
{
    QProcess p;
    QProcessEnvironment env;
    env.insert("PATH", "/usr/bin:/bin");
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    p.setWorkingDirectory("/");
    const QString id = QString::number(uid);
    p.start("setpriv", QStringList{"--reuid=" + id, "--regid=" + id, "--clear-groups", VEXALO_CLI_PATH} + arguments);
    CliOutcome o;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        o.status = p.exitCode();
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

// Whether a user who is not the owner may start the program at path: every
// folder above it searchable by others, and the file executable by them
// (not so when the tree was built in a home folder of mode 0700).
bool othersMayRun(const QByteArray &path)
{
    QByteArray at = path;
    for (;;) {
        struct stat info {};
        if (::stat(at.constData(), &info) != 0 || !(info.st_mode & S_IXOTH))
            return false;
        const qsizetype slash = at.lastIndexOf('/');
        if (slash <= 0)
            return true;
        at.truncate(slash);
    }
}

// Every name below folder, hidden ones and links included, links not followed.
QStringList treeOf(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next();
    names.sort();
    return names;
}

bool chownTree(const QString &path, uid_t uid)
{
    bool ok = ::chown(QFile::encodeName(path).constData(), uid, uid) == 0;
    for (const QString &name : treeOf(path))
        ok = ::lchown(QFile::encodeName(name).constData(), uid, uid) == 0 && ok;
    return ok;
}

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // In-process runs speak as the program does: English plural forms, plain digits.
        QVERIFY(cli::useEnglishOutput(QCoreApplication::applicationDirPath() + "/../share/vexalo4/translations"));
    }

    // The companion must give the same outcomes and bytes as the window's
    // run: both go through the engine, but the texts, options and protected
    // list are gathered differently.
    void sameAsEngine_data()
    {
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("backup");
        QTest::addColumn<bool>("trim");
        QTest::newRow("exact") << "hello"
                               << "bye" << true << false << false;
        QTest::newRow("case-insensitive") << "hello"
                                          << "bye" << false << false << false;
        QTest::newRow("backup") << "hello"
                                << "HELLO there" << false << true << false;
        QTest::newRow("delete") << "hello"
                                << "" << true << false << false;
        QTest::newRow("unicode fold") << QString::fromUtf8("\xc3\xbc"
                                                           "ber")
                                      << "over" << false << true << false;
        QTest::newRow("latin-1 text") << QString::fromUtf8("caf\xc3\xa9") << "cafe" << true << false << false;
        QTest::newRow("trim") << "hello\n"
                              << "bye\n\n"
                              << true << false << true;
        QTest::newRow("no trim") << "hello\n"
                                 << "bye\n"
                                 << true << false << false;
        QTest::newRow("multi-line, in each file's breaks") << "multi\nLINE"
                                                           << "one\r\ntwo" << false << true << false;
    }

    void sameAsEngine()
    {
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, backup);
        QFETCH(bool, trim);
        QTemporaryDir viaCli;
        QTemporaryDir viaEngine;
        QTemporaryDir programFolder;
        const QStringList names = fillSampleFolder(viaCli.path());
        fillSampleFolder(viaEngine.path());

        QStringList args = {"replace", "--find", find, "--with", with};
        if (caseSensitive)
            args << "--case-sensitive";
        if (backup)
            args << "--backup";
        if (trim)
            args << "--trim";
        const CliOutcome o = runCli(args + pathsIn(viaCli.path(), names), programFolder.path());

        ReplaceJob job;
        job.folder = FilePath::fromString(viaEngine.path());
        job.names = FilePath::fromStrings(names);
        job.findText = trim ? trimTrailingBreaks(find) : find;
        job.replaceText = trim ? trimTrailingBreaks(with) : with;
        job.caseSensitive = caseSensitive;
        job.makeBackups = backup;
        job.protectedExtensions = defaultProtectedExtensions();
        const RunSummary run = runReplace(job);

        QStringList expected;
        for (const FileResult &r : run.results)
            expected << logLine(r);
        QCOMPARE(o.out, expected.join('\n') + '\n');
        QCOMPARE(o.err, QString());
        QCOMPARE(o.status, 0);
        QCOMPARE(snapshot(viaCli.path()), snapshot(viaEngine.path()));
        // The run did something: a text that matched nowhere would make the
        // comparison above pass trivially.
        QVERIFY(o.out.contains(":  replaced"));
    }

    void restoreSameAsEngine()
    {
        QTemporaryDir viaCli;
        QTemporaryDir viaEngine;
        QTemporaryDir programFolder;
        const QStringList names = fillSampleFolder(viaCli.path());
        fillSampleFolder(viaEngine.path());
        const QMap<QString, QByteArray> before = snapshot(viaCli.path());
        QCOMPARE(runCli(QStringList{"replace", "-b", "-f", "hello", "-w", "bye"} + pathsIn(viaCli.path(), names),
                        programFolder.path())
                     .status,
                 0);
        const CliOutcome o = runCli(QStringList{"restore"} + pathsIn(viaCli.path(), names), programFolder.path());

        ReplaceJob job;
        job.folder = FilePath::fromString(viaEngine.path());
        job.names = FilePath::fromStrings(names);
        job.findText = "hello";
        job.replaceText = "bye";
        job.makeBackups = true;
        job.protectedExtensions = defaultProtectedExtensions();
        runReplace(job);
        const RunSummary run = runRestore({FilePath::fromString(viaEngine.path()), FilePath::fromStrings(names)});
        QCOMPARE(o.out, buildLog(run.results).replace("\r\n", "\n") + '\n');
        QCOMPARE(o.status, 0);
        QCOMPARE(snapshot(viaCli.path()), before);
        QCOMPARE(snapshot(viaEngine.path()), before);
        QVERIFY(o.out.contains("a.txt:  restored\n"));
        QVERIFY(o.out.contains("b.txt:  not restored\n"));
    }

    // Each file is worked on in its own folder, in the order given, even when
    // the folders alternate; backups land beside their files.
    void filesInSeveralFolders()
    {
        QTemporaryDir root;
        QDir(root.path()).mkpath("one");
        QDir(root.path()).mkpath("two/deeper");
        const QString one = root.filePath("one");
        const QString two = root.filePath("two/deeper");
        writeFile(one + "/a.txt", "alpha hello");
        writeFile(two + "/a.txt", "beta hello");
        writeFile(one + "/b.txt", "gamma");
        const QStringList files = {one + "/a.txt", two + "/a.txt", one + "/b.txt"};

        const CliOutcome o = runCli(QStringList{"replace", "-b", "-f", "hello", "-w", "bye"} + files, root.path());
        QCOMPARE(o.out, QString("a.txt:  replaced\na.txt:  replaced\nb.txt:  not found\n"));
        QCOMPARE(o.status, 0);
        QCOMPARE(readFile(one + "/a.txt"), QByteArray("alpha bye"));
        QCOMPARE(readFile(two + "/a.txt"), QByteArray("beta bye"));
        QCOMPARE(readFile(one + "/a.txt.old"), QByteArray("alpha hello"));
        QCOMPARE(readFile(two + "/a.txt.old"), QByteArray("beta hello"));
        QVERIFY(!QFile::exists(one + "/b.txt.old"));

        // --paths tells the two a.txt apart.
        const CliOutcome r = runCli(QStringList{"restore", "--paths"} + files, root.path());
        QCOMPARE(r.out, files[0] + ":  restored\n" + files[1] + ":  restored\n" + files[2] + ":  not restored\n");
        QCOMPARE(readFile(two + "/a.txt"), QByteArray("beta hello"));
        QVERIFY(!QFile::exists(two + "/a.txt.old"));
    }

    // Texts from files are taken byte for byte, the last line break
    // included; --trim removes it as the window's Trim does.
    void multiLineTextsFromFiles_data()
    {
        QTest::addColumn<QByteArray>("findBytes");
        QTest::addColumn<QByteArray>("withBytes");
        QTest::addColumn<bool>("trim");
        QTest::addColumn<bool>("exact"); // --exact-breaks
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("regex");
        QTest::newRow("CR LF lines, last break kept")
            << QByteArray("multi\r\nline\r\n") << QByteArray("one\nline\n") << false << true
            << QByteArray("x multi\r\nline\r\nend multi\r\nline") << QByteArray("x one\nline\nend multi\r\nline")
            << false;
        QTest::newRow("CR LF lines, trimmed") << QByteArray("multi\r\nline\r\n") << QByteArray("one\nline\n") << true
                                              << true << QByteArray("x multi\r\nline\r\nend multi\r\nline")
                                              << QByteArray("x one\nline\r\nend one\nline") << false;
        QTest::newRow("CR LF lines, the replacement in the file's breaks")
            << QByteArray("multi\r\nline\r\n") << QByteArray("one\nline\n") << false << false
            << QByteArray("x multi\r\nline\r\nend multi\r\nline") << QByteArray("x one\r\nline\r\nend multi\r\nline")
            << false;
        QTest::newRow("CR LF lines, trimmed, in the file's breaks")
            << QByteArray("multi\r\nline\r\n") << QByteArray("one\nline\n") << true << false
            << QByteArray("x multi\r\nline\r\nend multi\r\nline") << QByteArray("x one\r\nline\r\nend one\r\nline")
            << false;
        QTest::newRow("LF find file, CR LF file")
            << QByteArray("multi\nline\n") << QByteArray("one\n") << false << false
            << QByteArray("x multi\r\nline\r\nend") << QByteArray("x one\r\nend") << false;
        QTest::newRow("LF find file, CR LF file, exact breaks")
            << QByteArray("multi\nline\n") << QByteArray("one\n") << false << true
            << QByteArray("x multi\r\nline\r\nend") << QByteArray("x multi\r\nline\r\nend") << false;
        QTest::newRow("CR LF find file, LF file") << QByteArray("a\r\nb\r\n") << QByteArray("z\r\n") << false << false
                                                  << QByteArray("a\nb\nc\r") << QByteArray("z\nc\r") << false;
        QTest::newRow("CR LF find file, mixed file: only its LF lines")
            << QByteArray("a\r\nb") << QByteArray("z") << false << false << QByteArray("a\r\nb\na\nb")
            << QByteArray("a\r\nb\nz") << false;
        QTest::newRow("CR LF find file, mixed file, exact breaks")
            << QByteArray("a\r\nb") << QByteArray("z") << false << true << QByteArray("a\r\nb\na\nb")
            << QByteArray("z\na\nb") << false;
        QTest::newRow("empty replacement file deletes") << QByteArray("<b>\n</b>\n") << QByteArray() << false << false
                                                        << QByteArray("a<b>\n</b>\nz") << QByteArray("az") << false;
        // Bytes that are not UTF-8 are Latin-1 text: they match the same
        // characters in a UTF-8 file too.
        QTest::newRow("latin-1 find file") << QByteArray("caf\xe9") << QByteArray("cafe") << false << false
                                           << QByteArray("un caf\xc3\xa9 noir") << QByteArray("un cafe noir") << false;
        // A UTF-16 text file (its byte-order mark is no part of the text),
        // and a UTF-16 file with CR LF lines.
        auto utf16 = [](const QString &text, QStringConverter::Encoding order) {
            return QByteArray(QStringEncoder(order, QStringConverter::Flag::WriteBom)(text));
        };
        QTest::newRow("UTF-16LE find file, UTF-8 file")
            << utf16(u"caf\u00E9"_qs, QStringConverter::Utf16LE) << QByteArray("cafe") << false << false
            << QByteArray("un caf\xc3\xa9 noir") << QByteArray("un cafe noir") << false;
        QTest::newRow("UTF-16BE texts, UTF-16LE CR LF file")
            << utf16(u"multi\nline"_qs, QStringConverter::Utf16BE)
            << utf16(u"\u00E9\n\U0001F600"_qs, QStringConverter::Utf16BE) << false << false
            << utf16(u"x multi\r\nline\r\nend"_qs, QStringConverter::Utf16LE)
            << utf16(u"x \u00E9\r\n\U0001F600\r\nend"_qs, QStringConverter::Utf16LE) << false;
        QTest::newRow("regex from a find file, trimmed")
            << QByteArray("(\\w+)@(?<host>\\w+)$\n") << QByteArray("${host} for $1\n") << true
            << false
            // $ comes before an LF: not after a word that a CR ends.
            << QByteArray("mail bob@home\r\nto ann@work") << QByteArray("mail bob@home\r\nto work for ann") << true;
        QTest::newRow("regex from a find file, its last break kept")
            << QByteArray("\\d\r\n") << QByteArray("#\n") << false << false << QByteArray("1\r\n2 3\r\n")
            << QByteArray("#\r\n2 #\r\n") << true;
    }

    void multiLineTextsFromFiles()
    {
        QFETCH(QByteArray, findBytes);
        QFETCH(QByteArray, withBytes);
        QFETCH(bool, trim);
        QFETCH(bool, exact);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        QFETCH(bool, regex);
        QTemporaryDir dir;
        writeFile(dir.filePath("find.in"), findBytes);
        writeFile(dir.filePath("with.in"), withBytes);
        writeFile(dir.filePath("page.html"), content);
        QStringList args = {"replace",
                            "-c",
                            "--find-file",
                            dir.filePath("find.in"),
                            "--with-file",
                            dir.filePath("with.in"),
                            dir.filePath("page.html")};
        if (trim)
            args << "-t";
        if (exact)
            args << "--exact-breaks";
        if (regex)
            args << "--regex";
        const CliOutcome o = runCli(args, dir.path());
        QCOMPARE(o.out, QString(expected == content ? "page.html:  not found\n" : "page.html:  replaced\n"));
        QCOMPARE(readFile(dir.filePath("page.html")), expected);
    }

    // A mistake on the command line is status 2 with a message that says
    // what is wrong, and no file is touched.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QStringList() << "no command given";
        QTest::newRow("unknown command") << QStringList{"frobnicate", "a.txt"} << "unknown command 'frobnicate'";
        QTest::newRow("option before command") << QStringList{"--find", "x"} << "comes first";
        QTest::newRow("no find") << QStringList{"replace", "-w", "y", "@"} << "no find text";
        QTest::newRow("no with") << QStringList{"replace", "-f", "hello", "@"} << "no replacement";
        QTest::newRow("no files") << QStringList{"replace", "-f", "hello", "-w", "y"} << "no files given";
        QTest::newRow("unknown option") << QStringList{"replace", "-f", "x", "-w", "y", "--bogus", "@"}
                                        << "unknown option --bogus";
        QTest::newRow("unknown short") << QStringList{"replace", "-f", "x", "-w", "y", "-cz", "@"}
                                       << "unknown option -z";
        QTest::newRow("twice") << QStringList{"replace", "-f", "x", "--find", "z", "-w", "y", "@"}
                               << "--find is given twice";
        QTest::newRow("text and file") << QStringList{"replace", "-f", "x", "-F", "@", "-w", "y", "@"} << "not both";
        QTest::newRow("unreadable find file") << QStringList{"replace", "-F", "/nonexistent/f", "-w", "y", "@"}
                                              << "cannot read --find-file /nonexistent/f: No such file";
        QTest::newRow("replace option on restore")
            << QStringList{"restore", "--backup", "@"} << "restore has no option --backup";
        QTest::newRow("exact breaks on restore")
            << QStringList{"restore", "--exact-breaks", "@"} << "restore has no option --exact-breaks";
        QTest::newRow("missing value") << QStringList{"replace", "-w", "y", "@", "--find"} << "--find needs a value";
        QTest::newRow("bad sync") << QStringList{"replace", "-f", "x", "-w", "y", "--sync", "later", "@"}
                                  << "--sync takes end or each";
        QTest::newRow("value on a flag") << QStringList{"replace", "-f", "x", "-w", "y", "--backup=yes", "@"}
                                         << "--backup takes no value";
        QTest::newRow("both from stdin") << QStringList{"replace", "-F", "-", "-W", "-", "@"}
                                         << "standard input can give only one";
        QTest::newRow("regex that does not compile") << QStringList{"replace", "-e", "-f", "a(b", "-w", "y", "@"}
                                                     << "cannot be used (at offset 3): missing closing parenthesis";
        QTest::newRow("regex, unknown group") << QStringList{"replace", "--regex", "-f", "(?<x>l+)", "-w", "a${y}", "@"}
                                              << "(at offset 1): the replacement refers to group \"y\"";
        QTest::newRow("regex, group past the last") << QStringList{"replace", "-e", "-f", "(l)", "-w", "$2", "@"}
                                                    << "group \"2\", which the pattern does not have";
    }

    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString file = dir.filePath("a.txt");
        writeFile(file, "x hello");
        args.replaceInStrings("@", file);
        const CliOutcome o = runCli(args, dir.path());
        QCOMPARE(o.status, 2);
        QVERIFY2(o.err.startsWith("vexalo4-cli: ") && o.err.contains(message), qPrintable(o.err));
        QVERIFY(o.err.contains("--help"));
        QCOMPARE(o.out, QString());
        QCOMPARE(snapshot(dir.path()), (QMap<QString, QByteArray>{{"a.txt", "x hello"}}));
    }

    // undo takes back the last replace run: only the files that still hold
    // what it wrote, and only once. A preview and --no-journal keep nothing.
    void undoCommand()
    {
        QTemporaryDir dir;
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        // A state folder that does not exist is not used: it is made here.
        QVERIFY(QDir().mkpath(dir.filePath("state")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")));
        const auto restoreEnvironment = qScopeGuard([&] { qputenv("XDG_STATE_HOME", savedState); });
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            writeFile(data + '/' + name, "x hello y\n");
        const QStringList replace{"replace", "-f", "hello", "-w", "bye"};
        QCOMPARE(runCli({"undo", "--list"}, dir.path()).out, QString());
        QCOMPARE(runCli(replace + pathsIn(data, {"a.txt", "b.txt"}), dir.path()).status, 0);
        QCOMPARE(runCli(replace + QStringList{"-n"} + pathsIn(data, {"c.txt"}), dir.path()).status, 0);
        QCOMPARE(runCli(replace + QStringList{"--no-journal"} + pathsIn(data, {"c.txt"}), dir.path()).status, 0);
        const CliOutcome list = runCli({"undo", "--list"}, dir.path());
        QCOMPARE(list.status, 0);
        QVERIFY2(list.out.contains(
                     QRegularExpression("^run 1  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  2 files kept  "
                                        + QRegularExpression::escape(data) + "\n    kept in "
                                        + QRegularExpression::escape(dir.filePath("state/Vexalo/journal")) + "\n$")),
                 qPrintable(list.out));

        writeFile(data + "/b.txt", "x bye y\nand more\n");
        const CliOutcome undo = runCli({"undo"}, dir.path());
        QCOMPARE(undo.status, 1);
        QCOMPARE(undo.out,
                 QString("a.txt:  restored\n"
                         "b.txt:  failed: it was changed since the run; it was left as it is\n"));
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("x hello y\n"));
        QCOMPARE(readFile(data + "/b.txt"), QByteArray("x bye y\nand more\n"));
        QCOMPARE(readFile(data + "/c.txt"), QByteArray("x bye y\n"));

        // A run that can be undone whole: once, and then no more.
        writeFile(data + "/c.txt", "x hello y\n");
        QCOMPARE(runCli(replace + pathsIn(data, {"c.txt"}), dir.path()).status, 0);
        const CliOutcome whole = runCli({"undo", "--paths"}, dir.path());
        QCOMPARE(whole.status, 0);
        QCOMPARE(whole.out, data + "/c.txt:  restored\n");
        QCOMPARE(readFile(data + "/c.txt"), QByteArray("x hello y\n"));
        const CliOutcome again = runCli({"undo"}, dir.path());
        QCOMPARE(again.status, 1);
        QCOMPARE(again.out, QString());
        QVERIFY2(again.err.contains("undone already"), qPrintable(again.err));
        QCOMPARE(readFile(data + "/b.txt"), QByteArray("x bye y\nand more\n"));
    }

    // The journal of a run started as another user, or as root with a
    // user's environment, through setpriv as a user's shell would start it.
    // A user who may not write to the top folder of the files' volume keeps
    // copies in the home journal, and Undo gives the file back. Root never
    // makes its journal in a user's tree, however XDG_STATE_HOME leads
    // there, and says once that it keeps the journal in its own place.
    void journalAsAnotherUser_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("user, top folder of the files' volume not theirs to write to") << "read-only top";
        QTest::newRow("root, XDG_STATE_HOME not made yet in a user's home") << "state not made";
        QTest::newRow("root, a user's state folder whose Vexalo folder is a link") << "linked Vexalo";
    }

    void journalAsAnotherUser()
    {
        QFETCH(QString, setup);
        if (::geteuid() != 0)
            QSKIP("only root can run the command line as another user, and mount a tmpfs");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is missing");
        const uid_t user = 12345;
        QTemporaryDir dir;
        // The other user must reach their own folders below the test's.
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        const QString userHome = dir.filePath("home");
        QVERIFY(QDir().mkpath(userHome + "/.local/state"));
        QVERIFY(QDir().mkpath(userHome + "/.local/state-own"));
        const QString elsewhere = userHome + "/elsewhere";
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::link(elsewhere, userHome + "/.local/state/Vexalo"));
        QVERIFY(chownTree(userHome, user));
        const QStringList userTree = treeOf(userHome);

        QString data = dir.filePath("rootdata");
        QMap<QString, QString> env;
        uid_t as = 0;
        QString journal;
        QByteArray topNative;
        const auto unmount = qScopeGuard([&] {
            if (!topNative.isEmpty())
                ::umount2(topNative.constData(), MNT_DETACH);
        });
        if (setup == "read-only top") {
            if (!othersMayRun(VEXALO_CLI_PATH))
                QSKIP("the command line was built where another user cannot start it");
            const QString top = dir.filePath("volume");
            QVERIFY(QDir().mkpath(top));
            if (::mount("tmpfs", QFile::encodeName(top).constData(), "tmpfs", 0, "mode=0755") != 0)
                QSKIP("a tmpfs cannot be mounted here");
            topNative = QFile::encodeName(top);
            data = top + "/data";
            QVERIFY(QDir().mkpath(data));
            as = user;
            env = {{"HOME", userHome}, {"XDG_STATE_HOME", userHome + "/.local/state-own"}};
            journal = userHome + "/.local/state-own/Vexalo/journal";
        } else {
            // As sudo leaves it: HOME root's own (here a folder of the test's,
            // so that the real one is never touched), the rest the user's.
            const QString rootHome = dir.filePath("roothome");
            QVERIFY(QDir().mkpath(rootHome));
            QCOMPARE(::chmod(QFile::encodeName(rootHome).constData(), 0700), 0);
            QVERIFY(QDir().mkpath(data));
            env = {{"HOME", rootHome},
                   {"XDG_STATE_HOME", userHome + (setup == "state not made" ? "/.local/state-x" : "/.local/state")}};
            journal = rootHome + "/.local/state/Vexalo/journal";
        }
        writeFile(data + "/a.txt", "x hello y\n");
        QVERIFY(chownTree(data, as));

        const CliOutcome ran = runAs(as, {"replace", "-f", "hello", "-w", "bye", data + "/a.txt"}, env);
        QCOMPARE(ran.out, QString("a.txt:  replaced\n"));
        QCOMPARE(ran.status, 0);
        if (as == 0) {
            QCOMPARE(ran.err.count("XDG_STATE_HOME is not used for the journal"), 1);
            QVERIFY2(ran.err.contains(journal), qPrintable(ran.err));
        } else {
            QCOMPARE(ran.err, QString());
            // Nothing at the top: the old content is copied into the home journal.
            QCOMPARE(QDir(dir.filePath("volume")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList({"data"}));
        }
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("x bye y\n"));
        // Root made nothing in the user's tree, nor through the link.
        if (as == 0)
            QCOMPARE(treeOf(userHome), userTree);

        const CliOutcome list = runAs(as, {"undo", "--list"}, env);
        QCOMPARE(list.status, 0);
        QVERIFY2(list.out.startsWith("run 1  ")
                     && list.out.endsWith("  1 file kept  " + data + "\n    kept in " + journal + "\n"),
                 qPrintable(list.out + list.err));
        const CliOutcome undo = runAs(as, {"undo"}, env);
        QCOMPARE(undo.out, QString("a.txt:  restored\n"));
        QCOMPARE(undo.status, 0);
        QCOMPARE(readFile(data + "/a.txt"), QByteArray("x hello y\n"));
        QCOMPARE(uint(QFileInfo(data + "/a.txt").ownerId()), uint(as));
        if (as == 0)
            QCOMPARE(treeOf(userHome), userTree);
    }

    // Status 1 when any file failed; the other files are still done.
    void exitStatus()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.txt"), "hello");
        writeFile(dir.filePath("locked.txt"), "hello");
        writeFile(dir.filePath("b.txt"), "nothing");
        ::chmod(QFile::encodeName(dir.filePath("locked.txt")).constData(), 0444);
        const QStringList files = pathsIn(dir.path(), {"a.txt", "missing.txt", "locked.txt", "b.txt"});

        const CliOutcome o = runCli(QStringList{"replace", "-f", "hello", "-w", "bye"} + files, dir.path());
        QCOMPARE(o.status, 1);
        const QStringList lines = o.out.split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QString("a.txt:  replaced"));
        QVERIFY(lines[1].startsWith("missing.txt:  failed: No such file"));
        QCOMPARE(lines[2], QString("locked.txt:  failed: the file is read-only"));
        QCOMPARE(lines[3], QString("b.txt:  not found"));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("bye"));
        QCOMPARE(readFile(dir.filePath("locked.txt")), QByteArray("hello"));

        // --quiet keeps only the failures (the read-only file no longer
        // holds the text, so it is not found rather than refused).
        const CliOutcome q = runCli(QStringList{"replace", "-q", "-f", "bye", "-w", "hi"} + files, dir.path());
        QCOMPARE(q.status, 1);
        QCOMPARE(q.out.count('\n'), 1);
        QVERIFY(q.out.startsWith("missing.txt:  failed"));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("hi"));

        // A file named in a folder that does not exist only fails; the run
        // must not also complain that it could not sync that folder.
        const CliOutcome gone = runCli(
            {"replace", "-f", "hi", "-w", "yo", dir.filePath("a.txt"), dir.filePath("nowhere/x.txt")}, dir.path());
        QCOMPARE(gone.status, 1);
        QCOMPARE(gone.out, QString("a.txt:  replaced\nx.txt:  failed: No such file or directory\n"));
        QCOMPARE(gone.err, QString());

        // Not found and not restored are outcomes, not failures.
        const QStringList fine = pathsIn(dir.path(), {"a.txt", "b.txt"});
        QCOMPARE(runCli(QStringList{"replace", "-f", "zzz", "-w", "y"} + fine, dir.path()).status, 0);
        QCOMPARE(runCli(QStringList{"restore"} + fine, dir.path()).status, 0);
    }

    // Arguments are bytes: a name that is not UTF-8 names exactly its own
    // file, and a text that is not UTF-8 is Latin-1, as a --find-file text is.
    // Read through U+FFFD, the three look-alike names were one file rewritten
    // three times, and the texts matched nothing.
    void argumentsAreBytes()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const RawTreeRemover remover{folder};
        writeLookalikes(folder);
        RawOutcome o =
            runRaw(QByteArrayList{"replace", "-b", "-c", "-f", "alpha", "-w", "alpha2"} + lookalikeNames(), folder);
        QCOMPARE(o.err, QByteArray());
        QCOMPARE(o.out,
                 QByteArray("caf\\xE9.txt:  replaced\ncaf\\xE8.txt:  replaced\ncaf\xef\xbf\xbd.txt:  replaced\n"));
        QCOMPARE(o.status, 0);
        for (const QByteArray &name : lookalikeNames()) {
            QCOMPARE(readRawFile(folder + '/' + name), "alpha2" + lookalikeText(name).mid(5));
            QCOMPARE(readRawFile(folder + '/' + name + ".old"), lookalikeText(name));
        }
        QCOMPARE(rawEntries(folder).size(), 6);

        // A name holding a line break is still one line: read raw, it forged
        // a failure of x.txt and a line of a y.txt that is not there.
        const QByteArray forged = "x.txt:  failed: forged\ny.txt";
        writeRawFile(folder + '/' + forged, "nothing to find");
        o = runRaw({"replace", "-f", "alpha", "-w", "beta", forged}, folder);
        QCOMPARE(o.out, QByteArray("x.txt:  failed: forged\\ny.txt:  not found\n"));
        QVERIFY(QFile::remove(QFile::decodeName(folder + '/' + forged)));

        writeRawFile(folder + "/latin.txt", "un caf\xe9 noir, \xe0 emporter");
        writeRawFile(folder + "/utf8.txt", "un caf\xc3\xa9 noir");
        writeRawFile(folder + "/with\xe9.in", "cafe");
        o = runRaw({"replace", "-c", "-f", "caf\xe9", "-W", "with\xe9.in", "latin.txt", "utf8.txt"}, folder);
        QCOMPARE(o.out, QByteArray("latin.txt:  replaced\nutf8.txt:  replaced\n"));
        QCOMPARE(readRawFile(folder + "/latin.txt"), QByteArray("un cafe noir, \xe0 emporter"));
        QCOMPARE(readRawFile(folder + "/utf8.txt"), QByteArray("un cafe noir"));
        // An argument is no file: bytes that look like a UTF-16 mark and
        // text stay Latin-1 characters.
        writeRawFile(folder + "/marks.txt",
                     "x \xff\xfe"
                     "ab y");
        o = runRaw({"replace", "-c", "-f",
                    "\xff\xfe"
                    "ab",
                    "-w", "z", "marks.txt"},
                   folder);
        QCOMPARE(o.out, QByteArray("marks.txt:  replaced\n"));
        QCOMPARE(readRawFile(folder + "/marks.txt"), QByteArray("x z y"));
        o = runRaw({"replace", "-c", "-f", "noir", "-w", "n\xf6ir", "latin.txt", "utf8.txt"}, folder);
        QCOMPARE(o.out, QByteArray("latin.txt:  replaced\nutf8.txt:  replaced\n"));
        QCOMPARE(readRawFile(folder + "/latin.txt"), QByteArray("un cafe n\xf6ir, \xe0 emporter"));
        QCOMPARE(readRawFile(folder + "/utf8.txt"), QByteArray("un cafe n\xc3\xb6ir"));

        // The program folder is found by its bytes too: its exception.txt is
        // read, not silently replaced by the default list.
        const QByteArray bin = folder + "/bin\xe9";
        QCOMPARE(::mkdir(bin.constData(), 0755), 0);
        writeRawFile(bin + "/vexalo4-cli", readRawFile(VEXALO_CLI_PATH));
        QCOMPARE(::chmod((bin + "/vexalo4-cli").constData(), 0755), 0);
        writeRawFile(bin + "/exception.txt", ".txt");
        o = runRaw({"replace", "-f", "cafe", "-w", "tea", "latin.txt"}, folder, bin + "/vexalo4-cli");
        QCOMPARE(o.out, QByteArray("latin.txt:  protected file\n"));

        // A message that quotes an argument shows its bytes readably.
        o = runRaw({"replace", "-w", "y", "-F", "gone\xe9", "latin.txt"}, folder);
        QCOMPARE(o.status, 2);
        QVERIFY2(o.err.contains("cannot read --find-file gone\\xE9: No such file"), o.err.constData());
    }

    // A stop is heeded between folders as well as between the files of one
    // folder, however few files each folder holds: what was done is
    // reported, then the stopped note, and the status is 130.
    void stopBetweenFolders_data()
    {
        QTest::addColumn<int>("perFolder");
        QTest::addColumn<int>("signal"); // 0: asked in this process
        QTest::newRow("one file per folder") << 1 << 0;
        QTest::newRow("two files per folder") << 2 << 0;
        QTest::newRow("Ctrl-C, one file per folder") << 1 << int(SIGINT);
        QTest::newRow("SIGTERM, one file per folder") << 1 << int(SIGTERM);
    }

    void stopBetweenFolders()
    {
        QFETCH(int, perFolder);
        QFETCH(int, signal);
        QTemporaryDir dir;
        // Enough folders that the signal, sent once the first file is done,
        // always comes before the last; each costs a folder and a file to make.
        const int folders = signal ? 800 : 40;
        QStringList files;
        for (int f = 0; f < folders; ++f) {
            const QString folder = dir.filePath(QStringLiteral("d%1").arg(f, 4, 10, QLatin1Char('0')));
            QDir().mkpath(folder);
            for (int n = 0; n < perFolder; ++n) {
                files << folder + QStringLiteral("/readme%1.txt").arg(n);
                writeFile(files.last(), "hello");
            }
        }
        const QStringList args = QStringList{"replace", "-f", "hello", "-w", "bye"} + files;
        auto firstDone = [&] { return readFile(files.first()) == "bye"; };

        CliOutcome o;
        if (!signal) {
            QBuffer out;
            QBuffer err;
            out.open(QIODevice::WriteOnly);
            err.open(QIODevice::WriteOnly);
            cli::CliStreams streams;
            streams.out = &out;
            streams.err = &err;
            streams.stopRequested = firstDone;
            o.status = cli::runCommandLine(args, dir.path(), streams);
            o.out = QString::fromUtf8(out.data());
            o.err = QString::fromUtf8(err.data());
        } else {
            QProcess p;
            p.start(VEXALO_CLI_PATH, args);
            QVERIFY(p.waitForStarted());
            QElapsedTimer waited;
            waited.start();
            while (!firstDone() && waited.elapsed() < 30000)
                QThread::usleep(100);
            QVERIFY(::kill(pid_t(p.processId()), signal) == 0);
            QElapsedTimer stopping;
            stopping.start();
            QVERIFY(p.waitForFinished(30000));
            QVERIFY2(stopping.elapsed() < 5000, qPrintable(QString::number(stopping.elapsed())));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            o.status = p.exitCode();
            o.out = QString::fromUtf8(p.readAllStandardOutput());
            o.err = QString::fromUtf8(p.readAllStandardError());
        }
        QCOMPARE(o.status, 130);
        const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.size() < files.size(), qPrintable(QString::number(lines.size())));
        // Asked in this process, the stop is seen by the first folder's
        // end at the latest.
        if (!signal)
            QVERIFY(lines.size() <= perFolder);
        for (const QString &line : lines)
            QVERIFY2(line.endsWith(":  replaced"), qPrintable(line));
        QCOMPARE(o.err.trimmed(),
                 QStringLiteral("vexalo4-cli: stopped: %1 of %2 files were not processed")
                     .arg(files.size() - lines.size())
                     .arg(files.size()));
        // What was reported is exactly what was changed.
        for (qsizetype i = 0; i < files.size(); ++i)
            QCOMPARE(readFile(files.at(i)), QByteArray(i < lines.size() ? "bye" : "hello"));
    }

    // --dry-run: the engine's preview lines and its summary, nothing written,
    // and the status the replace then has.
    void dryRun()
    {
        QTemporaryDir dir;
        const QStringList names = fillSampleFolder(dir.path());
        writeFile(dir.filePath("locked.txt"), "hello");
        ::chmod(QFile::encodeName(dir.filePath("locked.txt")).constData(), 0444);
        writeFile(dir.filePath("a.txt.old"), "an older backup");
        ReplaceJob job;
        job.folder = FilePath::fromString(dir.path());
        job.names = FilePath::fromStrings(names);
        job.findText = "hello";
        job.replaceText = "bye";
        job.makeBackups = true;
        job.protectedExtensions = defaultProtectedExtensions();
        job.preview = true;
        const QList<FileResult> expected = runReplace(job).results;
        QStringList expectedLines;
        for (const FileResult &r : expected)
            expectedLines << logLine(r);
        QVERIFY(expectedLines.contains("a.txt:  4 matches"));
        const QString summary = previewSummary(expected);

        const QStringList before = fullListing(dir.path());
        const QStringList args{"replace", "-f", "hello", "-w", "bye", "-b"};
        const CliOutcome o = runCli(args + QStringList{"--dry-run"} + pathsIn(dir.path(), names), dir.path());
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out, expectedLines.join('\n') + '\n' + summary + '\n');
        QCOMPARE(o.err, QString());

        const CliOutcome quiet = runCli(args + QStringList{"-nq"} + pathsIn(dir.path(), names), dir.path());
        QCOMPARE(quiet.status, 0);
        QCOMPARE(quiet.out, summary + '\n');

        // A file a replace would fail on fails the preview too.
        const CliOutcome failing =
            runCli(args + QStringList{"-qn"} + pathsIn(dir.path(), {"a.txt", "locked.txt", "gone.txt"}), dir.path());
        QCOMPARE(failing.status, 1);
        QCOMPARE(failing.out,
                 QString("Preview: 3 files, 1 with matches, 4 matches in all, 2 would fail; nothing was written\n"));
        QCOMPARE(fullListing(dir.path()), before);

        // The files the preview counted matches in are the ones replaced.
        const CliOutcome real = runCli(args + pathsIn(dir.path(), names), dir.path());
        QCOMPARE(real.status, 0);
        const QStringList realLines = real.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(realLines.size(), expectedLines.size());
        for (qsizetype i = 0; i < realLines.size(); ++i) {
            const bool counted = expectedLines[i].contains(QRegularExpression(":  \\d+ match(es)?$"));
            QCOMPARE(realLines[i].endsWith(":  replaced"), counted);
        }
        QCOMPARE(runCli({"restore", "--dry-run", dir.filePath("a.txt")}, dir.path()).status, 2);
    }

    void protectedList()
    {
        QTemporaryDir programFolder;
        QTemporaryDir dir;
        const QStringList files = pathsIn(dir.path(), {"a.txt", "b.exe"});
        auto run = [&](const QStringList &extra) {
            writeFile(dir.filePath("a.txt"), "hello");
            writeFile(dir.filePath("b.exe"), "hello");
            return runCli(QStringList{"replace", "-f", "hello", "-w", "bye"} + extra + files, programFolder.path()).out;
        };
        QCOMPARE(run({}), QString("a.txt:  replaced\nb.exe:  protected file\n"));
        writeFile(programFolder.filePath("exception.txt"), ".txt .htm\r\n.exe\r\n");
        QCOMPARE(run({}), QString("a.txt:  protected file\nb.exe:  replaced\n"));
        QCOMPARE(run({"--protect", ".exe"}), QString("a.txt:  replaced\nb.exe:  protected file\n"));
        QCOMPARE(run({"--protect="}), QString("a.txt:  replaced\nb.exe:  replaced\n"));
        // Entries in capitals protect as lower-case ones do.
        QCOMPARE(run({"--protect", ".JPG .EXE"}), QString("a.txt:  replaced\nb.exe:  protected file\n"));
        writeFile(programFolder.filePath("exception.txt"), ".TXT\r\n");
        QCOMPARE(run({}), QString("a.txt:  protected file\nb.exe:  replaced\n"));
    }

    // What only the real executable shows: the program folder is its own
    // folder, statuses reach the shell, names are relative to the working
    // folder, and nothing but the lines appears when the output is piped.
    void realExecutable()
    {
        QTemporaryDir dir;
        const QString exe = dir.filePath("bin/vexalo4-cli");
        QDir(dir.path()).mkpath("bin");
        QDir(dir.path()).mkpath("work/sub");
        QVERIFY(QFile::copy(VEXALO_CLI_PATH, exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        writeFile(dir.filePath("bin/exception.txt"), ".htm");
        writeFile(dir.filePath("work/a.txt"), "hello");
        writeFile(dir.filePath("work/sub/page.htm"), "hello");

        auto run = [&](const QStringList &args) {
            QProcess p;
            p.setWorkingDirectory(dir.filePath("work"));
            p.start(exe, args);
            p.waitForFinished(30000);
            return std::tuple{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                              QString::fromUtf8(p.readAllStandardError())};
        };
        auto [status, out, err] = run({"--version"});
        QCOMPARE(status, 0);
        QCOMPARE(out, QString("vexalo4-cli 4.1.27\n"));

        std::tie(status, out, err) = run({"replace", "-f", "hello", "-w", "bye", "a.txt", "sub/page.htm", "gone.txt"});
        QCOMPARE(status, 1);
        QCOMPARE(
            out,
            QString("a.txt:  replaced\npage.htm:  protected file\ngone.txt:  failed: No such file or directory\n"));
        QCOMPARE(err, QString());
        QCOMPARE(readFile(dir.filePath("work/a.txt")), QByteArray("bye"));

        std::tie(status, out, err) = run({"replace", "a.txt"});
        QCOMPARE(status, 2);
        QCOMPARE(out, QString());
        QVERIFY(err.contains("no find text"));

        std::tie(status, out, err) = run({"--help"});
        QCOMPARE(status, 0);
        QVERIFY(out.contains("vexalo4-cli replace --find TEXT --with TEXT"));
        QVERIFY(out.contains("Exit status"));

        // Results that cannot be written (a full disk) are a failure, said on
        // standard error, though the files were done.
        auto runToFull = [&](const QStringList &args) {
            QProcess p;
            p.setWorkingDirectory(dir.filePath("work"));
            p.setStandardOutputFile("/dev/full");
            p.start(exe, args);
            p.waitForFinished(30000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
        };
        if (QFileInfo("/dev/full").isWritable()) {
            writeFile(dir.filePath("work/a.txt"), "hello");
            std::tie(status, err) = runToFull({"replace", "-f", "hello", "-w", "bye", "a.txt"});
            QCOMPARE(status, 1);
            QVERIFY2(err.contains("could not be written") && err.contains(QString::fromLocal8Bit(strerror(ENOSPC))),
                     qPrintable(err));
            QCOMPARE(readFile(dir.filePath("work/a.txt")), QByteArray("bye"));
            std::tie(status, err) = runToFull({"--version"});
            QCOMPARE(status, 1);
            QVERIFY2(err.contains("could not be written"), qPrintable(err));
        }

        // Without a list beside the program, the user's configuration
        // folder holds it ($XDG_CONFIG_HOME/Vexalo), before the system's.
        QVERIFY(QFile::remove(dir.filePath("bin/exception.txt")));
        QDir(dir.path()).mkpath("config/Vexalo");
        writeFile(dir.filePath("config/Vexalo/exception.txt"), ".txt\r\n");
        writeFile(dir.filePath("work/a.txt"), "hello");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.filePath("work"));
        p.start(exe, {"replace", "-f", "hello", "-w", "bye", "a.txt", "sub/page.htm"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 QString("a.txt:  protected file\npage.htm:  replaced\n"));
        QCOMPARE(p.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
