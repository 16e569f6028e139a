// SPDX-License-Identifier: MIT
#include "engine/journal/JournalFolder.h"

#include "engine/files/FilePath.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
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

const QByteArray droppedPrefix = ".dropped-";

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

int writeAll(int fd, QByteArrayView data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, size_t(data.size() - done));
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

namespace {

// Deletes a folder's files by name within the open folder (an entry holds
// thousands, and a full path would be walked again for each), then the
// folder. Only system calls, into the buffer given: the process deleting
// dropped entries, a child of a program with threads, may make no others.
bool deleteFolder(const char *path, char *buffer, size_t size)
{
    // Names are deleted as they are read; a file system that then passes
    // one over gets a second pass.
    for (int pass = 0; pass < 2; ++pass) {
        const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) {
            ssize_t n = 0;
            while ((n = ::getdents64(dir, buffer, size)) > 0) {
                for (ssize_t at = 0; at < n;) {
                    const auto *e = reinterpret_cast<const dirent64 *>(buffer + at);
                    at += e->d_reclen;
                    const char *name = e->d_name;
                    if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
                        ::unlinkat(dir, name, 0);
                }
            }
            ::close(dir);
        }
        if (::rmdir(path) == 0)
            return true;
        if (errno != ENOTEMPTY && errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

bool removeEntry(const QByteArray &dirPath, bool evenIfLocked)
{
    if (!evenIfLocked) {
        Fd manifest(::open((dirPath + '/' + manifestName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (manifest.fd >= 0 && ::flock(manifest.fd, LOCK_EX | LOCK_NB) != 0)
            return false;
    }
    alignas(dirent64) char buffer[32 * 1024];
    return deleteFolder(dirPath.constData(), buffer, sizeof buffer);
}

namespace {

// What the process deleting dropped entries does, and all of it: a child of
// a program with threads may make only system calls, so the names were
// made before the fork.
[[noreturn]] void deleteAndExit(const std::vector<QByteArray> &folders)
{
    // Holds no lock, pipe or terminal of the program's: a flock held by an
    // inherited descriptor would keep a journal looking busy, an inherited
    // pipe would keep whoever reads the program's output waiting.
    if (::close_range(0, ~0U, 0) != 0) { // a kernel older than 5.9
        for (int fd = 0; fd < 65536; ++fd)
            ::close(fd);
    }
    ::setsid();
    ::setpriority(PRIO_PROCESS, 0, 19);
    constexpr int ioprioClassIdle = 3;
    constexpr int ioprioClassShift = 13;
    ::syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS */, 0, ioprioClassIdle << ioprioClassShift);
    alignas(dirent64) static char buffer[64 * 1024];
    for (const QByteArray &folder : folders)
        deleteFolder(folder.constData(), buffer, sizeof buffer);
    ::_exit(0);
}

} // namespace

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

void deleteDropped(const QByteArray &root)
{
    std::vector<QByteArray> folders;
    if (DIR *dir = ::opendir(root.constData())) {
        while (const dirent *e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name.startsWith(droppedPrefix))
                folders.push_back(root + '/' + name);
        }
        ::closedir(dir);
    }
    if (folders.empty())
        return;
    // Twice forked, so that the process deleting is nobody's child to wait
    // for: this program waits only for the one in between, which ends at once.
    // _Fork runs no library's fork handlers, which could wait for a lock a
    // thread of this program held at that instant; the children need none,
    // since they only make system calls.
    const pid_t between = ::_Fork();
    if (between == 0) {
        if (::_Fork() == 0)
            deleteAndExit(folders);
        ::_exit(0); // without the process, what is left goes at the next run's end
    }
    if (between > 0) {
        while (::waitpid(between, nullptr, 0) < 0 && errno == EINTR) {
        }
        return;
    }
    for (const QByteArray &folder : folders)
        removeEntry(folder, true);
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
