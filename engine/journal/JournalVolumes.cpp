// SPDX-License-Identifier: MIT
// The journal kept where the files are: a run over files on another file
// system than the home journal keeps its entry in a folder of its own at the
// top of that file system, so the old file is kept by a rename or a link
// there rather than by a copy in the home folder. The folder is this user's
// alone, mode 0700, never a link, in a top folder no one else may rename it
// out of; one that fails a check is not used, and the run keeps its entry
// in the home journal as before.
#include "engine/journal/JournalFolder.h"

#include "engine/files/FileNames.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace vexalo::journal {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("vexalo::journal", text);
}

QString shown(const QByteArray &path)
{
    return displayName(decodeFileName(path));
}

// The list of mounts writes a blank, a tab, a line break and a backslash in
// a mount point as an octal escape.
QByteArray unescaped(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
            bool ok = false;
            const int c = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(c);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// File systems that hold no user's files: never looked into (an automount
// point would be mounted by the look alone).
bool holdsNoFiles(const QByteArray &type)
{
    static const std::set<QByteArray> kernels = {
        "autofs", "binfmt_misc", "bpf",        "cgroup",     "cgroup2",   "configfs", "debugfs",
        "devpts", "devtmpfs",    "efivarfs",   "fusectl",    "hugetlbfs", "mqueue",   "nsfs",
        "proc",   "pstore",      "rpc_pipefs", "securityfs", "selinuxfs", "sysfs",    "tracefs"};
    return kernels.count(type) > 0;
}

// The mount points of the file systems that may hold files, as listed.
QByteArrayList mountPoints()
{
    QByteArrayList points;
    const QByteArray list = readSmallFile("/proc/self/mountinfo");
    for (const QByteArray &line : list.split('\n')) {
        // id parent major:minor root point options [optional...] - type source ...
        const QByteArrayList fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 5 || dash + 1 >= fields.size() || holdsNoFiles(fields[dash + 1]))
            continue;
        const QByteArray point = unescaped(fields[4]);
        if (point.startsWith('/') && !points.contains(point))
            points << point;
    }
    return points;
}

bool isUnder(const QByteArray &path, const QByteArray &under)
{
    return under == "/" || path == under || path.startsWith(under + '/');
}

// This user's own folder, private to them.
bool privateFolder(const struct stat &info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
}

// The mount point that holds path: the longest that is path or above it.
QByteArray topFolderOf(const QByteArray &path)
{
    QByteArray best;
    for (const QByteArray &point : mountPoints()) {
        if (isUnder(path, point) && point.size() > best.size())
            best = point;
    }
    return best;
}

} // namespace

QByteArray volumeJournalName()
{
    return ".vexalo-journal-" + QByteArray::number(::geteuid());
}

VolumeJournal volumeJournalFor(const QByteArray &folder, dev_t homeDevice, const QByteArray &under)
{
    // The files are where the folder leads, link or not; the folder opened
    // once is what is looked at from here on.
    Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat dirInfo {};
    if (dir.fd < 0 || ::fstat(dir.fd, &dirInfo) != 0 || dirInfo.st_dev == homeDevice)
        return {};
    char resolved[4096];
    const QByteArray byFd = "/proc/self/fd/" + QByteArray::number(dir.fd);
    const ssize_t n = ::readlink(byFd.constData(), resolved, sizeof resolved);
    if (n <= 0 || n >= ssize_t(sizeof resolved) || resolved[0] != '/')
        return {};
    const QByteArray top = topFolderOf(QByteArray(resolved, n));
    if (top.isEmpty() || !isUnder(top, under))
        return {};
    // The top folder itself: the files' own file system (not one mounted
    // over it since), and on a way no one else may change. In a top folder
    // others may write to without the sticky bit, they could rename the
    // journal away and put their own in its place.
    Fd topFd(::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat topInfo {};
    if (topFd.fd < 0 || ::fstat(topFd.fd, &topInfo) != 0 || topInfo.st_dev != dirInfo.st_dev)
        return {};
    if (!untrustedOnTheWay(top, true).isEmpty())
        return {};
    const QByteArray name = volumeJournalName();
    const QByteArray root = top + (top.endsWith('/') ? "" : "/") + name;
    // A read-only file system, or a top folder this user may not write to:
    // the home journal, with copies.
    const bool made = ::mkdirat(topFd.fd, name.constData(), 0700) == 0;
    if (!made && errno != EEXIST)
        return {};
    Fd rootFd(::openat(topFd.fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (rootFd.fd < 0) {
        struct stat there {};
        const bool link =
            ::fstatat(topFd.fd, name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(there.st_mode);
        return {{},
                link ? tr("%1 is a link").arg(shown(root))
                     : tr("%1: %2").arg(shown(root), IoStatus::fromErrno(errno).error)};
    }
    struct stat info {};
    if (::fstat(rootFd.fd, &info) != 0)
        return {};
    // Made just now under an odd umask: made private. One found is used
    // only as it is, never changed.
    if (made && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) != 0700
        && ::fchmod(rootFd.fd, 0700) == 0)
        info.st_mode = (info.st_mode & ~07777) | 0700;
    if (!privateFolder(info) || info.st_dev != dirInfo.st_dev)
        return {{},
                tr("the journal folder %1 is not a folder of this user's that only they may open").arg(shown(root))};
    struct statvfs fs {};
    if (::fstatvfs(rootFd.fd, &fs) != 0 || (fs.f_flag & ST_RDONLY)
        || ::faccessat(rootFd.fd, ".", W_OK, AT_EACCESS) != 0)
        return {};
    return {root, {}};
}

QByteArrayList volumeJournals(const QByteArray &under)
{
    QByteArrayList roots;
    std::set<std::pair<dev_t, ino_t>> seen; // a file system mounted twice holds one journal
    const QByteArray name = volumeJournalName();
    for (const QByteArray &point : mountPoints()) {
        if (!isUnder(point, under))
            continue;
        const QByteArray root = point + (point.endsWith('/') ? "" : "/") + name;
        struct stat info {};
        if (::lstat(root.constData(), &info) != 0 || !privateFolder(info))
            continue;
        if (seen.insert({info.st_dev, info.st_ino}).second)
            roots << root;
    }
    return roots;
}

} // namespace vexalo::journal
