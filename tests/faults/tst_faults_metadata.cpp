// SPDX-License-Identifier: MIT
// Who may access a file is kept when it is rewritten, backed up, restored or
// saved from the viewer: owner, group, permission bits, ACL (set with the real
// setfacl) and extended attributes, on the disk and on a tmpfs. Where that
// cannot be reproduced (another user's file rewritten by an ordinary user, a
// label the user may not set, an attribute the backup's file system cannot
// hold), the file fails with the reason and stays as it was. The suite runs
// as root in CI: it makes two users and a group of its own and runs the
// driver as one of them with setpriv.
#include "FaultTools.h"

#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "ui/frmViewer/frmViewer.h"

#include <QFileInfo>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace faults;

namespace {

constexpr uid_t nobody = 65534;

class RecordedMessages : public MessageBoxes {
public:
    QList<MessageRequest> shown;
    MessageAnswer show(QWidget *, const MessageRequest &request) override
    {
        shown.append(request);
        return MessageAnswer::Ok;
    }
};

// Everything about a file that says who may do what with it.
QString metadataOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return "<missing>";
    QString out = QString("%1:%2 %3").arg(info.st_uid).arg(info.st_gid).arg(info.st_mode & 07777, 4, 8, QChar('0'));
    char names[4096];
    const ssize_t size = ::llistxattr(name.constData(), names, sizeof names);
    QMap<QByteArray, QByteArray> attributes;
    for (const char *n = names; size > 0 && n < names + size; n += qstrlen(n) + 1) {
        QByteArray value(65536, '\0');
        const ssize_t length = ::lgetxattr(name.constData(), n, value.data(), size_t(value.size()));
        attributes[n] = length < 0 ? QByteArray("<unreadable>") : value.left(length).toHex();
    }
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        out += QString(" %1=%2").arg(QString::fromLatin1(it.key()), QString::fromLatin1(it.value()));
    return out;
}

// The error of a command the test needs, empty when it worked.
QString run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + ": " + QString::fromLocal8Bit(process.readAllStandardError()) + process.errorString();
    return {};
}

QString setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    if (::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0) != 0)
        return QString("cannot set %1 here: %2").arg(name, reasonOf(errno));
    return {};
}

void owner(const QString &path, uid_t uid, gid_t gid, unsigned mode)
{
    if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0 || chmodPath(path, mode) != 0)
        qFatal("cannot set the owner of %s", qPrintable(path));
}

// What a file is given before the run, on the file whose metadata counts;
// the two folder kinds change the folder instead. Empty when it was made.
QString grant(const QString &kind, const QString &file)
{
    const QString folder = QFileInfo(file).path();
    if (kind == "ACL") {
        chmodPath(file, 0640);
        return run("setfacl", {"-m", "u:nobody:rw,g:daemon:r", file});
    }
    if (kind == "user attributes") {
        QByteArray binary(3000, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 7);
        const QString made = setAttribute(file, "user.origin", "downloaded");
        return made.isEmpty() ? setAttribute(file, "user.checksum", binary) : made;
    }
    if (kind == "security label") // stands for an SELinux label, which only some systems enforce
        return setAttribute(file, "security.vexalotest", "confidential");
    if (kind == "another owner, set-ID bits") {
        owner(file, nobody, nobody, 06755);
        return {};
    }
    if (kind == "another owner, set-group-ID, ACL") {
        owner(file, nobody, nobody, 02770);
        return run("setfacl", {"-m", "u:daemon:rwx", file});
    }
    if (kind == "set-group-ID folder") {
        owner(folder, 0, nobody, 02775);
        return {};
    }
    if (kind == "default ACL on the folder")
        return run("setfacl", {"-d", "-m", "u:nobody:rwx", folder});
    qFatal("unknown kind %s", qPrintable(kind));
}

// A place for the files: the test's own folder on the disk, or a tmpfs.
struct Place {
    QTemporaryDir top;
    QString folder;
    std::unique_ptr<TmpfsMount> tmpfs;
    QString missing;

    explicit Place(const QString &kind)
    {
        chmodPath(top.path(), 0755);
        folder = top.filePath("files");
        QDir().mkdir(folder);
        if (kind == "tmpfs") {
            tmpfs = std::make_unique<TmpfsMount>(folder, "size=8m");
            if (!tmpfs->ok())
                missing = tmpfs->error();
        }
    }
};

