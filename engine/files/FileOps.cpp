// SPDX-License-Identifier: MIT
#include "engine/files/FileOps.h"

#include "engine/files/Digest.h"

#include "engine/files/FileMetadata.h"
#include "engine/files/FileNames.h"
#include "engine/text/TextTools.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <thread>
#include <utility>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <linux/fs.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace vexalo {

namespace {

QByteArray native(const QString &path)
{
    return encodeFileName(path);
}

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes a descriptor on every way out; close() errors matter only where the
// caller checks them explicitly.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

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

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
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

// A file too large for memory is reported like any failing file.
ReadResult tooLarge(ReadResult result)
{
    result.data = QByteArray();
    result.status =
        IoStatus::failure(QCoreApplication::translate("FileOps", "it is too large to hold in memory (%1 bytes)")
                              .arg(qint64(result.info.st_size)));
    return result;
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

// Waits for an exclusive flock on the file while the run's waiting period
// lasts: another run of this program holds one only while it rewrites the
// file, a matter of milliseconds. A file system without such locks is read
// unlocked, as the other program's run then does too. 0 once held (or not to
// be had).
int lockExclusive(int fd, bool *waited, LockWaits &waits, const QString &path)
{
    using namespace std::chrono;
    microseconds pause(200);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK)
            break;
        if (!*waited) {
            *waited = true;
            waits.begin(path);
        }
        if (waits.spent()) {
            waits.end();
            return err;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<microseconds>(pause * 2, milliseconds(20));
    }
    if (*waited)
        waits.end();
    return 0;
}

// A shared flock, not waited for: 0 once held (or not to be had), else the
// error of a file another program holds locked.
int lockSharedNow(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? EWOULDBLOCK : 0;
    }
}

// A backup takes the place of an older backup or of a link, never of a
// folder, a device, a pipe or a socket someone put there.
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

} // namespace

char *ReadBuffer::reserve(qsizetype size)
{
    if (size <= m_capacity)
        return m_data.get();
    m_data.reset();
    m_capacity = 0;
    char *data = new (std::nothrow) char[size_t(size)];
    if (!data)
        return nullptr;
    m_data.reset(data);
    m_capacity = size;
    return data;
}

void LockWaits::begin(const QString &path)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting++ == 0)
            m_since = Clock::now();
    }
    if (onWait)
        onWait(path);
}

void LockWaits::end()
{
    bool none;
    {
        std::lock_guard lock(m_mutex);
        none = --m_waiting == 0;
        if (none)
            m_spent += Clock::now() - m_since;
    }
    if (none && onWait)
        onWait({});
}

bool LockWaits::spent() const
{
    std::lock_guard lock(m_mutex);
    const Clock::duration now = m_waiting > 0 ? Clock::now() - m_since : Clock::duration{};
    return m_spent + now >= m_period;
}

IoStatus IoStatus::fromErrno(int err, const QString &what)
{
    const QString reason = systemReason(err);
    return {err, what.isEmpty() ? reason : what + QStringLiteral(": ") + reason};
}

QString temporaryPrefix()
{
    return QStringLiteral(".vexalo4-");
}

