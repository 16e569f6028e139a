// SPDX-License-Identifier: MIT
#include "engine/files/FileMetadata.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vexalo {

namespace {

const char aclName[] = "system.posix_acl_access";

// The messages' context, as lupdate files them and the window looks them up:
// a MetadataText::tr() of a function here would be filed under a name the program never asks for.
struct MetadataText {
    Q_DECLARE_TR_FUNCTIONS(FileMetadata)
};

QString userName(uid_t uid)
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString groupName(gid_t gid)
{
    struct group entry {};
    struct group *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

// What the user loses when an attribute cannot be set, in the user's terms.
QString lossOf(const QByteArray &name)
{
    const QString shown = QString::fromLocal8Bit(name);
    // system.posix_acl_access, and the ACLs of network file systems
    // (system.nfs4_acl) and the like: all of them say who may access the file.
    if (name.startsWith("system."))
        return MetadataText::tr("its access control list could not be kept");
    if (name == "security.capability")
        return MetadataText::tr("its file capabilities could not be kept");
    if (name.startsWith("security."))
        return MetadataText::tr("its security label (%1) could not be kept").arg(shown);
    return MetadataText::tr("its extended attribute %1 could not be kept").arg(shown);
}

// Whether the open file already carries this value: a security label the
// system gave the new file, say, which the process may not set but need not.
bool carries(int fd, const QByteArray &name, const QByteArray &value)
{
    QByteArray now(value.size() + 1, Qt::Uninitialized);
    const ssize_t n = ::fgetxattr(fd, name.constData(), now.data(), size_t(now.size()));
    return n == value.size() && QByteArrayView(now.constData(), n) == QByteArrayView(value);
}

struct PathFd {
    int fd = -1;
    ~PathFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

IoStatus FileMetadata::read(const QByteArray &target, const struct stat *current, const WriteOptions &options)
{
    m_attributes.clear();
    m_folderGivesAcl = options.folderGivesAcl != 0;
    const struct stat *like = current && !options.alwaysModeFrom ? current : options.modeFrom;
    m_known = like != nullptr;
    if (!like)
        return {};
    m_mode = like->st_mode & 07777;
    m_uid = like->st_uid;
    m_gid = like->st_gid;
    // The file itself, held open by the caller: nothing to look up by name.
    if (options.openFile >= 0 && options.openInfo && options.openInfo->st_dev == like->st_dev
        && options.openInfo->st_ino == like->st_ino)
        return readAttributes({}, false, options.openFile);
    if (like == current) {
        // The writer hands over the name with links already resolved: what
        // is there now is the file itself, or another file in its place,
        // which the writer's own check for a changed file then finds.
        return readAttributes(target, false);
    }
    if (options.metadataFrom.isEmpty())
        return {};

    // The other file is named, so a link planted under its name in the
    // meantime could hand over the attributes of any file: they are read
    // only from the very file the owner and mode were taken from.
    PathFd file{::open(options.metadataFrom.c_str(), O_PATH | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        const int err = errno;
        return IoStatus::fromErrno(err, MetadataText::tr("its attributes could not be read"));
    }
    if (info.st_dev != like->st_dev || info.st_ino != like->st_ino)
        return IoStatus::failure(MetadataText::tr("%1 was replaced by another file while it was being processed")
                                     .arg(options.metadataFrom.fileName().display()));
    // An O_PATH descriptor carries no attribute calls of its own; its name
    // under /proc leads to the same file whatever happens to the other name.
    const QByteArray byDescriptor = "/proc/self/fd/" + QByteArray::number(file.fd);
    const IoStatus status = readAttributes(byDescriptor, true);
    if (status.code == ENOENT) // no /proc here: the name is all there is
        return readAttributes(options.metadataFrom.bytes(), true);
    return status;
}

IoStatus FileMetadata::readAttributes(const QByteArray &path, bool followLinks, int fd)
{
    m_attributes.clear();
    const auto list = [&](char *buffer, size_t size) {
        if (fd >= 0)
            return ::flistxattr(fd, buffer, size);
        return followLinks ? ::listxattr(path.constData(), buffer, size) : ::llistxattr(path.constData(), buffer, size);
    };
    const auto get = [&](const char *name, char *buffer, size_t size) {
        if (fd >= 0)
            return ::fgetxattr(fd, name, buffer, size);
        return followLinks ? ::getxattr(path.constData(), name, buffer, size)
                           : ::lgetxattr(path.constData(), name, buffer, size);
    };

    // Most files have no attributes, or a few short names: one call.
    char small[1024];
    QByteArray large;
    const char *names = small;
    ssize_t size = list(small, sizeof small);
    while (size < 0 && errno == ERANGE) {
        const ssize_t needed = list(nullptr, 0);
        if (needed < 0)
            break;
        large.resize(needed);
        names = large.constData();
        size = list(large.data(), size_t(needed)); // ERANGE again if it grew meanwhile
    }
    if (size < 0) {
        // A file system without extended attributes has none to keep.
        const int err = errno;
        if (err == ENOTSUP)
            return {};
        return IoStatus::fromErrno(err, MetadataText::tr("its attributes could not be read"));
    }

    for (const char *name = names; name < names + size; name += qstrlen(name) + 1) {
        if (!*name)
            continue;
        QByteArray value(256, Qt::Uninitialized);
        ssize_t n;
        while ((n = get(name, value.data(), size_t(value.size()))) < 0 && errno == ERANGE) {
            const ssize_t needed = get(name, nullptr, 0);
            if (needed < 0)
                break;
            value.resize(needed + 1);
        }
        if (n < 0) {
            const int err = errno;
            if (err == ENODATA)
                continue; // removed since it was listed: nothing to keep
            return IoStatus::fromErrno(
                err, MetadataText::tr("its extended attribute %1 could not be read").arg(QString::fromLocal8Bit(name)));
        }
        value.truncate(n);
        m_attributes.push_back({QByteArray(name), value});
    }
    return {};
}

IoStatus FileMetadata::applyOwner(int fd, struct stat *seen) const
{
    if (!m_known)
        return {};
    // The new file is the writer's, in the writer's group or, in a set-group-ID
    // folder, the folder's: only what differs from the old file is changed.
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return IoStatus::fromErrno(errno);
    if (seen)
        *seen = now;
    if (now.st_uid != m_uid) {
        // Only root gives a file away. The file is not rewritten at all
        // rather than becoming the writer's: its owner would lose it.
        if (::fchown(fd, m_uid, m_gid) != 0) {
            const int err = errno; // the name lookup may change errno
            return IoStatus::fromErrno(err, MetadataText::tr("its owner (%1) could not be kept").arg(userName(m_uid)));
        }
    } else if (now.st_gid != m_gid) {
        // The group alone: an owner may give the file any group of theirs.
        if (::fchown(fd, uid_t(-1), m_gid) != 0) {
            const int err = errno;
            return IoStatus::fromErrno(err, MetadataText::tr("its group (%1) could not be kept").arg(groupName(m_gid)));
        }
    }
    return {};
}

IoStatus FileMetadata::applyAccess(int fd) const
{
    // The permission bits first: an ACL's mask and the group bits are one
    // thing, so the ACL set after them leaves both as the old file had them.
    if (::fchmod(fd, m_mode) != 0)
        return IoStatus::fromErrno(errno);
    if (!m_known)
        return {};

    bool hasAcl = false;
    for (const Attribute &attribute : m_attributes) {
        hasAcl = hasAcl || attribute.name == aclName;
        if (::fsetxattr(fd, attribute.name.constData(), attribute.value.constData(), size_t(attribute.value.size()), 0)
            == 0)
            continue;
        const int err = errno;
        if (carries(fd, attribute.name, attribute.value))
            continue;
        // Every failure counts, a user attribute the file system here does
        // not support (ENOTSUP) included: an ACL or a security label that is
        // lost changes who may access the file, and a user attribute is the
        // user's data.
        return IoStatus::fromErrno(err, lossOf(attribute.name));
    }
    if (!hasAcl && m_folderGivesAcl) {
        // A new file takes the default ACL of its folder; the old file had no
        // ACL, so the new one must grant nobody more than it did.
        if (::fremovexattr(fd, aclName) != 0 && errno != ENODATA && errno != ENOTSUP) {
            const int err = errno;
            return IoStatus::fromErrno(err, lossOf(aclName));
        }
    }

    // Setting an ACL takes the set-group-ID bit away from a file whose group
    // the writer is not in, and a chmod by such a writer drops it silently:
    // the bits are set again and must hold.
    if (m_mode & (S_ISUID | S_ISGID)) {
        struct stat now {};
        if (::fstat(fd, &now) != 0)
            return IoStatus::fromErrno(errno);
        if ((now.st_mode & 07777) != m_mode) {
            if (::fchmod(fd, m_mode) != 0 || ::fstat(fd, &now) != 0)
                return IoStatus::fromErrno(errno);
            if ((now.st_mode & 07777) != m_mode)
                return IoStatus::fromErrno(EPERM,
                                           MetadataText::tr("its set-user-ID or set-group-ID bit could not be kept"));
        }
    }
    return {};
}

} // namespace vexalo
