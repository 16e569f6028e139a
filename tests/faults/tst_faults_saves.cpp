// SPDX-License-Identifier: MIT
// The two other writers of the program under the same faults as the runs:
// the settings store when its folder cannot be written (a read-only bind
// mount, an immutable folder, a full disk), and the viewer's Save (a full
// disk, a read-only bind mount, an immutable file, a file read-only to its
// owner, a folder that is gone). No file is truncated, the failure is known,
// and the viewer keeps its text to save again.
#include "FaultTools.h"

#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "settings/SettingsStore.h"
#include "ui/frmViewer/frmViewer.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace faults;

namespace {

class RecordedMessages : public MessageBoxes {
public:
    QList<MessageRequest> shown;
    MessageAnswer show(QWidget *, const MessageRequest &request) override
    {
        shown.append(request);
        return MessageAnswer::Ok;
    }
};

int setAttribute(const QString &path, int flag, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int flags = 0;
    int err = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        err = errno;
    } else {
        flags = on ? flags | flag : flags & ~flag;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
            err = errno;
    }
    ::close(fd);
    return err;
}

bool fillDisk(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'f');
    while (f.write(block) == block.size()) {
    }
    while (f.write("f", 1) == 1) {
    }
    return true;
}

// One fault over a folder, made and taken away again; why it cannot be made
// here when it cannot.
class FolderFault {
public:
    FolderFault(const QString &kind, const QString &folder)
        : m_kind(kind)
        , m_folder(QFile::encodeName(folder))
    {
        if (kind == "read-only bind mount") {
            if (::mount(m_folder.constData(), m_folder.constData(), nullptr, MS_BIND, nullptr) != 0) {
                m_missing = "cannot make a bind mount (" + reasonOf(errno) + "); mounting needs root";
                return;
            }
            m_mounted = true;
            if (::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                m_missing = "cannot make the bind mount read-only: " + reasonOf(errno);
        } else if (kind == "immutable folder") {
            if (const int err = setAttribute(folder, FS_IMMUTABLE_FL, true))
                m_missing = "cannot mark a folder immutable here: " + reasonOf(err);
            else
                m_marked = true;
        } else if (kind == "full disk") {
            if (!fillDisk(folder + "/filler"))
                m_missing = "cannot fill the disk";
        }
    }
    ~FolderFault() { lift(); }

    void lift()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
        if (m_marked)
            setAttribute(QFile::decodeName(m_folder), FS_IMMUTABLE_FL, false);
        if (m_kind == "full disk")
            QFile::remove(QFile::decodeName(m_folder) + "/filler");
        m_mounted = m_marked = false;
    }
    QString missing() const { return m_missing; }

private:
    QString m_kind;
    QByteArray m_folder;
    bool m_mounted = false;
    bool m_marked = false;
    QString m_missing;
};

} // namespace