FileLock::FileLock(FileLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

OpenFile::OpenFile(OpenFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

OpenFile &OpenFile::operator=(OpenFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

OpenFile::~OpenFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

// Opens the file a name leads to for reading, and checks that it is a
// regular file; info is the file's, after links.
IoStatus openForReading(const QByteArray &name, const ReadOptions &options, Fd &file, struct stat *info)
{
    // O_NONBLOCK: a FIFO given as a file must not hang the run; regular
    // files read the same either way.
    file.fd =
        ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (options.noFollow ? O_NOFOLLOW : 0));
    if (file.fd < 0) {
        const int err = errno;
        struct stat link {};
        if (err == ENOENT && ::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return {err, QCoreApplication::translate("FileOps", "it is a link to a file that does not exist")};
        if (err == ELOOP && options.noFollow)
            return {err, QCoreApplication::translate("FileOps", "it is a link")};
        return IoStatus::fromErrno(err);
    }
    if (::fstat(file.fd, info) != 0)
        return IoStatus::fromErrno(errno);
    if (S_ISDIR(info->st_mode))
        return IoStatus::fromErrno(EISDIR);
    if (!S_ISREG(info->st_mode))
        return IoStatus::failure(QCoreApplication::translate("FileOps", "it is not a regular file"));
    return {};
}

// Locks the open file; *stillNamed says whether the name still leads to it.
IoStatus lockOpenFile(const QByteArray &name, const ReadOptions &options, int fd, struct stat *info, bool *stillNamed)
{
    bool waited = false;
    LockWaits ownPeriod;
    if (const int err = lockExclusive(fd, &waited, options.waits ? *options.waits : ownPeriod, decodeFileName(name)))
        // Said without the system's "Resource temporarily unavailable",
        // which tells the user nothing more.
        return {err, QCoreApplication::translate("FileOps", "another program kept it locked for too long")};
    // Taken again after a wait for the lock: what was there before it may
    // have changed.
    if (waited && ::fstat(fd, info) != 0)
        return IoStatus::fromErrno(errno);
    struct stat named {};
    const int namedOk = options.noFollow ? ::lstat(name.constData(), &named) : ::stat(name.constData(), &named);
    *stillNamed = namedOk == 0 && named.st_dev == info->st_dev && named.st_ino == info->st_ino;
    return {};
}

// Opens the file, and when asked locks it. A run that held the lock may have
// renamed a new file over the name while this one waited: then the locked
// file is no longer the one the name leads to, and the new one is opened and
// locked in turn.
IoStatus openAndLock(const QByteArray &name, const ReadOptions &options, Fd &file, ReadResult &result)
{
    for (int attempt = 0;; ++attempt) {
        if (const IoStatus opened = openForReading(name, options, file, &result.info); !opened.ok())
            return opened;
        if (options.tryShared && !options.lock && !options.lockLater) {
            if (const int err = lockSharedNow(file.fd))
                return {err, QCoreApplication::translate("FileOps", "it is locked by another program")};
            return {};
        }
        if (!options.lock && !options.lockLater)
            return {};
        bool stillNamed = false;
        if (const IoStatus locked = lockOpenFile(name, options, file.fd, &result.info, &stillNamed); !locked.ok())
            return locked;
        if (stillNamed)
            break;
        if (attempt == 100)
            return IoStatus::failure(
                QCoreApplication::translate("FileOps", "it was replaced again and again while waiting for its lock"));
        ::close(file.release());
    }
    // The lock belongs to the open file, so a second descriptor of it holds
    // the lock after the one read from is closed.
    const int held = ::fcntl(file.fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0)
        return IoStatus::fromErrno(errno);
    result.lock = FileLock(held);
    return {};
}

// One read() of up to size bytes, again when a signal interrupted it.
ssize_t readSome(int fd, char *into, size_t size)
{
    ssize_t n;
    do {
        n = ::read(fd, into, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

// The file read into memory a gate handed out, sized as fstat() gave it. A
// file that grew since has its rest read into memory of its own, after
// what is already there.
ReadResult readIntoGiven(int fd, char *data, ReadResult result)
{
    const qsizetype capacity = qsizetype(result.info.st_size);
    qsizetype size = 0;
    while (size < capacity) {
        const ssize_t n = readSome(fd, data + size, size_t(capacity - size));
        if (n < 0) {
            result.status = IoStatus::fromErrno(errno);
            return result;
        }
        if (n == 0)
            break; // it shrank
        size += n;
    }
    char probe[4096];
    ssize_t n = size < capacity ? 0 : readSome(fd, probe, sizeof probe);
    if (n <= 0) {
        if (n < 0)
            result.status = IoStatus::fromErrno(errno);
        else
            result.data = QByteArray::fromRawData(data, size);
        return result;
    }
    try {
        result.data = QByteArray(data, size);
        while (n > 0) {
            result.data.append(probe, n);
            n = readSome(fd, probe, sizeof probe);
        }
    } catch (const std::bad_alloc &) {
        return tooLarge(std::move(result));
    }
    if (n < 0) {
        result.status = IoStatus::fromErrno(errno);
        result.data.clear();
    }
    return result;
}

// The file read into memory of its own. One byte more than fstat() gave:
// once the whole size is in, a read that returns less than asked is at the
// end, so no extra read() is spent to find it. Short of the whole size, a
// short read (a network or FUSE file system may give one) only means "read
// on". A file that grew fills the buffer, which then grows until the end.
ReadResult readIntoOwn(int fd, ReadResult result)
{
    try {
        const qsizetype expected = qsizetype(result.info.st_size);
        qsizetype capacity = expected + 1;
        result.data.resize(capacity);
        qsizetype size = 0;
        for (;;) {
            if (size == capacity) {
                capacity = qMax<qsizetype>(capacity * 2, 4096);
                result.data.resize(capacity);
            }
            const ssize_t n = readSome(fd, result.data.data() + size, size_t(capacity - size));
            if (n < 0) {
                result.status = IoStatus::fromErrno(errno);
                result.data.clear();
                return result;
            }
            if (n == 0)
                break; // the end (also of a file that shrank)
            size += n;
            if (size >= expected && size < capacity)
                break;
        }
        result.data.truncate(size);
    } catch (const std::bad_alloc &) {
        return tooLarge(std::move(result));
    }
    return result;
}

// The content of the open file, into the gate's memory or memory of its own.
ReadResult readContent(int fd, ReadResult result, const ReadGate &beforeRead)
{
    ReadBuffer *buffer = beforeRead ? beforeRead(qint64(result.info.st_size)) : nullptr;
    if (buffer && result.info.st_size > 0) {
        if (char *data = buffer->reserve(qsizetype(result.info.st_size)))
            return readIntoGiven(fd, data, std::move(result));
    }
    return readIntoOwn(fd, std::move(result));
}

// A regular file just looked up by name, read whole and left open, unlocked:
// no status is taken, the look-up's stands for it until lockAsRead(). False
// where this does not apply or the open fails (the name is a link now, say):
// the general path then opens it again and says why.
bool readNamedUnlocked(const QByteArray &name, ReadResult &result, const ReadGate &beforeRead,
                       const ReadOptions &options)
{
    const struct stat &named = *options.named;
    if (!S_ISREG(named.st_mode) || (options.wholeUpTo >= 0 && qint64(named.st_size) > options.wholeUpTo))
        return false;
    // O_NOFOLLOW: the look-up saw no link, and a link put there since is
    // left to the general path. O_NONBLOCK: nor may a FIFO put there hang it.
    Fd file{::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW)};
    if (file.fd < 0)
        return false;
    result.info = named;
    result = readContent(file.fd, std::move(result), beforeRead);
    if (result.status.ok())
        result.opened = OpenFile(file.release());
    return true;
}

} // namespace

ReadResult readWholeFile(const FilePath &path, const ReadGate &beforeRead, const ReadOptions &options)
{
    ReadResult result;
    const QByteArray &name = path.bytes();
    if (options.lockLater && options.named && !options.noFollow && readNamedUnlocked(name, result, beforeRead, options))
        return result;
    Fd file;
    result.status = openAndLock(name, options, file, result);
    if (!result.status.ok())
        return result;
    if (options.wholeUpTo >= 0 && qint64(result.info.st_size) > options.wholeUpTo) {
        result.unread = OpenFile(file.release());
        return result;
    }
    return readContent(file.fd, std::move(result), beforeRead);
}

IoStatus lockAsRead(ReadResult &result, bool *changed, LockWaits *waits, const QString &path)
{
    *changed = false;
    if (result.lock.fd() >= 0)
        return {};
    const int fd = result.opened.fd();
    if (fd < 0) {
        *changed = true; // nothing open to lock: read it again, locked
        return {};
    }
    bool waited = false;
    LockWaits ownPeriod;
    if (const int err = lockExclusive(fd, &waited, waits ? *waits : ownPeriod, path))
        return {err, QCoreApplication::translate("FileOps", "another program kept it locked for too long")};
    // One call for the status and the attributes the writability check needs.
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS, &sx) != 0)
        return IoStatus::fromErrno(errno);
    struct stat now = result.info;
    now.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    now.st_ino = ino_t(sx.stx_ino);
    now.st_mode = mode_t(sx.stx_mode);
    now.st_nlink = nlink_t(sx.stx_nlink);
    now.st_uid = sx.stx_uid;
    now.st_gid = sx.stx_gid;
    now.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
    now.st_size = off_t(sx.stx_size);
    now.st_blksize = blksize_t(sx.stx_blksize);
    now.st_blocks = blkcnt_t(sx.stx_blocks);
    now.st_atim = {time_t(sx.stx_atime.tv_sec), long(sx.stx_atime.tv_nsec)};
    now.st_mtim = {time_t(sx.stx_mtime.tv_sec), long(sx.stx_mtime.tv_nsec)};
    now.st_ctim = {time_t(sx.stx_ctime.tv_sec), long(sx.stx_ctime.tv_nsec)};
    // The change time moves with every write, every change of mode, owner,
    // links or name: equal, no one touched the file from the look-up before
    // it was opened to this moment, in which it is locked.
    const struct stat &seen = result.info;
    if (!sameFile(now, seen) || now.st_ctim.tv_sec != seen.st_ctim.tv_sec || now.st_ctim.tv_nsec != seen.st_ctim.tv_nsec
        || now.st_mode != seen.st_mode || now.st_nlink == 0) {
        *changed = true;
        return {};
    }
    result.info = now;
    result.attributes = sx.stx_attributes_mask & sx.stx_attributes;
    result.lock = FileLock(result.opened.release());
    return {};
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

IoStatus writeFileAtomically(const FilePath &path, QByteArrayView bytes, const WriteOptions &options)
{
    const QByteArrayView pieces[] = {bytes};
    return writeFileAtomically(path, std::span<const QByteArrayView>(pieces), options);
}

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

    // The new content takes the file's place: swapped with it where the
    // keeper asked (the old file then holds the keeper's name), renamed over
    // it otherwise, and where the swap cannot be made (a file system without
    // it) renamed over it all the same: the keeper sees that the name it
    // gave does not hold the old file.
    int renameIntoPlace(const KeepDecision &keep)
    {
        if (keep.swap()) {
            const char *name = keep.name.constData();
            if (tempFolder == keep.folder || ::renameat(tempFolder, tempName.constData(), keep.folder, name) == 0) {
                tempName = keep.name;
                tempFolder = keep.folder;
                if (::renameat2(tempFolder, name, AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
                    tempName.clear(); // the old file, now under that name, is the keeper's
                    return 0;
                }
            }
        }
        if (::renameat(tempFolder, tempName.constData(), AT_FDCWD, target.constData()) != 0)
            return errno;
        tempName.clear();
        return 0;
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

    void removeTemp()
    {
        if (!tempName.isEmpty())
            ::unlinkat(tempFolder, tempName.constData(), 0);
        tempName.clear();
        tempFolder = AT_FDCWD;
    }
};

AtomicWriter::AtomicWriter(const FilePath &path, const WriteOptions &options)
    : m(std::make_unique<State>())
{
    m->options = options;
    if (options.keeper)
        m->digest = std::make_unique<Digest>();
    QByteArray target = path.bytes();

    // A link stays a link: the file it points to is the one rewritten. A
    // file the caller holds open under this very name is none.
    struct stat linkInfo {};
    const bool held = options.openFile >= 0 && options.openInfo && !options.replaceName;
    if (held)
        linkInfo = *options.openInfo;
    const bool linkExists = held || ::lstat(target.constData(), &linkInfo) == 0;
    const int lstatErr = linkExists ? 0 : errno;
    const bool isLink = linkExists && S_ISLNK(linkInfo.st_mode) && !options.replaceName;
    if (options.replaceName && linkExists) {
        if (const IoStatus refused = nameRefusesBackup(linkInfo); !refused.ok()) {
            m_status = refused;
            return;
        }
    }
    if (isLink) {
        char *resolved = ::realpath(target.constData(), nullptr);
        if (!resolved) {
            const int err = errno;
            if (err == ENOENT)
                m_status = {err, QCoreApplication::translate("FileOps", "it is a link to a file that does not exist")};
            else
                m_status = IoStatus::fromErrno(err);
            return;
        }
        target = resolved;
        std::free(resolved);
    }

    // Where the path is no link, what lstat saw is the file itself: one
    // system call less per file, which counts in a run over many small files.
    struct stat current {};
    bool exists = false;
    if (isLink) {
        exists = ::stat(target.constData(), &current) == 0;
        if (!exists && errno != ENOENT) {
            m_status = IoStatus::fromErrno(errno);
            return;
        }
    } else {
        exists = linkExists;
        current = linkInfo;
        if (!exists && lstatErr != ENOENT) {
            m_status = IoStatus::fromErrno(lstatErr);
            return;
        }
    }
    if (exists && S_ISDIR(current.st_mode)) {
        m_status = IoStatus::fromErrno(EISDIR);
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

    const QByteArray folder = folderOf(target);
    m->target = target;
    m->folder = folder;

    // The new content goes to an unnamed file first where the file system
    // allows it, so a run killed while writing leaves nothing behind.
#ifdef O_TMPFILE
    m->temp.fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    m->anonymous = m->temp.fd >= 0;
#endif
    if (!m->anonymous) {
        for (int attempt = 0; attempt < 100 && m->temp.fd < 0; ++attempt) {
            m->tempName = folder + '/' + native(temporaryPrefix()) + randomSuffix();
            m->temp.fd = ::open(m->tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (const int err = errno; m->temp.fd < 0 && (err == EACCES || err == EPERM || err == EROFS)) {
                // The file itself may well be writable: it is the folder that refuses.
                m->tempName.clear();
                m_status =
                    IoStatus::fromErrno(err,
                                        QCoreApplication::translate("FileOps", "the folder \"%1\" cannot be written")
                                            .arg(displayName(decodeFileName(folder))));
                return;
            }
            if (m->temp.fd < 0 && errno != EEXIST) {
                m->tempName.clear();
                m_status = IoStatus::fromErrno(errno);
                return;
            }
        }
        if (m->temp.fd < 0) {
            m->tempName.clear();
            m_status = IoStatus::fromErrno(EEXIST);
            return;
        }
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
    const QByteArray &target = m->target;
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
    if (::close(temp.release()) != 0)
        return fail(errno);
    // As late as it can be, after the journal's record and the close (either
    // may take a while): only the rename comes after it. A change another
    // program makes between this check and the rename is the one that can
    // still be lost. Failing here, the keeper withdraws its record.
    if (options.expected) {
        struct stat now {};
        if (::stat(target.constData(), &now) != 0 || !sameFile(now, *options.expected))
            return this->fail(IoStatus::failure(changedUnderneathReason()));
    }
    if (const int err = m->renameIntoPlace(keep))
        return fail(err);
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
