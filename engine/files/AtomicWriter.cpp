// SPDX-License-Identifier: MIT
// The atomic writer: a new file beside the old one, with the old one's
// metadata, renamed (or swapped) into its place once whole and on the disk.
#include "engine/files/FileOps.h"
#include "engine/files/FileInternals.h"

#include "engine/files/Digest.h"

#include "engine/files/FileMetadata.h"
#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <new>
#include <utility>
#include <sys/ioctl.h>
#include <linux/fs.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vexalo {

using namespace filesdetail;

namespace {

// Writes every byte the vectors describe or fails: a writev() that takes
// fewer bytes than asked (a full disk may do that once before it fails) goes
// on from where it stopped, and is never taken for success.
int writevAll(int fd, iovec *iov, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        size_t done = size_t(n);
        while (count > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + done;
            iov->iov_len -= done;
        }
    }
    return 0;
}

// Long stretches go to the kernel straight from the caller's memory in one
// writev() per thousand pieces, so a large file is never copied a second time
// in user space; pieces of a few bytes (many short matches) are first gathered
// into a buffer, so the kernel is not handed thousands of tiny vectors.
int writePieces(int fd, std::span<const QByteArrayView> pieces)
{
    constexpr size_t directThreshold = 4 * 1024;
    constexpr size_t maxBufferSize = 1024 * 1024;
    constexpr int maxVectors = 1024; // IOV_MAX on Linux
    // Sized to what the short pieces need and left uninitialised: a small
    // file's rewrite must not pay for clearing a megabyte it never uses.
    size_t gathered = 0;
    for (const QByteArrayView &piece : pieces) {
        if (size_t(piece.size()) < directThreshold)
            gathered += size_t(piece.size());
    }
    const size_t bufferSize = std::min(gathered, maxBufferSize);
    std::unique_ptr<char[]> buffer;
    size_t used = 0;
    iovec vectors[maxVectors];
    int count = 0;
    // The vectors may point into the buffer, so it is reused only after them.
    auto flush = [&]() -> int {
        const int err = writevAll(fd, vectors, count);
        count = 0;
        used = 0;
        return err;
    };
    for (const QByteArrayView &piece : pieces) {
        const size_t size = size_t(piece.size());
        if (size == 0)
            continue;
        if (size >= directThreshold) {
            if (count == maxVectors) {
                if (const int err = flush())
                    return err;
            }
            vectors[count++] = {const_cast<char *>(piece.data()), size};
            continue;
        }
        if (!buffer)
            buffer.reset(new char[bufferSize]);
        if (used + size > bufferSize || count == maxVectors) {
            if (const int err = flush())
                return err;
        }
        char *at = buffer.get() + used;
        std::memcpy(at, piece.data(), size);
        used += size;
        // Consecutive short pieces share one vector.
        if (count > 0 && static_cast<char *>(vectors[count - 1].iov_base) + vectors[count - 1].iov_len == at)
            vectors[count - 1].iov_len += size;
        else
            vectors[count++] = {at, size};
    }
    return count > 0 ? flush() : 0;
}

