// SPDX-License-Identifier: MIT
// Permission faults, for real. The suite runs as root in CI, and root passes
// over permission bits; so the faults that hold even for root are made with
// file attributes (immutable, append-only) and a read-only bind mount, and the
// others by running the driver with privileges dropped (setpriv).
#include "FaultTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace faults;

namespace {

constexpr uid_t nobody = 65534;

// Sets or clears file attribute flags (as chattr does); the error when the
// file system or the process cannot.
int setAttributes(const QString &path, int flags, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int current = 0;
    int err = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &current) != 0) {
        err = errno;
    } else {
        current = on ? current | flags : current & ~flags;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &current) != 0)
            err = errno;
    }
    ::close(fd);
    return err;
}

int chownPath(const QString &path, uid_t uid)
{
    return ::chown(QFile::encodeName(path).constData(), uid, uid);
}

QStringList asNobody()
{
    return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

} // namespace

class tst_FaultsPermissions : public QObject {
    Q_OBJECT

private slots:
    // An immutable or append-only file cannot be replaced even by root: the
    // run says so, keeps the file and any older backup, and goes on.
    void fileAttributes_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<bool>("onFolder");
        QTest::newRow("immutable file") << int(FS_IMMUTABLE_FL) << false;
        QTest::newRow("append-only file") << int(FS_APPEND_FL) << false;
        QTest::newRow("immutable folder") << int(FS_IMMUTABLE_FL) << true;
        QTest::newRow("append-only folder") << int(FS_APPEND_FL) << true;
    }

    void fileAttributes()
    {
        QFETCH(int, flag);
        QFETCH(bool, onFolder);
        QTemporaryDir top;
        const QString folder = top.filePath("folder");
        QDir().mkdir(folder);
        QDir dir(folder);
        writeFile(dir.filePath("locked.txt"), "alpha");
        writeFile(dir.filePath("locked.txt.old"), "an older backup");
        writeFile(top.filePath("next.txt"), "alpha");
        const QString marked = onFolder ? folder : dir.filePath("locked.txt");
        if (const int err = setAttributes(marked, flag, true))
            QSKIP(qPrintable("this file system or user cannot set file attributes: " + reasonOf(err)));
        auto clear = qScopeGuard([&] { setAttributes(marked, flag, false); });

        const DriverRun run = runDriver({"replace", folder, "alpha", "omega", "b", "locked.txt", "../next.txt"});
        QCOMPARE(run.lines.size(), 2);
        QVERIFY2(run.lines[0].startsWith("locked.txt:  failed: ") && run.lines[0].contains(reasonOf(EPERM)),
                 qPrintable(run.lines[0]));
        QCOMPARE(readFile(dir.filePath("locked.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(dir.filePath("locked.txt.old")), QByteArray("an older backup"));
        QCOMPARE(run.lines[1], QString("../next.txt:  replaced"));
        QCOMPARE(readFile(top.filePath("next.txt")), QByteArray("omega"));

        // Restore cannot put a backup back over it either, and keeps the backup.
        const DriverRun restore = runDriver({"restore", folder, "-", "locked.txt"});
        QCOMPARE(restore.lines.size(), 1);
        QVERIFY2(restore.lines[0].startsWith("locked.txt:  failed: ") && restore.lines[0].contains(reasonOf(EPERM)),
                 qPrintable(restore.lines[0]));
        QCOMPARE(readFile(dir.filePath("locked.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(dir.filePath("locked.txt.old")), QByteArray("an older backup"));
        QCOMPARE(allEntries(folder), QStringList({"locked.txt", "locked.txt.old"}));
    }

    // The same folder seen through a read-only bind mount.
    void readOnlyBindMount()
    {
        QTemporaryDir dir;
        QTemporaryDir view;
        writeFile(dir.filePath("a.txt"), "alpha");
        writeFile(dir.filePath("b.txt"), "alpha");
        writeFile(dir.filePath("b.txt.old"), "older");
        const QByteArray source = QFile::encodeName(dir.path());
        const QByteArray target = QFile::encodeName(view.path());
        if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
            QSKIP(qPrintable("cannot make a bind mount (" + reasonOf(errno) + "); mounting needs root"));
        auto unmount = qScopeGuard([&] { ::umount2(target.constData(), MNT_DETACH); });
        if (::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            QSKIP(qPrintable("cannot make the bind mount read-only: " + reasonOf(errno)));

        const QString readOnly = reasonOf(EROFS);
        const DriverRun run = runDriver({"replace", view.path(), "alpha", "omega", "b", "a.txt", "b.txt"});
        QCOMPARE(run.lines, QStringList({"a.txt:  failed: " + readOnly, "b.txt:  failed: " + readOnly}));
        const DriverRun restore = runDriver({"restore", view.path(), "-", "a.txt", "b.txt"});
        QCOMPARE(restore.lines, QStringList({"a.txt:  not restored", "b.txt:  failed: " + readOnly}));
        QCOMPARE(readFile(dir.filePath("a.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(dir.filePath("b.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(dir.filePath("b.txt.old")), QByteArray("older"));
        QCOMPARE(allEntries(dir.path()), QStringList({"a.txt", "b.txt", "b.txt.old"}));
    }

    // Read-only to this program even as root: the owner took away the
    // owner's write permission. Any older backup stays too.
    void readOnlyToItsOwner()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("locked.txt"), "alpha");
        writeFile(dir.filePath("locked.txt.old"), "an older backup");
        chmodPath(dir.filePath("locked.txt"), 0444);
        writeFile(dir.filePath("next.txt"), "alpha");
        const DriverRun run = runDriver({"replace", dir.path(), "alpha", "omega", "b", "locked.txt", "next.txt"});
        QCOMPARE(run.lines, QStringList({"locked.txt:  failed: the file is read-only", "next.txt:  replaced"}));
        QCOMPARE(readFile(dir.filePath("locked.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(dir.filePath("locked.txt.old")), QByteArray("an older backup"));
    }

    // For an ordinary user the kernel clears the set-ID bits of a file
    // written to; a rewrite and its backup must still keep them.
    void setIdBitsKeptForAnOrdinaryUser()
    {
        if (::geteuid() != 0)
            QSKIP("dropping privileges to another user needs root");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed");
        QTemporaryDir dir;
        chmodPath(dir.path(), 0755);
        const QString ours = dir.filePath("ours");
        QVERIFY(QDir().mkdir(ours));
        chownPath(ours, nobody);
        writeFile(ours + "/shared.txt", "alpha");
        chownPath(ours + "/shared.txt", nobody);
        QCOMPARE(chmodPath(ours + "/shared.txt", 06775), 0);
        const DriverRun run = runDriver({"replace", ours, "alpha", "omega", "be", "shared.txt"}, {}, asNobody());
        QVERIFY2(run.started && !run.killed, qPrintable(run.errors));
        QCOMPARE(run.lines, QStringList{"shared.txt:  replaced"});
        QCOMPARE(readFile(ours + "/shared.txt"), QByteArray("omega"));
        for (const QString name : {"shared.txt", "shared.txt.old"}) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(ours + '/' + name).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, 06775u);
        }
    }

    // A link whose target lies in a folder the rewrite cannot create files in
    // (root's folder for an ordinary user, or an immutable one for root): the
    // file fails before its backup is made, so the older backup stays.
    void linkIntoLockedFolder_data()
    {
        QTest::addColumn<bool>("ordinaryUser");
        QTest::newRow("root's folder, ordinary user") << true;
        QTest::newRow("immutable folder, root") << false;
    }

    void linkIntoLockedFolder()
    {
        QFETCH(bool, ordinaryUser);
        if (::geteuid() != 0)
            QSKIP("needs root, to drop privileges or set file attributes");
        if (ordinaryUser && QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed");
        QTemporaryDir top;
        chmodPath(top.path(), 0755);
        const QString work = top.filePath("work");
        const QString locked = top.filePath("locked");
        QVERIFY(QDir().mkdir(work) && QDir().mkdir(locked));
        chmodPath(locked, 0755);
        writeFile(locked + "/target.txt", "alpha");
        chmodPath(locked + "/target.txt", 0666);
        QVERIFY(QFile::link("../locked/target.txt", work + "/link.txt"));
        writeFile(work + "/link.txt.old", "an older backup");
        writeFile(work + "/next.txt", "alpha");
        for (const QString &path : {work, work + "/link.txt.old", work + "/next.txt"})
            chownPath(path, ordinaryUser ? nobody : 0);
        if (!ordinaryUser) {
            if (const int err = setAttributes(locked, FS_IMMUTABLE_FL, true))
                QSKIP(qPrintable("this file system or user cannot set file attributes: " + reasonOf(err)));
        }
        auto clear = qScopeGuard([&] { setAttributes(locked, FS_IMMUTABLE_FL, false); });

        const DriverRun run = runDriver({"replace", work, "alpha", "omega", "b", "link.txt", "next.txt"}, {},
                                        ordinaryUser ? asNobody() : QStringList());
        QVERIFY2(run.started && !run.killed, qPrintable(run.errors));
        QCOMPARE(run.lines.size(), 2);
        QVERIFY2(run.lines[0].startsWith("link.txt:  failed: ")
                     && run.lines[0].contains(reasonOf(ordinaryUser ? EACCES : EPERM))
                     && !run.lines[0].contains("backup"),
                 qPrintable(run.lines[0]));
        QCOMPARE(readFile(work + "/link.txt.old"), QByteArray("an older backup"));
        QCOMPARE(readFile(locked + "/target.txt"), QByteArray("alpha"));
        QVERIFY(QFileInfo(work + "/link.txt").isSymLink());
        QCOMPARE(run.lines[1], QString("next.txt:  replaced"));
        QCOMPARE(readFile(work + "/next.txt"), QByteArray("omega"));
        QCOMPARE(temporaries(work), QStringList());
        QCOMPARE(temporaries(locked), QStringList());
    }

    // Run as an ordinary user (nobody) against a folder and files that deny
    // it writing; the files it may write are still done.
    void privilegesDropped_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("expected");
        // Found before the backup, so the older backup stays; the message names
        // the folder that refuses ({folder}), since the file itself is writable.
        QTest::newRow("folder denies writing")
            << "replace"
            << "-"
            << "inside.txt:  failed: the folder \"{folder}\" cannot be written: " + reasonOf(EACCES);
        QTest::newRow("folder denies writing, with backup")
            << "replace"
            << "b"
            << "inside.txt:  failed: the folder \"{folder}\" cannot be written: " + reasonOf(EACCES);
        // A preview says what the replace would, though it writes nothing.
        QTest::newRow("preview, folder denies writing")
            << "replace"
            << "v"
            << "inside.txt:  failed: the folder \"{folder}\" cannot be written: " + reasonOf(EACCES);
        QTest::newRow("preview, folder denies writing, with backup")
            << "replace"
            << "vb"
            << "inside.txt:  failed: the folder \"{folder}\" cannot be written: " + reasonOf(EACCES);
        QTest::newRow("file denies writing") << "replace"
                                             << "b"
                                             << "theirs.txt:  failed: " + reasonOf(EACCES);
        QTest::newRow("file denies reading") << "replace"
                                             << "b"
                                             << "hidden.txt:  failed: " + reasonOf(EACCES);
        QTest::newRow("owner took write permission") << "replace"
                                                     << "b"
                                                     << "readonly.txt:  failed: the file is read-only";
        QTest::newRow("restore, file denies writing") << "restore"
                                                      << "-"
                                                      << "theirs.txt:  failed: " + reasonOf(EACCES);
        QTest::newRow("restore, file denies reading") << "restore"
                                                      << "-"
                                                      << "hidden.txt:  failed: " + reasonOf(EACCES);
        QTest::newRow("restore, owner took write permission") << "restore"
                                                              << "-"
                                                              << "readonly.txt:  failed: the file is read-only";
    }

    void privilegesDropped()
    {
        QFETCH(QString, command);
        QFETCH(QString, flags);
        QFETCH(QString, expected);
        if (::geteuid() != 0)
            QSKIP("dropping privileges to another user needs root");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv (util-linux) is not installed");
        QTemporaryDir dir;
        chmodPath(dir.path(), 0755);
        // ours/: the folder belongs to nobody, so only the files' own
        // permissions stand in the way. locked/: root's folder, nobody's file.
        const QString ours = dir.filePath("ours");
        const QString locked = dir.filePath("locked");
        QVERIFY(QDir().mkdir(ours) && QDir().mkdir(locked));
        chownPath(ours, nobody);
        chmodPath(locked, 0755);
        struct Seed {
            QString folder, name;
            uid_t owner;
            unsigned mode;
        };
        const Seed seeds[] = {
            {locked, "inside.txt", nobody, 0644}, {ours, "theirs.txt", 0, 0644},    {ours, "hidden.txt", nobody, 0000},
            {ours, "readonly.txt", nobody, 0444}, {ours, "mine.txt", nobody, 0644},
        };
        for (const Seed &s : seeds) {
            for (const QString &name : {s.name, s.name + ".old"}) {
                const QString path = s.folder + '/' + name;
                writeFile(path, name.endsWith(".old") ? "the backup" : "alpha");
                chownPath(path, s.owner);
                chmodPath(path, name.endsWith(".old") ? 0644 : s.mode);
            }
        }
        const QString name = expected.section(':', 0, 0);
        const QString folder = name == "inside.txt" ? locked : ours;
        QStringList args{command, folder};
        if (command == "replace")
            args << "alpha"
                 << "omega";
        args << flags << name;
        if (folder == ours)
            args << "mine.txt";

        const DriverRun run = runDriver(args, {}, asNobody());
        QVERIFY2(run.started && !run.killed, qPrintable(run.errors));
        QCOMPARE(run.lines.value(0), QString(expected).replace("{folder}", folder));
        chmodPath(folder + '/' + name, 0644); // so the test can look
        QCOMPARE(readFile(folder + '/' + name), QByteArray("alpha"));
        QCOMPARE(readFile(folder + '/' + name + ".old"), QByteArray("the backup"));
        if (folder == ours) {
            // The rest of the batch: the file this user may write is done.
            QCOMPARE(run.lines.value(1),
                     command == "replace" ? QString("mine.txt:  replaced") : QString("mine.txt:  restored"));
            QCOMPARE(readFile(ours + "/mine.txt"),
                     command == "replace" ? QByteArray("omega") : QByteArray("the backup"));
        }
        QCOMPARE(temporaries(folder), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_FaultsPermissions)
#include "tst_faults_permissions.moc"
