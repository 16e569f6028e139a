// SPDX-License-Identifier: MIT
// The journal kept where the files are: a run over files on another file
// system than the home journal keeps its entry in a folder of its own at the
// top of that file system, so the old file is kept by a rename or a link
// there rather than by a copy in the home folder. The folder is this user's
// alone, mode 0700, never a link, in a top folder no one else may rename it
// out of; one that fails a check is not used, and the run keeps its entry
// in the home journal as before.
#include "engine/journal/JournalFolder.h"

#include "engine/files/FilePath.h"

#include <QCoreApplication>

#include <algorithm>
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

namespace {

// The list is a guide to where to look, never the record of a run: one that
// cannot be read is made again from a walk of the mounts.
const QByteArray listHeader = "vexalo-volumes 1";

QByteArray rootAt(const QByteArray &top)
{
    return top + (top.endsWith('/') ? "" : "/") + volumeJournalName();
}

QByteArray topOf(const QByteArray &root)
{
    const QByteArray top = root.left(root.lastIndexOf('/'));
    return top.isEmpty() ? QByteArray("/") : top;
}

QList<ListedVolume> readList(const QByteArray &home, bool *readable)
{
    int err = 0;
    const QByteArray text = readSmallFile(home + '/' + volumesName, &err);
    QList<ListedVolume> list;
    QByteArrayList lines = text.split('\n');
    *readable = !err && !lines.isEmpty() && lines.takeFirst() == listHeader;
    for (const QByteArray &line : std::as_const(lines)) {
        if (!*readable || line.isEmpty())
            continue;
        // "<newest run> <top folder, percent-encoded>": any byte may be in a name.
        const qsizetype blank = line.indexOf(' ');
        bool ok = false;
        const qint64 newest = line.left(blank).toLongLong(&ok);
        const QByteArray top = QByteArray::fromPercentEncoding(line.mid(blank + 1));
        if (blank < 0 || !ok || !top.startsWith('/'))
            *readable = false;
        else
            list.append({top, newest});
    }
    return *readable ? list : QList<ListedVolume>();
}

bool writeList(const QByteArray &home, const QList<ListedVolume> &list, bool durable)
{
    QByteArray text = listHeader + '\n';
    for (const ListedVolume &v : list)
        text += QByteArray::number(v.newest) + ' ' + v.top.toPercentEncoding("/") + '\n';
    const QByteArray path = home + '/' + volumesName;
    const QByteArray part = path + ".new";
    Fd fd(::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.fd < 0 || writeAll(fd.fd, text) != 0 || (durable && ::fdatasync(fd.fd) != 0)
        || ::rename(part.constData(), path.constData()) != 0) {
        ::unlink(part.constData());
        return false;
    }
    return !durable || syncPath(home) == 0;
}

// What an earlier version's journal, which kept no list, has on the volumes
// mounted now: every mount looked at, once.
QList<ListedVolume> walkedList(const QByteArray &homeId, const QByteArray &under)
{
    QList<ListedVolume> list;
    for (const QByteArray &root : volumeJournals(under)) {
        const qint64 newest = newestOwnRun(root, homeId);
        if (newest >= 0)
            list.append({topOf(root), newest});
    }
    return list;
}

} // namespace

qint64 newestOwnRun(const QByteArray &root, const QByteArray &homeId)
{
    int err = 0;
    const QByteArrayList names = entryNames(root, &err);
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        if (runOfEntry(*it) >= 0 && readSmallFile(root + '/' + *it + '/' + ownerName) == homeId)
            return runOfEntry(*it);
    }
    return -1;
}

VolumesSeen seeVolumes(const QByteArray &home, const QByteArray &under, bool haveLock)
{
    VolumesSeen seen;
    // The name is made before a run's first entry on another volume: a home
    // journal without one has kept nothing elsewhere, and nothing is looked at.
    const QByteArray id = homeJournalId(home, false);
    if (id.isEmpty())
        return seen;
    bool readable = false;
    QList<ListedVolume> list = readList(home, &readable);
    bool changed = !readable;
    if (!readable && haveLock)
        list = walkedList(id, under);
    if (changed && !haveLock) {
        RootLock lock(home);
        return seeVolumes(home, under, true);
    }
    const QByteArrayList mounted = mountPoints();
    std::set<std::pair<dev_t, ino_t>> known; // a file system mounted twice holds one journal
    for (auto it = list.begin(); it != list.end();) {
        if (!isUnder(it->top, under)) {
            ++it;
            continue;
        }
        // Only the list of mounts is read for a volume gone: its top folder
        // is not looked at.
        if (!mounted.contains(it->top)) {
            seen.unmounted.append(*it);
            ++it;
            continue;
        }
        const QByteArray root = rootAt(it->top);
        struct stat info {};
        const qint64 newest =
            ::lstat(root.constData(), &info) == 0 && privateFolder(info) ? newestOwnRun(root, id) : -1;
        // Emptied, or its runs undone or given up: not listed any more.
        if (newest < 0) {
            it = list.erase(it);
            changed = true;
            continue;
        }
        if (newest != it->newest) {
            it->newest = newest;
            changed = true;
        }
        if (known.insert({info.st_dev, info.st_ino}).second)
            seen.roots << root;
        ++it;
    }
    if (changed) {
        if (!haveLock) {
            RootLock lock(home);
            return seeVolumes(home, under, true);
        }
        writeList(home, list, false);
    }
    return seen;
}

bool noteVolume(const QByteArray &home, const QByteArray &root, qint64 newest, bool durable,
                const QByteArray &walkUnder)
{
    bool readable = false;
    QList<ListedVolume> list = readList(home, &readable);
    if (!readable && !walkUnder.isEmpty())
        list = walkedList(homeJournalId(home, false), walkUnder);
    const QByteArray top = topOf(root);
    const auto it = std::find_if(list.begin(), list.end(), [&](const ListedVolume &v) { return v.top == top; });
    const bool added = it == list.end() && newest >= 0;
    if (it == list.end() && !added)
        return true;
    if (added)
        list.append({top, newest});
    else if (newest < 0)
        list.erase(it);
    else
        it->newest = newest;
    return writeList(home, list, durable && added);
}

} // namespace vexalo::journal