int syncFolder(const QByteArray &folder)
{
    Fd dir{::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0)
        return errno;
    if (::fsync(dir.fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

// The process's umask, read without changing it: setting and restoring it
// would race with another thread creating a file at that moment.
mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return 022;
}

} // namespace

IoStatus writeFileAtomically(const FilePath &path, QByteArrayView bytes, const WriteOptions &options)
{
    const QByteArrayView pieces[] = {bytes};
    return writeFileAtomically(path, std::span<const QByteArrayView>(pieces), options);
}

// From this size on a swapped file's writeback starts as it is swapped.
constexpr qint64 largeWriteback = 1024 * 1024;

struct AtomicWriter::State {
    WriteOptions options;
    QByteArray target;
    QByteArray folder;
    FileMetadata metadata;
    Fd temp;
    QByteArray tempName; // set once the temporary has a name, in tempFolder
    int tempFolder = AT_FDCWD;
    bool anonymous = false;
    bool committed = false;
    struct stat tempInfo {};        // as the temporary was first seen: its device and inode
    std::unique_ptr<Digest> digest; // of what is written, while a keeper is to be asked
    qint64 written = 0;

    void add(QByteArrayView bytes)
    {
        digest->addData(bytes);
        written += bytes.size();
    }

    // What renameIntoPlace returns for a file another program changed.
    static constexpr int changed = -1;

    // Whether the file is still the one that was read. For a swap this is
    // asked of what the swap took out, after it, where no later change can
    // slip in; for a rename, of the name just before it.
    bool unchanged(int dirFd, const char *name, int flags) const
    {
        struct stat now {};
        return !options.expected || (::fstatat(dirFd, name, &now, flags) == 0 && sameFile(now, *options.expected));
    }

    // The new content takes the file's place: swapped with it where the
    // keeper asked (the old file then holds the keeper's name), renamed over
    // it otherwise, and where the swap cannot be made (a file system without
    // it) renamed over it all the same, and the keeper hears of no swap.
    int renameIntoPlace(const KeepDecision &keep)
    {
        if (keep.swap()) {
            const char *name = keep.name.constData();
            if (tempFolder == keep.folder || ::renameat(tempFolder, tempName.constData(), keep.folder, name) == 0) {
                tempName = keep.name;
                tempFolder = keep.folder;
                if (::renameat2(tempFolder, name, AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
                    if (!unchanged(tempFolder, name, AT_SYMLINK_NOFOLLOW))
                        return swapBack();
                    tempName.clear(); // the old file, now under that name, is the keeper's
                    options.keeper->swapped();
                    return 0;
                }
            }
        }
        if (!unchanged(AT_FDCWD, target.constData(), 0))
            return changed;
        if (::renameat(tempFolder, tempName.constData(), AT_FDCWD, target.constData()) != 0)
            return errno;
        tempName.clear();
        return 0;
    }

    // The swap took out a file another program had changed or put there at
    // the last instant: swapped again, its content is back in place and the
    // new content under the keeper's name, removed there as the temporary.
    // Whatever else holds that name stays: it may be someone's only copy.
    int swapBack()
    {
        const char *name = tempName.constData();
        struct stat back {};
        if (::renameat2(tempFolder, name, AT_FDCWD, target.constData(), RENAME_EXCHANGE) != 0
            || ::fstatat(tempFolder, name, &back, AT_SYMLINK_NOFOLLOW) != 0 || back.st_ino != tempInfo.st_ino
            || back.st_dev != tempInfo.st_dev)
            tempName.clear();
        return changed;
    }

    // An unnamed temporary gets its name: the keeper's, in its folder, where
    // it asked for a swap (a link there, no rename more); a hidden one beside
    // the file otherwise.
    int nameTemp(const KeepDecision &keep)
    {
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(temp.fd);
        if (keep.swap()) {
            const char *name = keep.name.constData();
            if (::linkat(AT_FDCWD, procPath.constData(), keep.folder, name, AT_SYMLINK_FOLLOW) == 0
                || (errno == ENOENT && ::linkat(temp.fd, "", keep.folder, name, AT_EMPTY_PATH) == 0)) {
                tempName = keep.name;
                tempFolder = keep.folder;
                return 0;
            }
        }
        int err = EEXIST;
        for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
            tempName = folder + '/' + native(temporaryPrefix()) + randomSuffix();
            err = ::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, tempName.constData(), AT_SYMLINK_FOLLOW) == 0
                ? 0
                : errno;
            if (err == ENOENT) // no /proc: root can still name it directly
                err = ::linkat(temp.fd, "", AT_FDCWD, tempName.constData(), AT_EMPTY_PATH) == 0 ? 0 : errno;
        }
        if (err)
            tempName.clear(); // nothing was named, so nothing is left to remove
        return err;
    }

    IoStatus createTemp();

    void removeTemp()
    {
        if (!tempName.isEmpty())
            ::unlinkat(tempFolder, tempName.constData(), 0);
        tempName.clear();
        tempFolder = AT_FDCWD;
    }
};

namespace {

// The file a write to target replaces: a link stays a link, and the file it
// points to is the one rewritten (a file the caller holds open under this
// very name is none). *exists and *current tell whether it is there and
// what it is.
IoStatus resolveTarget(QByteArray &target, const WriteOptions &options, struct stat *current, bool *exists)
{
    struct stat linkInfo {};
    const bool held = options.openFile >= 0 && options.openInfo && !options.replaceName;
    if (held)
        linkInfo = *options.openInfo;
    const bool linkExists = held || ::lstat(target.constData(), &linkInfo) == 0;
    const int lstatErr = linkExists ? 0 : errno;
    const bool isLink = linkExists && S_ISLNK(linkInfo.st_mode) && !options.replaceName;
    if (options.replaceName && linkExists) {
        if (const IoStatus refused = nameRefusesBackup(linkInfo); !refused.ok())
            return refused;
    }
    if (!isLink) {
        // What lstat saw is the file itself: one system call less per file,
        // which counts in a run over many small files.
        *exists = linkExists;
        *current = linkInfo;
        if (!linkExists && lstatErr != ENOENT)
            return IoStatus::fromErrno(lstatErr);
    } else {
        char *resolved = ::realpath(target.constData(), nullptr);
        if (!resolved) {
            const int err = errno;
            if (err == ENOENT)
                return {err, QCoreApplication::translate("FileOps", "it is a link to a file that does not exist")};
            return IoStatus::fromErrno(err);
        }
        target = resolved;
        std::free(resolved);
        *exists = ::stat(target.constData(), current) == 0;
        if (!*exists && errno != ENOENT)
            return IoStatus::fromErrno(errno);
    }
    if (*exists && S_ISDIR(current->st_mode))
        return IoStatus::fromErrno(EISDIR);
    return {};
}

} // namespace