class tst_FaultsSaves : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        // The user's own store, but in a home of the test's own.
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        QStandardPaths::setTestModeEnabled(true);
    }

    void settingsFolderNotWritable_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("read-only bind mount") << "read-only bind mount";
        QTest::newRow("immutable folder") << "immutable folder";
        QTest::newRow("full disk") << "full disk";
    }

    void settingsFolderNotWritable()
    {
        QFETCH(QString, fault);
        const vexalo::SettingsStore store(m_home.path());
        const QString file = store.location();
        QVERIFY2(file.startsWith(m_home.path()), qPrintable(file));
        const QString folder = QFileInfo(file).path();
        QDir().mkpath(folder);
        std::unique_ptr<TmpfsMount> disk;
        if (fault == "full disk") {
            disk = std::make_unique<TmpfsMount>(folder, "size=1m");
            if (!disk->ok())
                QSKIP(qPrintable(disk->error()));
        }

        vexalo::MainWindowState first;
        first.left = 100, first.top = 200, first.width = 7905, first.height = 7815;
        first.findString = "first find";
        first.folders = QStringList(5, "/first");
        QVERIFY(store.save(first).ok);
        const QByteArray saved = readFile(file);
        QVERIFY(saved.contains("first find"));

        FolderFault made(fault, folder);
        if (!made.missing().isEmpty()) {
            made.lift();
            disk.reset();
            QSKIP(qPrintable(made.missing()));
        }
        vexalo::MainWindowState second = first;
        second.findString = "second find";
        const vexalo::SettingsResult result = store.save(second);
        // The failure is known and names the store; the file is untouched.
        QVERIFY2(!result.ok, "a save that did not reach the store was reported as done");
        QVERIFY2(result.error.contains(QDir::toNativeSeparators(file)), qPrintable(result.error));
        QVERIFY(readFile(file) == saved);
        made.lift();
        QStringList entries = allEntries(folder);
        entries.removeAll("filler");
        QCOMPARE(entries, QStringList{QFileInfo(file).fileName()});

        // What the next start will load: the values of the last save that
        // worked. (Not loaded here: Qt keeps a process's unsaved values in
        // memory, so only the file tells what a new process would see.)
        QVERIFY(readFile(file).contains("first find"));
        disk.reset();
    }

    void viewerSaveFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << "full disk" << reasonOf(ENOSPC);
        QTest::newRow("read-only bind mount") << "read-only bind mount" << reasonOf(EROFS);
        QTest::newRow("immutable file") << "immutable file" << reasonOf(EPERM);
        QTest::newRow("read-only to its owner") << "read-only to its owner"
                                                << "the file is read-only";
        QTest::newRow("folder gone") << "folder gone" << reasonOf(ENOENT);
    }

    void viewerSaveFails()
    {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QTemporaryDir top;
        const QString folder = top.filePath("files");
        QDir().mkdir(folder);
        std::unique_ptr<TmpfsMount> disk;
        if (fault == "full disk") {
            disk = std::make_unique<TmpfsMount>(folder, "size=1m");
            if (!disk->ok())
                QSKIP(qPrintable(disk->error()));
        }
        const QString path = folder + "/note.txt";
        const QByteArray original = "the first line\nthe second line\n";
        writeFile(path, original);

        RecordedMessages messages;
        Services services;
        services.messages = &messages;
        frmViewer viewer(services);
        QString error;
        QVERIFY2(viewer.loadFile(vexalo::FilePath::fromString(path), &error), qPrintable(error));
        viewer.txtViewer->setPlainText("an edited text that is longer than the first one\n");
        const QString edited = viewer.txtViewer->toPlainText();

        std::unique_ptr<FolderFault> made;
        int marked = 0;
        if (fault == "immutable file") {
            marked = setAttribute(path, FS_IMMUTABLE_FL, true);
            if (marked)
                QSKIP(qPrintable("cannot mark a file immutable here: " + reasonOf(marked)));
        } else if (fault == "read-only to its owner") {
            chmodPath(path, 0444);
        } else if (fault == "folder gone") {
            QVERIFY(QDir(folder).removeRecursively());
        } else {
            made = std::make_unique<FolderFault>(fault, folder);
            if (!made->missing().isEmpty())
                QSKIP(qPrintable(made->missing()));
        }
        auto unmark = qScopeGuard([&] {
            if (fault == "immutable file")
                setAttribute(path, FS_IMMUTABLE_FL, false);
        });

        viewer.cmdSave->click();
        QCOMPARE(messages.shown.size(), 1);
        const QString text = messages.shown[0].text;
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)) && text.contains(reason), qPrintable(text));
        // Both boxes keep what they held, so the user can save again.
        QCOMPARE(viewer.txtViewer->toPlainText(), edited);
        QCOMPARE(viewer.txtSave->text(), path);
        if (made)
            made->lift();
        if (fault != "folder gone") {
            QVERIFY(readFile(path) == original);
            QCOMPARE(allEntries(folder).filter(".vexalo4-"), QStringList());
        } else {
            QVERIFY(!QFileInfo::exists(folder));
        }
        made.reset();
        unmark.dismiss();
        if (fault == "immutable file")
            setAttribute(path, FS_IMMUTABLE_FL, false);

        // With the fault gone, the same Save works.
        if (fault == "full disk" || fault == "read-only bind mount") {
            viewer.cmdSave->click();
            QCOMPARE(messages.shown.size(), 1);
            QCOMPARE(readFile(path), edited.toUtf8());
        }
        disk.reset();
    }
};

QTEST_MAIN(tst_FaultsSaves)
#include "tst_faults_saves.moc"