struct Users {
    uid_t advo = 0, advu = 0;
    gid_t advgrp = 0, advuGroup = 0;
    QString missing;
};

// Two users and a group, made once and left for the next run, so that runs
// of the suite at the same time never take them away from each other.
Users makeUsers()
{
    Users users;
    if (::geteuid() != 0)
        return {0, 0, 0, 0, "making users needs root"};
    QMap<QString, QString> tools;
    for (const char *tool : {"useradd", "groupadd", "setpriv"}) {
        tools[tool] = QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
        if (tools[tool].isEmpty())
            return {0, 0, 0, 0, QString("%1 is not installed").arg(tool)};
    }
    if (!::getgrnam("advgrp"))
        run(tools["groupadd"], {"-r", "advgrp"});
    if (!::getpwnam("advo"))
        run(tools["useradd"], {"-r", "-M", "-N", "-g", "advgrp", "-s", "/usr/sbin/nologin", "advo"});
    if (!::getpwnam("advu"))
        run(tools["useradd"], {"-r", "-M", "-U", "-G", "advgrp", "-s", "/usr/sbin/nologin", "advu"});
    // Each lookup overwrites the last one's answer: the numbers are taken at once.
    if (const struct group *group = ::getgrnam("advgrp"))
        users.advgrp = group->gr_gid;
    if (const struct passwd *o = ::getpwnam("advo"))
        users.advo = o->pw_uid;
    if (const struct passwd *u = ::getpwnam("advu")) {
        users.advu = u->pw_uid;
        users.advuGroup = u->pw_gid;
    }
    if (!users.advgrp || !users.advo || !users.advu || users.advo == users.advu)
        users.missing = "the test users could not be made";
    return users;
}

} // namespace

class tst_FaultsMetadata : public QObject {
    Q_OBJECT

    Users m_users;

private slots:
    void initTestCase() { m_users = makeUsers(); }

