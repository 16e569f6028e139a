// SPDX-License-Identifier: MIT
#include "engine/journal/JournalFolder.h"
#include "engine/journal/FolderSweep.h"

#include "engine/files/FilePath.h"

#include <QCoreApplication>

#include <algorithm>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vexalo::journal {

namespace {

// lupdate files a free tr() under the namespace it sits in.
QString tr(const char *text)
{
    return QCoreApplication::translate("vexalo::journal", text);
}

// Who else could rename or replace what is in a folder: its owner when that
// is neither this user nor root, and anyone it grants writing to, unless
// the sticky bit keeps them to their own names.
QString untrustedFolder(const QByteArray &path, const struct stat &info)
{
    const uid_t euid = ::geteuid();
    if (info.st_uid != euid && info.st_uid != 0)
        return tr("the folder %1 belongs to another user").arg(shown(path));
    const bool othersWrite = (info.st_mode & S_IWOTH) || ((info.st_mode & S_IWGRP) && info.st_gid != ::getegid());
    if (othersWrite && !(info.st_mode & S_ISVTX))
        return tr("the folder %1 can be changed by other users").arg(shown(path));
    return {};
}

} // namespace

void Fd::reset(int f)
{
    if (fd >= 0)
        ::close(fd);
    fd = f;
}

QByteArray readSmallFile(const QByteArray &path, int *error)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.fd < 0) {
        if (error)
            *error = errno;
        return {};
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (error)
                *error = errno;
            return {};
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    if (error)
        *error = 0;
    return bytes;
}

int writeAll(int fd, QByteArrayView data, off_t at)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const size_t left = size_t(data.size() - done);
        const ssize_t n =
            at < 0 ? ::write(fd, data.data() + done, left) : ::pwrite(fd, data.data() + done, left, at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

int syncPath(const QByteArray &path)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.fd < 0)
        return errno;
    if (::fsync(fd.fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

QString untrustedOnTheWay(const QByteArray &path, bool mustExist)
{
    if (!path.startsWith('/'))
        return tr("%1 is not a full path").arg(shown(path));
    QByteArray at = "/";
    struct stat info {};
    if (::lstat("/", &info) != 0)
        return IoStatus::fromErrno(errno).error;
    if (QString why = untrustedFolder(at, info); !why.isEmpty())
        return why;
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return tr("%1 is not a plain path").arg(shown(path));
        const QByteArray next = at + (at.endsWith('/') ? "" : "/") + part;
        if (::lstat(next.constData(), &info) != 0) {
            if (errno == ENOENT && !mustExist)
                return {};
            return tr("%1: %2").arg(shown(next), IoStatus::fromErrno(errno).error);
        }
        if (S_ISLNK(info.st_mode)) {
            // The system's own links (/home to /var/home) are followed; one
            // that a user made could be pointed elsewhere at any time.
            if (info.st_uid != 0)
                return tr("%1 is a link").arg(shown(next));
            char *resolved = ::realpath(next.constData(), nullptr);
            if (!resolved)
                return tr("%1: %2").arg(shown(next), IoStatus::fromErrno(errno).error);
            at = resolved;
            std::free(resolved);
            if (::lstat(at.constData(), &info) != 0)
                return tr("%1: %2").arg(shown(at), IoStatus::fromErrno(errno).error);
        } else {
            at = next;
        }
        if (!S_ISDIR(info.st_mode))
            return tr("%1 is not a folder").arg(shown(at));
        if (QString why = untrustedFolder(at, info); !why.isEmpty())
            return why;
    }
    return {};
}

IoStatus ensureJournalFolder(const QByteArray &root)
{
    // The journal's own two folders are never links, whoever made them:
    // nothing is made in a link's target.
    const QByteArray parent = root.left(root.lastIndexOf('/'));
    for (const QByteArray &folder : {parent, root}) {
        struct stat info {};
        if (::lstat(folder.constData(), &info) == 0 && S_ISLNK(info.st_mode))
            return IoStatus::failure(tr("%1 is a link").arg(shown(folder)));
    }
    if (const QString why = untrustedOnTheWay(root, false); !why.isEmpty())
        return IoStatus::failure(why);
    // The way is this user's or root's and no one else may change it, so
    // what mkdir made is still what is checked below.
    QByteArray at;
    for (const QByteArray &part : root.split('/')) {
        if (part.isEmpty())
            continue;
        at += '/' + part;
        if (::mkdir(at.constData(), 0700) != 0 && errno != EEXIST)
            return IoStatus::fromErrno(errno, tr("the journal folder %1 could not be made").arg(shown(at)));
    }
    for (const QByteArray &folder : {parent, root}) {
        struct stat info {};
        if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
            return IoStatus::failure(tr("the journal folder %1 is not a folder of this user's").arg(shown(folder)));
    }
    // Copies of the user's files: no one else may look in.
    if (::chmod(root.constData(), 0700) != 0)
        return IoStatus::fromErrno(errno);
    return {};
}

QByteArray entryName(qint64 run)
{
    return QByteArray::number(run).rightJustified(12, '0');
}

qint64 runOfEntry(const QByteArray &name)
{
    bool ok = false;
    const qint64 run = name.toLongLong(&ok);
    return ok && name.size() == 12 ? run : -1;
}

QByteArrayList entryNames(const QByteArray &root, int *error)
{
    QByteArrayList names;
    *error = 0;
    DIR *dir = ::opendir(root.constData());
    if (!dir) {
        *error = errno == ENOENT ? 0 : errno;
        return names;
    }
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (!name.isEmpty() && name[0] >= '0' && name[0] <= '9')
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        const qint64 ra = runOfEntry(a);
        const qint64 rb = runOfEntry(b);
        return ra != rb ? ra < rb : a < b;
    });
    return names;
}

