// SPDX-License-Identifier: MIT
// A full disk, for real: each test mounts a small tmpfs of its own (1 MiB)
// and runs the engine driver on it. Nothing may be lost, no partial file may
// be left, each failure names the file and the reason, and the batch goes on.
#include "FaultTools.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace faults;

namespace {

QByteArray lines(int count, const QByteArray &word)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += word + ' ' + QByteArray::number(i) + '\n';
    return out;
}

// Writes a file until the disk refuses another byte.
bool fillDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'f');
    int err = 0;
    for (size_t chunk : {size_t(4096), size_t(1)}) {
        for (;;) {
            if (::write(fd, block.constData(), chunk) < 0) {
                err = errno;
                break;
            }
        }
    }
    ::close(fd);
    return err == ENOSPC;
}

const char *noSpace = "No space left on device";

} // namespace

class tst_FaultsDiskFull : public QObject {
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    TmpfsMount *m_mount = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString folder() const { return m_dir->path(); }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QByteArray options = "size=1m";
        if (QByteArray(QTest::currentTestFunction()) == "noFreeInodes")
            options = "size=1m,nr_inodes=4";
        m_mount = new TmpfsMount(m_dir->path(), options);
        if (!m_mount->ok())
            QSKIP(qPrintable(m_mount->error()));
    }

    void cleanup()
    {
        delete m_mount; // unmounts before the folder goes
        m_mount = nullptr;
        delete m_dir;
        m_dir = nullptr;
    }

    // The new content would need more room than is free.
    void replacementGrowsPastFreeSpace()
    {
        const QByteArray big = QByteArray(400 * 1024, 'a') + '\n'; // 400 KiB that triples
        writeFile(path("big.txt"), big);
        writeFile(path("small.txt"), "a");
        const DriverRun run = runDriver({"replace", folder(), "a", "aaa", "-", "big.txt", "small.txt"});
        QCOMPARE(run.lines.size(), 2);
        QCOMPARE(run.lines[0], QString("big.txt:  failed: ") + noSpace);
        QCOMPARE(run.lines[1], QString("small.txt:  replaced"));
        QVERIFY(readFile(path("big.txt")) == big);
        QCOMPARE(readFile(path("small.txt")), QByteArray("aaa"));
        QCOMPARE(allEntries(folder()), QStringList({"big.txt", "small.txt"}));
    }

    // Not one byte free before the run starts.
    void diskAlreadyFull()
    {
        writeFile(path("a.txt"), "alpha");
        writeFile(path("b.txt"), "alpha alpha");
        QVERIFY(fillDisk(path("filler")));
        const DriverRun run = runDriver({"replace", folder(), "alpha", "omega", "b", "a.txt", "b.txt"});
        QCOMPARE(run.lines.size(), 2);
        for (const QString &line : run.lines)
            QVERIFY2(line.contains(":  failed: ") && line.contains(noSpace), qPrintable(line));
        QCOMPARE(readFile(path("a.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(path("b.txt")), QByteArray("alpha alpha"));
        QCOMPARE(allEntries(folder()), QStringList({"a.txt", "b.txt", "filler"}));

        // Once there is room again the same run succeeds.
        QVERIFY(QFile::remove(path("filler")));
        const DriverRun again = runDriver({"replace", folder(), "alpha", "omega", "b", "a.txt", "b.txt"});
        QCOMPARE(again.lines, QStringList({"a.txt:  replaced", "b.txt:  replaced"}));
        QCOMPARE(readFile(path("b.txt.old")), QByteArray("alpha alpha"));
    }

    // The backup copy runs out of space: no partial ".old", the older
    // backup as it was, and the file not rewritten.
    void backupRunsOutOfSpace()
    {
        const QByteArray big = lines(60000, "alpha"); // about 700 KiB: two copies do not fit
        writeFile(path("big.txt"), big);
        writeFile(path("big.txt.old"), "an older backup");
        writeFile(path("small.txt"), "alpha");
        const DriverRun run = runDriver({"replace", folder(), "alpha", "omega", "b", "big.txt", "small.txt"});
        QCOMPARE(run.lines.size(), 2);
        QVERIFY2(run.lines[0].startsWith("big.txt:  failed: the backup could not be made")
                     && run.lines[0].endsWith(noSpace),
                 qPrintable(run.lines[0]));
        QVERIFY(readFile(path("big.txt")) == big);
        QCOMPARE(readFile(path("big.txt.old")), QByteArray("an older backup"));
        QCOMPARE(run.lines[1], QString("small.txt:  replaced"));
        QCOMPARE(readFile(path("small.txt.old")), QByteArray("alpha"));
        QCOMPARE(allEntries(folder()), QStringList({"big.txt", "big.txt.old", "small.txt", "small.txt.old"}));
    }

    // Restore needs room for a whole copy of the backup before the file is
    // replaced: without it both stay as they are, and a later Restore works.
    void restoreRunsOutOfSpace()
    {
        const QByteArray backup = lines(34000, "alpha"); // about 400 KiB
        writeFile(path("big.txt"), "the current content");
        writeFile(path("big.txt.old"), backup);
        writeFile(path("filler"), QByteArray(300 * 1024, 'f'));
        const DriverRun run = runDriver({"restore", folder(), "-", "big.txt"});
        QCOMPARE(run.lines, QStringList{QString("big.txt:  failed: ") + noSpace});
        QCOMPARE(readFile(path("big.txt")), QByteArray("the current content"));
        QVERIFY(readFile(path("big.txt.old")) == backup);
        QCOMPARE(allEntries(folder()), QStringList({"big.txt", "big.txt.old", "filler"}));

        QVERIFY(QFile::remove(path("filler")));
        const DriverRun again = runDriver({"restore", folder(), "-", "big.txt"});
        QCOMPARE(again.lines, QStringList{"big.txt:  restored"});
        QVERIFY(readFile(path("big.txt")) == backup);
        QCOMPARE(allEntries(folder()), QStringList({"big.txt"}));
    }

    // Room for bytes but none for another file: the temporary cannot be made.
    void noFreeInodes()
    {
        writeFile(path("a.txt"), "alpha");
        int made = 0;
        while (made < 10 && QFile(path(QString("fill%1").arg(made))).open(QIODevice::WriteOnly))
            ++made;
        QVERIFY2(made < 10, "the inode limit did not take effect");
        const DriverRun run = runDriver({"replace", folder(), "alpha", "omega", "-", "a.txt"});
        QCOMPARE(run.lines, QStringList{QString("a.txt:  failed: ") + noSpace});
        QCOMPARE(readFile(path("a.txt")), QByteArray("alpha"));
        QCOMPARE(temporaries(folder()), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_FaultsDiskFull)
#include "tst_faults_diskfull.moc"