    // Run by root, so every owner may be given: the file, its backup and a
    // restored file grant exactly what the file they stand for granted.
    void keptByRoot_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("operation");
        for (const char *place : {"disk", "tmpfs"}) {
            for (const char *kind :
                 {"ACL", "user attributes", "security label", "another owner, set-ID bits",
                  "another owner, set-group-ID, ACL", "set-group-ID folder", "default ACL on the folder"}) {
                for (const char *operation : {"rewrite", "backup", "restore", "restore, file gone", "viewer save"})
                    QTest::addRow("%s, %s, %s", place, kind, operation) << place << kind << operation;
            }
        }
    }

    void keptByRoot()
    {
        QFETCH(QString, place);
        QFETCH(QString, kind);
        QFETCH(QString, operation);
        if (::geteuid() != 0)
            QSKIP("giving files to other owners needs root");
        if (kind.contains("ACL") && QStandardPaths::findExecutable("setfacl").isEmpty())
            QSKIP("setfacl (the acl package) is not installed");
        Place where(place);
        if (!where.missing.isEmpty())
            QSKIP(qPrintable(where.missing));
        const QString file = where.folder + "/file.txt";
        const QString backup = file + ".old";
        // The file the metadata comes from: the backup for a file that is
        // gone, otherwise the file itself. The other one is plain, so that
        // taking the wrong one's metadata shows.
        const bool gone = operation == "restore, file gone";
        const bool restore = operation.startsWith("restore");
        writeFile(backup, restore ? "alpha" : "an older backup");
        owner(backup, nobody, nobody, 0600);
        if (!gone)
            writeFile(file, restore ? "omega" : "alpha");
        const QString source = gone ? backup : file;
        owner(source, 0, 0, 0644);
        if (const QString missing = grant(kind, source); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        const QString before = metadataOf(source);

        if (operation == "viewer save") {
            RecordedMessages messages;
            Services services;
            services.messages = &messages;
            frmViewer viewer(services);
            QString error;
            QVERIFY2(viewer.loadFile(vexalo::FilePath::fromString(file), &error), qPrintable(error));
            viewer.txtViewer->setPlainText("omega");
            viewer.cmdSave->click();
            QCOMPARE(messages.shown.size(), 0);
        } else {
            const DriverRun done = restore
                ? runDriver({"restore", where.folder, "-", "file.txt"})
                : runDriver({"replace", where.folder, "alpha", "omega", operation == "backup" ? "b" : "-", "file.txt"});
            QCOMPARE(done.lines, QStringList(restore ? "file.txt:  restored" : "file.txt:  replaced"));
        }
        QCOMPARE(readFile(file), restore ? QByteArray("alpha") : QByteArray("omega"));
        QCOMPARE(metadataOf(file), before);
        if (operation == "backup") {
            QCOMPARE(readFile(backup), QByteArray("alpha"));
            QCOMPARE(metadataOf(backup), before);
        }
        QCOMPARE(temporaries(where.folder), QStringList());
    }

    // Run by an ordinary user (advu, in the group advgrp) in a folder of
    // that group: what the user may reproduce is kept; where the file would
    // end up granting something else, it fails with the reason and stays.
    void ordinaryUser_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected"); // empty: the file is done and keeps everything
        const QString owner = "its owner (advo) could not be kept: " + reasonOf(EPERM);
        for (const char *place : {"disk", "tmpfs"}) {
            const auto row = [&](const char *kind, const char *command, const QString &expected) {
                QTest::addRow("%s, %s, %s", place, kind, command) << place << kind << command << expected;
            };
            row("another user's file", "replace", "failed: " + owner);
            row("another user's file", "replace, backup",
                "failed: the backup could not be made, so the file was left unchanged: " + owner);
            row("another user's file", "restore", "failed: " + owner);
            row("own file, another group of theirs", "replace", {});
            row("own set-group-ID file, another group of theirs", "replace", {});
            row("own set-user-ID file", "replace", {});
            // Its group came from a set-group-ID folder, and the owner is not
            // in it: a chmod by them drops the bit without a word.
            row("own set-group-ID file, a group not theirs", "replace",
                "failed: its set-user-ID or set-group-ID bit could not be kept: " + reasonOf(EPERM));
            row("own file with an ACL", "replace", {});
            row("own file with an ACL", "restore", {});
            row("own file with user attributes", "replace, backup", {});
            row("own file with a security label", "replace",
                "failed: its security label (security.vexalotest) could not be kept: " + reasonOf(EPERM));
        }
    }

    void ordinaryUser()
    {
        QFETCH(QString, place);
        QFETCH(QString, kind);
        QFETCH(QString, command);
        QFETCH(QString, expected);
        if (!m_users.missing.isEmpty())
            QSKIP(qPrintable(m_users.missing));
        if (kind.contains("ACL") && QStandardPaths::findExecutable("setfacl").isEmpty())
            QSKIP("setfacl (the acl package) is not installed");
        Place where(place);
        if (!where.missing.isEmpty())
            QSKIP(qPrintable(where.missing));
        const bool notTheirGroup = kind.contains("a group not theirs");
        if (notTheirGroup)
            owner(where.folder, m_users.advu, 0, 02775); // root's group, handed on to new files
        else
            owner(where.folder, 0, m_users.advgrp, 0775);
        const QString file = where.folder + "/file.txt";
        const QString backup = file + ".old";
        const bool restore = command == "restore";
        writeFile(file, restore ? "omega" : "alpha");
        writeFile(backup, restore ? "alpha" : "an older backup");
        const uid_t advu = m_users.advu;
        if (kind == "another user's file") {
            owner(file, m_users.advo, m_users.advgrp, 0660);
            owner(backup, m_users.advo, m_users.advgrp, 0660);
        } else {
            owner(backup, advu, m_users.advuGroup, 0644);
            const bool theirGroup = kind.contains("another group of theirs");
            const unsigned mode = notTheirGroup ? 02755
                : kind.contains("set-group-ID") ? 02750
                : kind.contains("set-user-ID")  ? 04755
                                                : 0640;
            owner(file, advu, notTheirGroup ? 0 : theirGroup ? m_users.advgrp : m_users.advuGroup, mode);
            QString missing;
            if (kind.contains("ACL"))
                missing = run("setfacl", {"-m", "u:advo:rw", file});
            else if (kind.contains("user attributes"))
                missing = setAttribute(file, "user.origin", "downloaded");
            else if (kind.contains("security label"))
                missing = grant("security label", file);
            if (!missing.isEmpty())
                QSKIP(qPrintable(missing));
        }
        const QString fileBefore = metadataOf(file);
        const QString backupBefore = metadataOf(backup);

        QStringList args{restore ? "restore" : "replace", where.folder};
        if (!restore)
            args << "alpha"
                 << "omega";
        args << (command.contains("backup") ? "b" : "-") << "file.txt";
        const QStringList asAdvu{"setpriv", QString("--reuid=%1").arg(advu),
                                 QString("--regid=%1").arg(m_users.advuGroup),
                                 QString("--groups=%1").arg(m_users.advgrp), "--"};
        const DriverRun done = runDriver(args, {}, asAdvu);
        QVERIFY2(done.started && !done.killed, qPrintable(done.errors));
        if (expected.isEmpty()) {
            QCOMPARE(done.lines, QStringList(restore ? "file.txt:  restored" : "file.txt:  replaced"));
            QCOMPARE(readFile(file), restore ? QByteArray("alpha") : QByteArray("omega"));
            QCOMPARE(metadataOf(file), fileBefore);
            if (command.contains("backup"))
                QCOMPARE(metadataOf(backup), fileBefore);
        } else {
            QCOMPARE(done.lines, QStringList("file.txt:  " + expected));
            QCOMPARE(readFile(file), restore ? QByteArray("omega") : QByteArray("alpha"));
            QCOMPARE(metadataOf(file), fileBefore);
            QCOMPARE(readFile(backup), restore ? QByteArray("alpha") : QByteArray("an older backup"));
            QCOMPARE(metadataOf(backup), backupBefore);
        }
        QCOMPARE(temporaries(where.folder), QStringList());
    }

    // The file is a link into another file system and its backup goes beside
    // the link, on a ramfs, which holds no ACL and no extended attribute: the
    // backup cannot be the original's, so neither is made and the file stays.
    void attributesTheBackupCannotCarry_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("loss");
        QTest::newRow("ACL") << "ACL"
                             << "its access control list could not be kept";
        QTest::newRow("user attributes") << "user attributes"
                                         << "its extended attribute user.origin could not be kept";
    }

    void attributesTheBackupCannotCarry()
    {
        QFETCH(QString, kind);
        QFETCH(QString, loss);
        if (kind == "ACL" && QStandardPaths::findExecutable("setfacl").isEmpty())
            QSKIP("setfacl (the acl package) is not installed");
        QTemporaryDir disk;
        QTemporaryDir top;
        const QString folder = top.filePath("ramfs");
        QDir().mkdir(folder);
        const QByteArray mountPoint = QFile::encodeName(folder);
        if (::mount("ramfs", mountPoint.constData(), "ramfs", MS_NOSUID | MS_NODEV, nullptr) != 0)
            QSKIP(qPrintable("cannot mount a ramfs (" + reasonOf(errno) + "); mounting needs root"));
        auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        const QString real = disk.filePath("real.txt");
        writeFile(real, "alpha");
        if (const QString missing = grant(kind, real); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(QFile::link(real, folder + "/file.txt"));
        writeFile(folder + "/file.txt.old", "an older backup");
        const QString before = metadataOf(real);

        const DriverRun done = runDriver({"replace", folder, "alpha", "omega", "b", "file.txt"});
        QCOMPARE(done.lines,
                 QStringList("file.txt:  failed: the backup could not be made, so the file was left "
                             "unchanged: "
                             + loss + ": " + reasonOf(EOPNOTSUPP)));
        QCOMPARE(readFile(real), QByteArray("alpha"));
        QCOMPARE(metadataOf(real), before);
        QCOMPARE(readFile(folder + "/file.txt.old"), QByteArray("an older backup"));
        QCOMPARE(allEntries(folder), QStringList({"file.txt", "file.txt.old"}));
        QCOMPARE(allEntries(disk.path()), QStringList("real.txt"));
    }
};

QTEST_MAIN(tst_FaultsMetadata)
#include "tst_faults_metadata.moc"