QList<RootedEntry> entryNames(const QList<QByteArray> &roots, const QByteArray &homeId, int *error)
{
    QList<RootedEntry> all;
    *error = 0;
    for (qsizetype i = 0; i < roots.size(); ++i) {
        if (i > 0 && homeId.isEmpty())
            break; // this home journal never kept an entry on another volume
        int err = 0;
        const QByteArrayList names = entryNames(roots[i], &err);
        if (i == 0)
            *error = err;
        for (const QByteArray &name : names) {
            if (i == 0 || readSmallFile(roots[i] + '/' + name + '/' + ownerName) == homeId)
                all.append({roots[i], name});
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const RootedEntry &a, const RootedEntry &b) {
        return runOfEntry(a.name) < runOfEntry(b.name);
    });
    return all;
}

bool removeEntry(const QByteArray &dirPath, bool evenIfLocked)
{
    if (!evenIfLocked) {
        Fd manifest(::open((dirPath + '/' + manifestName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (manifest.fd >= 0 && ::flock(manifest.fd, LOCK_EX | LOCK_NB) != 0)
            return false;
    }
    alignas(dirent64) char buffer[32 * 1024];
    return deleteFolder(AT_FDCWD, dirPath.constData(), buffer, sizeof buffer);
}

bool dropLater(const QByteArray &dirPath)
{
    {
        Fd manifest(::open((dirPath + '/' + manifestName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (manifest.fd >= 0 && ::flock(manifest.fd, LOCK_EX | LOCK_NB) != 0)
            return false; // a run still writing into it
    }
    const qsizetype slash = dirPath.lastIndexOf('/');
    const QByteArray away = dirPath.left(slash + 1) + droppedPrefix + dirPath.mid(slash + 1);
    if (::rename(dirPath.constData(), away.constData()) != 0)
        return removeEntry(dirPath);
    return true;
}

namespace {

// The program that deletes given-up entries: beside this one in a build
// tree, in the program's own folder under libexec when installed. Taken
// only where it is a program no one else may change.
const QByteArray &sweeperPath()
{
    static const QByteArray path = [] {
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe);
        if (n <= 0 || n == ssize_t(sizeof exe))
            return QByteArray();
        QByteArray folder(exe, n);
        folder.truncate(folder.lastIndexOf('/') + 1);
        for (const QByteArray &candidate : {folder + VEXALO_SWEEPER, folder + VEXALO_SWEEPER_FROM_BIN VEXALO_SWEEPER}) {
            struct stat st {};
            if (::stat(candidate.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR)
                && !(st.st_mode & (S_IWGRP | S_IWOTH)) && (st.st_uid == 0 || st.st_uid == ::geteuid()))
                return candidate;
        }
        return QByteArray();
    }();
    return path;
}

// Starts the sweeper in a session of its own (a Ctrl+C meant for the
// program does not stop it), with no descriptor but /dev/null, no
// environment and no signal blocked or ignored. The program does not wait
// for it: a process that lives on (a window) collects those that ended when
// it starts the next, one that ends leaves them to the system.
bool startSweeper(const QByteArray &root)
{
    static std::mutex mutex;
    static std::vector<pid_t> started;
    const std::lock_guard guard(mutex);
    std::erase_if(started, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    const QByteArray &program = sweeperPath();
    if (program.isEmpty())
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    // Whoever reads the program's output (a shell's $(...)) would wait for
    // a process holding the other end of its pipe.
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
    ::posix_spawn_file_actions_adddup2(&actions, 0, 1);
    ::posix_spawn_file_actions_adddup2(&actions, 0, 2);
    sigset_t none;
    sigset_t defaults;
    ::sigemptyset(&none);
    ::sigfillset(&defaults);
    ::sigdelset(&defaults, SIGKILL);
    ::sigdelset(&defaults, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    QByteArray name = VEXALO_SWEEPER;
    QByteArray folder = root;
    char *arguments[] = {name.data(), folder.data(), nullptr};
    char *environment[] = {nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, program.constData(), &actions, &attributes, arguments, environment);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (err != 0)
        return false;
    started.push_back(pid);
    return true;
}

} // namespace

void deleteDropped(const QByteArray &root)
{
    bool any = false;
    if (DIR *dir = ::opendir(root.constData())) {
        while (const dirent *e = ::readdir(dir)) {
            if (QByteArrayView(e->d_name).startsWith(droppedPrefix)) {
                any = true;
                break;
            }
        }
        ::closedir(dir);
    }
    if (any && !startSweeper(root))
        sweepDropped(root.constData());
}

RootLock::RootLock(const QByteArray &root)
{
    m_fd.reset(::open((root + '/' + lockName).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (m_fd.fd >= 0) {
        while (::flock(m_fd.fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

QByteArray homeJournalId(const QByteArray &home, bool create)
{
    const QByteArray path = home + '/' + idName;
    QByteArray id = readSmallFile(path);
    if (!id.isEmpty() || !create)
        return id;
    unsigned char bytes[12];
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes))
        return {};
    id = QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes).toHex();
    // Made whole or not at all: a name cut short would orphan the entries.
    const QByteArray part = path + ".new";
    Fd fd(::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.fd < 0 || writeAll(fd.fd, id) != 0 || ::fsync(fd.fd) != 0
        || ::renameat2(AT_FDCWD, part.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) != 0) {
        ::unlink(part.constData());
        return readSmallFile(path);
    }
    return id;
}

qint64 takeRunNumber(const QByteArray &root, int *error, const QByteArray &alsoPast)
{
    *error = 0;
    const QByteArray path = root + '/' + sequenceName;
    Fd fd(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.fd < 0) {
        *error = errno;
        return -1;
    }
    char buffer[32] = {};
    const ssize_t n = ::pread(fd.fd, buffer, sizeof buffer - 1, 0);
    qint64 last = n > 0 ? QByteArray(buffer, int(n)).trimmed().toLongLong() : 0;
    // The entries and the last run undone outlive a counter lost in a
    // crash: a number is never given twice, so the counter needs no sync.
    for (const QByteArray &folder : {root, alsoPast}) {
        if (folder.isEmpty())
            continue;
        bool known = false;
        const qint64 undone = readSmallFile(folder + '/' + undoneName).trimmed().toLongLong(&known);
        if (known)
            last = std::max(last, undone);
        int err = 0;
        const QByteArrayList names = entryNames(folder, &err);
        for (const QByteArray &name : names)
            last = std::max(last, runOfEntry(name));
    }
    const QByteArray next = QByteArray::number(last + 1) + '\n';
    if (::pwrite(fd.fd, next.constData(), size_t(next.size()), 0) != next.size()
        || ::ftruncate(fd.fd, next.size()) != 0) {
        *error = errno ? errno : EIO;
        return -1;
    }
    return last + 1;
}

// Copies what fd holds into a new file at target: a clone where the file
// system shares blocks, else copy_file_range, else plain reads and writes.
int copyInto(int from, const QByteArray &target, qint64 size, int *created)
{
    const int to = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (to < 0)
        return errno;
    *created = to;
    if (::ioctl(to, FICLONE, from) == 0)
        return 0;
    loff_t in = 0;
    qint64 left = size;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(from, &in, to, nullptr, size_t(std::min<qint64>(left, 1 << 30)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
            return errno;
        if (n <= 0)
            break;
        left -= n;
    }
    if (left == 0)
        return 0;
    if (::ftruncate(to, 0) != 0 || ::lseek(to, 0, SEEK_SET) != 0)
        return errno;
    char buffer[128 * 1024];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (const int err = writeAll(to, QByteArrayView(buffer, n)))
            return err;
        at += n;
    }
}

// Whether two names in the entry's folder can be swapped in one step: the
// file system may not know how (a network share), and the old file is then
// linked before the rename instead.
bool canSwapIn(int dirFd)
{
    const char *a = ".swap-a";
    const char *b = ".swap-b";
    Fd fa(::openat(dirFd, a, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    Fd fb(::openat(dirFd, b, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    const bool swapped = fa.fd >= 0 && fb.fd >= 0 && ::renameat2(dirFd, a, dirFd, b, RENAME_EXCHANGE) == 0;
    ::unlinkat(dirFd, a, 0);
    ::unlinkat(dirFd, b, 0);
    return swapped;
}

QString shown(const QByteArray &path)
{
    return FilePath::fromBytes(path).display();
}

} // namespace vexalo::journal
