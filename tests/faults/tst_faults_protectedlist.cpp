// SPDX-License-Identifier: MIT
// An "exception.txt" that is there but cannot be read holds the user's own
// protection (".htm .cfg", say); falling back on the default list would hand
// those files to the run. So a Replace refuses to start, naming the file and
// the reason, and touches nothing: the command line with exit status 2, the
// window with a message. Root reads every file, so as root (as in CI) the
// program runs as another user through setpriv; as an ordinary user the file
// is simply made unreadable.
#include "FaultTools.h"

#include "tests/ui/FakeServices.h"
#include "ui/frmMain/frmMain.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace faults;

namespace {

constexpr uid_t nobody = 65534;

QStringList asNobody()
{
    return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

bool isRoot()
{
    return ::geteuid() == 0;
}

void giveToNobody(const QString &path)
{
    if (isRoot())
        QVERIFY(::chown(QFile::encodeName(path).constData(), nobody, nobody) == 0);
}

// The list of the user who runs the program: unreadable to that user.
void lockList(const QString &file)
{
    // As root the file stays root's own, which the other user may not read.
    chmodPath(file, isRoot() ? 0600 : 0000);
}

QString permissionDenied()
{
    return QString::fromLocal8Bit(std::strerror(EACCES));
}

} // namespace

class tst_FaultsProtectedList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (isRoot() && QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed; root reads every file");
    }

    void commandLineRefuses()
    {
        QTemporaryDir top;
        chmodPath(top.path(), 0755);
        const QString bin = top.filePath("bin");
        const QString work = top.filePath("work");
        QVERIFY(QDir().mkdir(bin) && QDir().mkdir(work));
        chmodPath(bin, 0755);
        giveToNobody(work);
        const QString exe = bin + "/vexalo4-cli";
        QVERIFY(QFile::copy(VEXALO_CLI_PATH, exe));
        chmodPath(exe, 0755);
        const QString list = bin + "/exception.txt";
        writeFile(list, ".htm .cfg\r\n");
        lockList(list);
        // Under the default list these would be replaced at once.
        for (const QString name : {"a.htm", "b.cfg"}) {
            writeFile(work + '/' + name, "alpha");
            giveToNobody(work + '/' + name);
        }

        auto run = [&](const QStringList &arguments) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", top.filePath("config"));
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(work);
            const QStringList command = (isRoot() ? asNobody() : QStringList()) + QStringList{exe} + arguments;
            p.start(command.first(), command.mid(1));
            p.waitForFinished(30000);
            return std::tuple{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                              QString::fromUtf8(p.readAllStandardError())};
        };

        auto [status, out, err] = run({"replace", "-b", "-f", "alpha", "-w", "omega", "a.htm", "b.cfg"});
        QCOMPARE(status, 2);
        QCOMPARE(out, QString());
        QVERIFY2(err.contains(list) && err.contains(permissionDenied()), qPrintable(err));
        QCOMPARE(readFile(work + "/a.htm"), QByteArray("alpha"));
        QCOMPARE(readFile(work + "/b.cfg"), QByteArray("alpha"));
        QCOMPARE(allEntries(work), QStringList({"a.htm", "b.cfg"}));

        // A list given on the command line needs no file: the same user may
        // run, so the refusal above was the list's alone.
        std::tie(status, out, err) = run({"replace", "-p", ".cfg", "-f", "alpha", "-w", "omega", "a.htm", "b.cfg"});
        QCOMPARE(status, 0);
        QCOMPARE(out, QString("a.htm:  replaced\nb.cfg:  protected file\n"));
        QCOMPARE(readFile(work + "/a.htm"), QByteArray("omega"));

