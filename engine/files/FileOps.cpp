// SPDX-License-Identifier: MIT
#include "engine/files/FileOps.h"
#include "engine/files/FileInternals.h"

#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vexalo {

using namespace filesdetail;

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

namespace filesdetail {

QByteArray native(const QString &path)
{
    return encodeFileName(path);
}

QByteArray randomSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray s(8, Qt::Uninitialized);
    for (char &c : s)
        c = alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet - 1))];
    return s;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

IoStatus nameRefusesBackup(const struct stat &named)
{
    if (S_ISLNK(named.st_mode) || S_ISREG(named.st_mode))
        return {};
    if (S_ISDIR(named.st_mode))
        return {EISDIR, QCoreApplication::translate("FileOps", "a folder has its name")};
    return {0,
            QCoreApplication::translate("FileOps",
                                        "something that is not a regular file (a device, a pipe "
                                        "or a socket) has its name")};
}

} // namespace filesdetail

IoStatus IoStatus::fromErrno(int err, const QString &what)
{
    const QString reason = systemReason(err);
    return {err, what.isEmpty() ? reason : what + QStringLiteral(": ") + reason};
}

QString temporaryPrefix()
{
    return QStringLiteral(".vexalo4-");
}

bool isRegularFile(const FilePath &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

IoStatus checkWritable(const FilePath &path, const struct stat &info)
{
    // The rewrite replaces the file a link leads to, in that file's folder:
    // that is where the new file must be created and renamed.
    QByteArray target = path.bytes();
    struct stat named {};
    if (::lstat(target.constData(), &named) == 0 && S_ISLNK(named.st_mode)) {
        if (char *resolved = ::realpath(target.constData(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    FolderChecks once;
    return once.checkWritable(target, info);
}

// What a run needs to know of a folder it rewrites files in.
struct FolderChecks::Facts {
    IoStatus forbidden;    // an attribute forbids replacing any file in it
    IoStatus refused;      // it may not be written
    bool readOnly = false; // on a read-only file system, and so are its files
    bool sticky = false;   // only a file's or the folder's owner may replace it
    uid_t owner = 0;
    bool givesAcl = true; // a default ACL (or not known)
};

struct FolderChecks::State {
    std::mutex mutex;
    // Nodes, so that a reference stays valid as the table grows.
    std::unordered_map<std::string, std::unique_ptr<Facts>> folders;
};

FolderChecks::FolderChecks()
    : m(std::make_unique<State>())
{
}

FolderChecks::~FolderChecks() = default;

const FolderChecks::Facts &FolderChecks::factsOf(const QByteArray &folder)
{
    const std::string key(folder.constData(), size_t(folder.size()));
    {
        std::lock_guard lock(m->mutex);
        if (const auto it = m->folders.find(key); it != m->folders.end())
            return *it->second;
    }
    auto facts = std::make_unique<Facts>();
    struct statx sx {};
    if (::statx(AT_FDCWD, folder.constData(), 0, STATX_MODE | STATX_UID, &sx) == 0) {
        const auto set = sx.stx_attributes_mask & sx.stx_attributes;
        if (set & STATX_ATTR_IMMUTABLE)
            facts->forbidden =
                IoStatus::fromErrno(EPERM, QCoreApplication::translate("FileOps", "its folder is marked immutable"));
        else if (set & STATX_ATTR_APPEND)
            facts->forbidden =
                IoStatus::fromErrno(EPERM, QCoreApplication::translate("FileOps", "its folder is marked append-only"));
        facts->sticky = sx.stx_mode & S_ISVTX;
        facts->owner = sx.stx_uid;
    }
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        facts->readOnly = errno == EROFS;
        facts->refused =
            IoStatus::fromErrno(errno,
                                QCoreApplication::translate("FileOps", "the folder \"%1\" cannot be written")
                                    .arg(displayName(decodeFileName(folder))));
    }
    if (::getxattr(folder.constData(), "system.posix_acl_default", nullptr, 0) < 0
        && (errno == ENODATA || errno == ENOTSUP))
        facts->givesAcl = false;
    std::lock_guard lock(m->mutex);
    // Another thread may have looked first: either answer serves.
    return *m->folders.try_emplace(key, std::move(facts)).first->second;
}

bool FolderChecks::givesAcl(const QByteArray &target)
{
    return factsOf(folderOf(target)).givesAcl;
}

IoStatus FolderChecks::checkWritable(const QByteArray &target, const struct stat &info,
                                     std::optional<quint64> attributes)
{
    // Root may write anything; a file its owner marked read-only is still
    // read-only to this program.
    if (!(info.st_mode & S_IWUSR))
        return IoStatus::failure(QCoreApplication::translate("FileOps", "the file is read-only"));
    // Found out here, before a backup takes the place of an older one for a
    // rewrite that is bound to fail at the rename. statx reports the
    // attributes that forbid it even for root (chattr +i, +a) without
    // opening anything; a file system that has no such attributes reports none.
    if (!attributes) {
        struct statx sx {};
        if (::statx(AT_FDCWD, target.constData(), 0, 0, &sx) == 0)
            attributes = sx.stx_attributes_mask & sx.stx_attributes;
    }
    if (attributes && (*attributes & STATX_ATTR_IMMUTABLE))
        return IoStatus::fromErrno(EPERM, QCoreApplication::translate("FileOps", "the file is marked immutable"));
    if (attributes && (*attributes & STATX_ATTR_APPEND))
        return IoStatus::fromErrno(EPERM, QCoreApplication::translate("FileOps", "the file is marked append-only"));
    const QByteArray folder = folderOf(target);
    const Facts &facts = factsOf(folder);
    if (!facts.forbidden.ok())
        return facts.forbidden;
    // Root, and the owner (whose access the owner bits above decide, ACL or
    // not), may write it unless its file system is read-only, as its
    // folder's tells; anyone else is asked of the system.
    static const uid_t euid = ::geteuid();
    if (euid != 0 && euid != info.st_uid) {
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            return IoStatus::fromErrno(errno);
    } else if (facts.readOnly) {
        return IoStatus::fromErrno(EROFS);
    }
    if (!facts.refused.ok())
        return facts.refused;
    // In a folder with the sticky bit (such as /tmp) only the file's or the
    // folder's owner may rename another file over it.
    if (euid != 0 && facts.sticky && info.st_uid != euid && facts.owner != euid) {
        return IoStatus::fromErrno(
            EPERM, QCoreApplication::translate("FileOps", "its folder lets only the file's owner replace it"));
    }
    return {};
}

IoStatus checkBackupName(const FilePath &path)
{
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0)
        return {};
    return nameRefusesBackup(named);
}

QString changedUnderneathReason()
{
    return QCoreApplication::translate("FileOps",
                                       "it was changed by another program while it was being processed; "
                                       "its new content was left as it is");
}

bool sameContent(int a, int b, qint64 size)
{
    constexpr qint64 chunk = 256 * 1024;
    const size_t bufferSize = size_t(std::clamp<qint64>(size, 1, chunk));
    std::unique_ptr<char[]> one(new (std::nothrow) char[bufferSize]);
    std::unique_ptr<char[]> two(new (std::nothrow) char[bufferSize]);
    if (!one || !two)
        return false;
    auto readAt = [](int fd, char *into, qint64 count, qint64 at) {
        qint64 got = 0;
        while (got < count) {
            const ssize_t n = ::pread(fd, into + got, size_t(count - got), off_t(at + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            got += n;
        }
        return true;
    };
    for (qint64 at = 0; at < size; at += chunk) {
        const qint64 count = std::min(chunk, size - at);
        if (!readAt(a, one.get(), count, at) || !readAt(b, two.get(), count, at)
            || std::memcmp(one.get(), two.get(), size_t(count)) != 0)
            return false;
    }
    return true;
}

IoStatus renameNoReplace(const FilePath &folder, const FilePath &from, const FilePath &to)
{
    if (from == to)
        return {};
    const QByteArray a = (folder / from).bytes();
    const QByteArray b = (folder / to).bytes();
    struct stat sa {};
    if (::lstat(a.constData(), &sa) != 0)
        return IoStatus::fromErrno(errno);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return {};
    int err = errno;
    if (err == EEXIST) {
        struct stat sb {};
        if (::lstat(b.constData(), &sb) == 0 && sb.st_dev == sa.st_dev && sb.st_ino == sa.st_ino) {
            // A file system that ignores case sees the new name as the file
            // itself: go through a name of our own.
            const QByteArray middle = (folder / native(temporaryPrefix())).bytes() + randomSuffix();
            if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, middle.constData(), RENAME_NOREPLACE) != 0)
                return IoStatus::fromErrno(errno);
            if (::renameat2(AT_FDCWD, middle.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) != 0) {
                err = errno;
                ::rename(middle.constData(), a.constData());
                return IoStatus::fromErrno(err);
            }
            return {};
        }
        return {EEXIST,
                QCoreApplication::translate("FileOps", "another file named %1 already exists").arg(to.display())};
    }
    if (err == EINVAL || err == ENOSYS) {
        // No atomic "do not replace" here: a hard link fails on an existing
        // name just the same, and the old name is removed afterwards.
        if (::link(a.constData(), b.constData()) == 0) {
            if (::unlink(a.constData()) != 0) {
                // Two names for one file would pass for a copy: take the new
                // name away again and report the failure, not a success.
                err = errno;
                ::unlink(b.constData());
                return IoStatus::fromErrno(err);
            }
            return {};
        }
        err = errno;
        if (err == EEXIST)
            return {EEXIST,
                    QCoreApplication::translate("FileOps", "another file named %1 already exists").arg(to.display())};
    }
    return IoStatus::fromErrno(err);
}

IoStatus syncFileSystemOf(const FilePath &path)
{
    Fd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (fd.fd < 0)
        return IoStatus::fromErrno(errno);
    if (::syncfs(fd.fd) != 0)
        return IoStatus::fromErrno(errno);
    return {};
}

} // namespace vexalo
