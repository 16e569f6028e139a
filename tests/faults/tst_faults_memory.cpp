// SPDX-License-Identifier: MIT
// A run under a memory limit far below the size of its files, as a desktop
// session's slice or a container gives it: a file that does not fit must
// still be replaced, and the run must go on to report every file, not be
// killed with nothing said.
#include "FaultTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace faults;

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.flush();
}

// A memory control group of the test's own, removed when this goes away:
// cgroup v2 (memory.max), v1 (memory.limit_in_bytes), or a systemd scope
// where neither can be written directly.
class MemoryLimit {
public:
    explicit MemoryLimit(qint64 bytes)
    {
        QFile mounts("/proc/mounts");
        if (!mounts.open(QIODevice::ReadOnly)) {
            m_reason = "/proc/mounts cannot be read";
            return;
        }
        QStringList v1;
        QStringList v2;
        for (const QByteArray &line : mounts.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() < 4)
                continue;
            if (f[2] == "cgroup2")
                v2 << QString::fromUtf8(f[1]);
            else if (f[2] == "cgroup" && f[3].split(',').contains("memory"))
                v1 << QString::fromUtf8(f[1]);
        }
        const QString name = QString("vexalo-test-%1").arg(::getpid());
        QStringList tried;
        for (const QString &root : v2) {
            QFile controllers(root + "/cgroup.controllers");
            if (!controllers.open(QIODevice::ReadOnly) || !controllers.readAll().split(' ').contains("memory"))
                continue;
            QFile subtree(root + "/cgroup.subtree_control");
            if (subtree.open(QIODevice::ReadOnly) && !subtree.readAll().trimmed().split(' ').contains("memory"))
                writeText(root + "/cgroup.subtree_control", "+memory");
            if (make(root + '/' + name, "memory.max", bytes)) {
                writeText(m_group + "/memory.swap.max", "0");
                return;
            }
            tried << root;
        }
        for (const QString &root : v1) {
            if (make(root + '/' + name, "memory.limit_in_bytes", bytes)) {
                // Where swap is counted too, none of it: a run that needs
                // the memory must not be let off by swapping.
                if (QFile::exists(m_group + "/memory.memsw.limit_in_bytes"))
                    writeText(m_group + "/memory.memsw.limit_in_bytes", QByteArray::number(bytes));
                return;
            }
            tried << root;
        }
        const QString systemdRun = QStandardPaths::findExecutable("systemd-run");
        if (!systemdRun.isEmpty() && QFileInfo::exists("/run/systemd/system")) {
            m_prefix = QStringList{systemdRun, "--scope",         "--quiet", "-p", QString("MemoryMax=%1").arg(bytes),
                                   "-p",       "MemorySwapMax=0", "--"};
            return;
        }
        m_reason = tried.isEmpty() ? QString("no memory control group and no systemd to make one")
                                   : "no memory control group could be made under " + tried.join(", ");
    }

    ~MemoryLimit()
    {
        if (m_group.isEmpty())
            return;
        // The group empties as its process ends; the kernel may take a moment.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (::rmdir(QFile::encodeName(m_group).constData()) == 0 || errno == ENOENT)
                return;
            QThread::msleep(100);
        }
        qWarning("the control group %s could not be removed", qPrintable(m_group));
    }

    bool ok() const { return m_reason.isEmpty(); }
    QString reason() const { return m_reason; }

    // The program and arguments that run a command inside the limit.
    QStringList wrap(const QStringList &command) const
    {
        if (!m_group.isEmpty())
            return QStringList{"/bin/sh", "-c", "echo $$ > \"$0\" && exec \"$@\"", m_group + "/cgroup.procs"} + command;
        return m_prefix + command;
    }

private:
    bool make(const QString &group, const char *limitFile, qint64 bytes)
    {
        if (::mkdir(QFile::encodeName(group).constData(), 0755) != 0)
            return false;
        if (!writeText(group + '/' + limitFile, QByteArray::number(bytes))) {
            ::rmdir(QFile::encodeName(group).constData());
            return false;
        }
        m_group = group;
        return true;
    }

    QString m_group;
    QStringList m_prefix;
    QString m_reason;
};

// A piece of text with "alpha" in it now and then, of an odd size so that
// the pieces and the program's blocks never line up.
QByteArray piece(const QByteArray &word)
{
    QByteArray text;
    for (int i = 0; text.size() < 1024 * 1024; ++i)
        text += "line " + QByteArray::number(i) + " of a large log, " + (i % 37 == 0 ? word : "beta") + " and gamma\n";
    return text + "tail\n";
}

} // namespace

class tst_FaultsMemory : public QObject {
    Q_OBJECT

private slots:
    // A 600 MB file beside a small one, in a group that may hold 300 MiB:
    // both replaced, both reported, exit status 0. The folder is on a disk,
    // not a tmpfs, whose pages the group would be charged for.
    void largeFileUnderAMemoryLimit()
    {
        QTemporaryDir dir(QDir(QCoreApplication::applicationDirPath()).filePath("memory-XXXXXX"));
        QVERIFY(dir.isValid());
        struct statfs fs {};
        QVERIFY(::statfs(QFile::encodeName(dir.path()).constData(), &fs) == 0);
        if (fs.f_type == 0x01021994) // TMPFS_MAGIC
            QSKIP("the build folder is on a tmpfs, whose pages would count against the limit");
        MemoryLimit limit(300LL * 1024 * 1024);
        if (!limit.ok())
            QSKIP(qPrintable(limit.reason()));

        const QByteArray before = piece("alpha");
        const QByteArray after = piece("omega");
        const int pieces = int((600LL * 1000 * 1000) / before.size()) + 1;
        {
            QFile big(dir.filePath("big.txt"));
            QVERIFY(big.open(QIODevice::WriteOnly));
            for (int i = 0; i < pieces; ++i)
                QVERIFY(big.write(before) == before.size());
        }
        writeFile(dir.filePath("small.txt"), "alpha beta");

        const QStringList command =
            limit.wrap({VEXALO_CLI_PATH, "replace", "-f", "alpha", "-w", "omega", "big.txt", "small.txt"});
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(command.first(), command.mid(1));
        QVERIFY2(cli.waitForFinished(300000), "the run did not end within five minutes");
        const QString errors = QString::fromUtf8(cli.readAllStandardError());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QVERIFY2(cli.exitCode() == 0, qPrintable(QString("exit %1: %2").arg(cli.exitCode()).arg(errors)));
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), QString("big.txt:  replaced\nsmall.txt:  replaced\n"));

        QCOMPARE(readFile(dir.filePath("small.txt")), QByteArray("omega beta"));
        QFile big(dir.filePath("big.txt"));
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(big.size(), qint64(pieces) * after.size());
        for (int i = 0; i < pieces; ++i) {
            if (big.read(after.size()) != after)
                QFAIL(qPrintable(QString("piece %1 of big.txt is not as replaced").arg(i)));
        }
        QCOMPARE(allEntries(dir.path()), QStringList({"big.txt", "small.txt"}));
    }
};

QTEST_GUILESS_MAIN(tst_FaultsMemory)
#include "tst_faults_memory.moc"