// The new content goes to an unnamed file first where the file system
// allows it, so a run killed while writing leaves nothing behind; else to a
// hidden name beside the file.
IoStatus AtomicWriter::State::createTemp()
{
#ifdef O_TMPFILE
    temp.fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    anonymous = temp.fd >= 0;
#endif
    if (anonymous)
        return {};
    for (int attempt = 0; attempt < 100 && temp.fd < 0; ++attempt) {
        tempName = folder + '/' + native(temporaryPrefix()) + randomSuffix();
        temp.fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (temp.fd >= 0)
            return {};
        const int err = errno;
        tempName.clear();
        if (err == EACCES || err == EPERM || err == EROFS) {
            // The file itself may well be writable: it is the folder that refuses.
            return IoStatus::fromErrno(err,
                                       QCoreApplication::translate("FileOps", "the folder \"%1\" cannot be written")
                                           .arg(displayName(decodeFileName(folder))));
        }
        if (err != EEXIST)
            return IoStatus::fromErrno(err);
    }
    return IoStatus::fromErrno(EEXIST);
}

AtomicWriter::AtomicWriter(const FilePath &path, const WriteOptions &options)
    : m(std::make_unique<State>())
{
    m->options = options;
    if (options.keeper)
        m->digest = std::make_unique<Digest>();
    QByteArray target = path.bytes();
    struct stat current {};
    bool exists = false;
    if (const IoStatus resolved = resolveTarget(target, options, &current, &exists); !resolved.ok()) {
        m_status = resolved;
        return;
    }

    // Owner, group, permission bits, ACL and extended attributes of the file
    // being replaced (or those asked for), so the rewrite changes nothing
    // but the content.
    if (const IoStatus kept = m->metadata.read(target, exists ? &current : nullptr, options); !kept.ok()) {
        m_status = kept;
        return;
    }
    if (!m->metadata.known())
        m->metadata.setMode(0666 & ~processUmask());

    m->target = target;
    m->folder = folderOf(target);
    if (const IoStatus created = m->createTemp(); !created.ok()) {
        m_status = created;
        return;
    }
    if (const IoStatus owned = m->metadata.applyOwner(m->temp.fd, &m->tempInfo); !owned.ok())
        fail(owned);
}

AtomicWriter::~AtomicWriter()
{
    m->removeTemp();
}

IoStatus AtomicWriter::fail(const IoStatus &status)
{
    m->removeTemp();
    if (m->temp.fd >= 0)
        ::close(m->temp.release());
    m_status = status;
    return status;
}

IoStatus AtomicWriter::write(std::span<const QByteArrayView> pieces)
{
    if (!m_status.ok())
        return m_status;
    if (const int err = writePieces(m->temp.fd, pieces))
        return fail(IoStatus::fromErrno(err));
    if (m->digest) {
        for (const QByteArrayView &piece : pieces)
            m->add(piece);
    }
    return {};
}

