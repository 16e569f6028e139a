// SPDX-License-Identifier: MIT
// Reading a file: opened without following what it must not, locked as a
// run needs it, read whole into memory or left open to be read in blocks.
#include "engine/files/FileOps.h"
#include "engine/files/FileInternals.h"

#include "engine/files/FileNames.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vexalo {

using namespace filesdetail;

namespace {

// A file too large for memory is reported like any failing file.
ReadResult tooLarge(ReadResult result)
{
    result.data = QByteArray();
    result.status =
        IoStatus::failure(QCoreApplication::translate("FileOps", "it is too large to hold in memory (%1 bytes)")
                              .arg(qint64(result.info.st_size)));
    return result;
}

// Waits for an exclusive flock on the file while the run's waiting period
// lasts: another run of this program holds one only while it rewrites the
// file, a matter of milliseconds. A file system without such locks is read
// unlocked, as the other program's run then does too. 0 once held (or not to
// be had).
int lockExclusive(int fd, bool *waited, LockWaits &waits, const FilePath &path)
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
            waits.begin(path.toString());
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
    if (const int err =
            lockExclusive(fd, &waited, options.waits ? *options.waits : ownPeriod, FilePath::fromBytes(name)))
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

IoStatus lockAsRead(ReadResult &result, bool *changed, LockWaits *waits, const FilePath &path)
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

} // namespace vexalo