        // Restore never reads the list.
        std::tie(status, out, err) = run({"restore", "a.htm"});
        QCOMPARE(status, 0);
        QCOMPARE(out, QString("a.htm:  not restored\n"));
    }

    // As root the test runs itself again as the other user, this function
    // alone; that run does the work and must pass.
    void windowRefuses()
    {
        if (isRoot()) {
            QTemporaryDir home;
            chmodPath(home.path(), 0755);
            giveToNobody(home.path());
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", home.path());
            env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
            env.remove("XDG_RUNTIME_DIR");
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.setWorkingDirectory(home.path());
            p.start(asNobody().first(),
                    asNobody().mid(1) + QStringList{QCoreApplication::applicationFilePath(), "windowRefuses"});
            QVERIFY(p.waitForFinished(120000));
            const QString output = QString::fromUtf8(p.readAll());
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(output));
            QVERIFY2(output.contains("PASS   : tst_FaultsProtectedList::windowRefuses"), qPrintable(output));
            return;
        }

        QTemporaryDir dir;
        const QString program = dir.filePath("program");
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkdir(program) && QDir().mkdir(data));
        const QString list = program + "/exception.txt";
        writeFile(list, ".htm .cfg\r\n");
        chmodPath(list, 0000);
        writeFile(data + "/a.htm", "alpha");
        writeFile(data + "/b.htm", "alpha");

        FakeServices fakes;
        fakes.places.program = program;
        fakes.places.working = program;
        frmMain window(fakes.services());
        window.useSettingsFile(dir.filePath("store.ini"));
        window.startUp();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Start-up says nothing, but remembers.
        QVERIFY(fakes.messages.shown.isEmpty());
        QVERIFY2(window.ExceptionListError.contains(list), qPrintable(window.ExceptionListError));
        const QStringList foldersBefore = window.Folders;

        QVERIFY(window.setDir1Path(data, nullptr));
        QTest::mouseClick(window.cmdSelectAll, Qt::LeftButton);
        window.txtFindString->setPlainText("alpha");
        window.txtReplaceString->setPlainText("omega");
        window.chkBackup->setChecked(true);
        window.txtResults->setPlainText("the last run's log");

        auto replaceIsRefused = [&] {
            fakes.messages.shown.clear();
            QTest::mouseClick(window.cmdReplace, Qt::LeftButton);
            QCOMPARE(fakes.messages.shown.size(), 1);
            const MessageRequest &message = fakes.messages.shown.first();
            QVERIFY2(message.text.contains(list) && message.text.contains(permissionDenied()),
                     qPrintable(message.text));
            QCOMPARE(message.icon, MessageRequest::Icon::Critical);
            QCOMPARE(readFile(data + "/a.htm"), QByteArray("alpha"));
            QCOMPARE(readFile(data + "/b.htm"), QByteArray("alpha"));
            QCOMPARE(allEntries(data), QStringList({"a.htm", "b.htm"}));
            QCOMPARE(window.txtResults->toPlainText(), QString("the last run's log"));
            QCOMPARE(window.Folders, foldersBefore);
        };
        replaceIsRefused();
        // A Preview stopped by the same list says Preview, not Replace.
        fakes.messages.shown.clear();
        window.mnuPreview->trigger();
        QCOMPARE(fakes.messages.shown.size(), 1);
        QCOMPARE(fakes.messages.shown.first().title, QString("Preview"));
        QVERIFY2(fakes.messages.shown.first().text.startsWith("Preview did not start: ")
                     && fakes.messages.shown.first().text.contains(list),
                 qPrintable(fakes.messages.shown.first().text));
        QCOMPARE(window.txtResults->toPlainText(), QString("the last run's log"));

        // Mended while the window is open: the user's list is read then, and
        // protects the files it names.
        chmodPath(list, 0644);
        fakes.messages.shown.clear();
        QTest::mouseClick(window.cmdReplace, Qt::LeftButton);
        QVERIFY(fakes.messages.shown.isEmpty());
        QCOMPARE(window.txtResults->toPlainText(), QString("a.htm:  protected file\nb.htm:  protected file"));
        QCOMPARE(window.ExceptionList, QString(".htm .cfg"));

        // Unreadable again: refused again, though the list was read before.
        chmodPath(list, 0000);
        window.txtResults->setPlainText("the last run's log");
        window.Folders = foldersBefore;
        replaceIsRefused();
        chmodPath(list, 0644);
    }
};

QTEST_MAIN(tst_FaultsProtectedList)
#include "tst_faults_protectedlist.moc"