IoStatus AtomicWriter::copyFrom(int fd, qint64 offset, qint64 length)
{
    if (!m_status.ok())
        return m_status;
    if (length <= 0)
        return {};
    // A digest needs the bytes themselves, so they come through here then.
    if (!m->digest) {
#ifdef FICLONE
        // A whole file into an empty temporary: a file system that shares
        // blocks between files (Btrfs, XFS) copies nothing at all.
        struct stat from {};
        if (offset == 0 && ::lseek(m->temp.fd, 0, SEEK_CUR) == 0 && ::fstat(fd, &from) == 0
            && qint64(from.st_size) == length && ::ioctl(m->temp.fd, FICLONE, fd) == 0) {
            if (::lseek(m->temp.fd, 0, SEEK_END) < 0)
                return fail(IoStatus::fromErrno(errno));
            return {};
        }
#endif
        loff_t at = offset;
        while (length > 0) {
            const ssize_t n =
                ::copy_file_range(fd, &at, m->temp.fd, nullptr, size_t(std::min<qint64>(length, qint64(1) << 30)), 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // Not between these two files: by hand, below.
                if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
                    break;
                return fail(IoStatus::fromErrno(errno));
            }
            // Some file systems copy nothing rather than say they cannot:
            // the loop below tells that from a file that ended early.
            if (n == 0)
                break;
            length -= n;
        }
        offset = at;
        if (length == 0)
            return {};
    }
    constexpr qint64 chunk = 256 * 1024;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(std::min(length, chunk))]);
    if (!buffer)
        return fail(IoStatus::fromErrno(ENOMEM));
    while (length > 0) {
        const ssize_t n = ::pread(fd, buffer.get(), size_t(std::min(length, chunk)), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(IoStatus::fromErrno(errno));
        }
        if (n == 0)
            return fail(IoStatus::failure(changedUnderneathReason()));
        iovec one{buffer.get(), size_t(n)};
        if (const int err = writevAll(m->temp.fd, &one, 1))
            return fail(IoStatus::fromErrno(err));
        if (m->digest)
            m->add(QByteArrayView(buffer.get(), n));
        offset += n;
        length -= n;
    }
    return {};
}

IoStatus AtomicWriter::commit()
{
    if (!m_status.ok())
        return m_status;
    const WriteOptions &options = m->options;
    Fd &temp = m->temp;
    const QByteArray &folder = m->folder;
    auto fail = [&](int err) { return this->fail(IoStatus::fromErrno(err)); };

    if (const IoStatus kept = m->metadata.applyAccess(temp.fd); !kept.ok())
        return this->fail(kept);
    if (options.times && ::futimens(temp.fd, options.times) != 0)
        return fail(errno);
    if (options.syncData && ::fdatasync(temp.fd) != 0)
        return fail(errno);

    if (m->tempInfo.st_ino == 0 && options.keeper && ::fstat(temp.fd, &m->tempInfo) != 0)
        return fail(errno);

    KeepDecision keep;
    if (options.keeper)
        keep = options.keeper->decide({m->tempInfo.st_dev, m->tempInfo.st_ino, m->written, m->digest->result()});
    if (m->anonymous) {
        if (const int err = m->nameTemp(keep))
            return fail(err);
    }
    // A rename over a file starts the new content's writeback on ext4
    // (auto_da_alloc); the swap does not, and a large file's writes then all
    // wait for the sync at the run's end instead of going while the run goes
    // on. Started here for large files only: for a small one, one sync of
    // many at the end costs less than a write each.
    if (keep.swap() && !options.syncData && m->written >= largeWriteback)
        ::sync_file_range(temp.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(temp.release()) != 0)
        return fail(errno);
    // The file is looked at as late as it can be, after the journal's record
    // and the close (either may take a while): just before a rename (a change
    // another program makes between the two is the one that can still be
    // lost), or after a swap, which is undone if it took out another file.
    // Failing here, the keeper withdraws its record.
    if (const int err = m->renameIntoPlace(keep))
        return err == State::changed ? this->fail(IoStatus::failure(changedUnderneathReason())) : fail(err);
    m->tempFolder = AT_FDCWD;
    m->committed = true;
    m_status = IoStatus::failure(QStringLiteral("committed")); // a writer commits once

    if (options.syncData) {
        if (const int err = syncFolder(folder))
            return IoStatus::fromErrno(err, QCoreApplication::translate("FileOps", "written, but not synced"));
    }
    return {};
}

bool AtomicWriter::committed() const
{
    return m->committed;
}

IoStatus writeFileAtomically(const FilePath &path, std::span<const QByteArrayView> pieces, const WriteOptions &options)
{
    AtomicWriter writer(path, options);
    if (const IoStatus written = writer.write(pieces); !written.ok())
        return written;
    return writer.commit();
}

IoStatus writeFileAtomically(const FilePath &path, const ReadResult &from, const WriteOptions &options)
{
    if (!from.unread.isOpen())
        return writeFileAtomically(path, QByteArrayView(from.data), options);
    AtomicWriter writer(path, options);
    if (const IoStatus copied = writer.copyFrom(from.unread.fd(), 0, qint64(from.info.st_size)); !copied.ok())
        return copied;
    return writer.commit();
}

} // namespace vexalo
