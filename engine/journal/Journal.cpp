// SPDX-License-Identifier: MIT
#include "engine/journal/Journal.h"

#include "engine/files/FileMetadata.h"
#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/resource.h>
#include <set>
#include <thread>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace vexalo {

namespace {

// The messages are filed under "vexalo", as the runs' own are (lupdate would
// file a free tr() in a member function under that function's class).

// The digest of every byte a run writes: XXH3, 128 bits. Blake2b, the
// fastest digest Qt offers (about 150 MB/s here, twice SHA-256), made a run
// over the benchmark's small set 1.8 times as slow; XXH3 runs at memory speed.
// It need not resist forgery: a file made to collide on purpose would only
// get back its old content, which whoever wrote it could have put there.
class Digest {
public:
    Digest()
        : m_state(XXH3_createState())
    {
        if (m_state)
            XXH3_128bits_reset(m_state);
    }
    ~Digest() { XXH3_freeState(m_state); }
    Digest(const Digest &) = delete;
    Digest &operator=(const Digest &) = delete;
    void restart()
    {
        if (m_state)
            XXH3_128bits_reset(m_state);
    }
    void addData(QByteArrayView bytes)
    {
        if (m_state)
            XXH3_128bits_update(m_state, bytes.data(), size_t(bytes.size()));
    }
    QByteArray result() const
    {
        return m_state ? canonical(XXH3_128bits_digest(m_state)) : QByteArray();
    }
    static QByteArray of(QByteArrayView bytes) { return canonical(XXH3_128bits(bytes.data(), size_t(bytes.size()))); }

private:
    static QByteArray canonical(XXH128_hash_t hash)
    {
        XXH128_canonical_t bytes;
        XXH128_canonicalFromHash(&bytes, hash);
        return QByteArray(reinterpret_cast<const char *>(bytes.digest), sizeof bytes.digest);
    }
    XXH3_state_t *m_state;
};

const QByteArray manifestName = "manifest";
const QByteArray undoneName = "undone";
const QByteArray lockName = "lock";
// What a finished run's kept files take, so that a new run need not read
// every older run's manifest to know how much room is left.
const QByteArray bytesName = "bytes";

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f)
        : fd(f)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    void reset(int f = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = f;
    }
};

// A record counts only whole: the line, its end and a checksum over it. A run
// killed (or a machine stopped) while a line was written leaves one that does
// not, and that line is passed over.
quint32 crc32(QByteArrayView data)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
            t[i] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (const char ch : data)
        c = table[(c ^ uchar(ch)) & 0xffu] ^ (c >> 8);
    return ~c;
}

// A record built in one buffer, field by field: a run writes one for every
// file, and a list of small strings joined would allocate a dozen times each.
class RecordBuilder {
public:
    explicit RecordBuilder(qsizetype reserve) { m_line.reserve(reserve); }
    RecordBuilder &text(QByteArrayView field)
    {
        separate();
        m_line.append(field);
        return *this;
    }
    template<typename Integer>
    RecordBuilder &number(Integer value)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        return text(QByteArrayView(digits, end - digits));
    }
    RecordBuilder &hex(QByteArrayView bytes)
    {
        separate();
        static constexpr char digits[] = "0123456789abcdef";
        const qsizetype at = m_line.size();
        m_line.resize(at + 2 * bytes.size());
        char *out = m_line.data() + at;
        for (const char c : bytes) {
            *out++ = digits[uchar(c) >> 4];
            *out++ = digits[uchar(c) & 0xf];
        }
        return *this;
    }
    // The line with its checksum and end.
    QByteArray finish()
    {
        const quint32 sum = crc32(m_line);
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", sum);
        m_line.append(' ').append(digits, 8).append('\n');
        return std::move(m_line);
    }

private:
    void separate()
    {
        if (!m_line.isEmpty())
            m_line.append(' ');
    }
    QByteArray m_line;
};

QByteArray recordLine(const QByteArrayList &fields)
{
    RecordBuilder line(64);
    for (const QByteArray &field : fields)
        line.text(field);
    return line.finish();
}

// The fields of a whole line, or none.
QByteArrayList parseLine(const QByteArray &line)
{
    const qsizetype space = line.lastIndexOf(' ');
    if (space <= 0)
        return {};
    const QByteArray body = line.left(space);
    bool ok = false;
    const quint32 sum = line.mid(space + 1).toUInt(&ok, 16);
    if (!ok || sum != crc32(body))
        return {};
    return body.split(' ');
}

QByteArray absolutePath(const QString &path, QByteArray absolute = {})
{
    QByteArray bytes = encodeFileName(path);
    if (bytes.startsWith('/'))
        return bytes;
    if (absolute.isEmpty()) {
        char *cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return bytes;
        absolute = cwd;
        std::free(cwd);
    }
    if (bytes == ".")
        return absolute;
    if (bytes.startsWith("./"))
        bytes = bytes.mid(2);
    return absolute + (absolute.endsWith('/') ? "" : "/") + bytes;
}

bool isOwnPrivateFolder(const QByteArray &path, bool *exists)
{
    struct stat info {};
    *exists = ::lstat(path.constData(), &info) == 0;
    return *exists && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

QString formatSize(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

// One line of a manifest, read back.
struct Record {
    char kind = 0; // K kept, N not kept, U put back
    int seq = 0;
    QByteArray path;
    QByteArray kept; // the kept file's name in the entry folder; "l..." a link, "c..." a copy
    ino_t origIno = 0;
    qint64 origSize = 0;
    qint64 origMtimeSec = 0;
    qint64 origMtimeNsec = 0;
    dev_t newDev = 0;
    ino_t newIno = 0;
    qint64 newSize = 0;
    qint64 newMtimeSec = 0;
    qint64 newMtimeNsec = 0;
    QByteArray digest;
    QString reason; // N: why it was not kept
};

struct Manifest {
    bool ok = false;
    QByteArray folder;
    qint64 startedMs = 0;
    std::map<int, Record> files; // K and N records by their number
    std::set<int> putBack;       // U records

    JournalEntry entry(const QString &id) const
    {
        JournalEntry e;
        e.id = id;
        e.folder = decodeFileName(folder);
        e.time = QDateTime::fromMSecsSinceEpoch(startedMs);
        for (const auto &[seq, r] : files) {
            if (r.kind == 'N') {
                ++e.unkept;
            } else if (!putBack.count(seq)) {
                ++e.files;
                e.bytes += r.origSize;
            }
        }
        return e;
    }
};

Manifest parseManifest(const QByteArray &bytes)
{
    Manifest m;
    QByteArrayList lines = bytes.split('\n');
    lines.removeLast(); // what follows the last line break is not a whole line
    bool first = true;
    for (const QByteArray &line : std::as_const(lines)) {
        const QByteArrayList f = parseLine(line);
        if (first) {
            first = false;
            if (f.size() != 3 || f[0] != "V1")
                return m;
            m.folder = QByteArray::fromHex(f[1]);
            m.startedMs = f[2].toLongLong();
            m.ok = true;
            continue;
        }
        if (f.isEmpty())
            continue;
        if (f[0] == "K" && f.size() == 14) {
            Record r;
            r.kind = 'K';
            r.seq = f[1].toInt();
            r.path = QByteArray::fromHex(f[2]);
            r.kept = f[3];
            r.origIno = ino_t(f[4].toULongLong());
            r.origSize = f[5].toLongLong();
            r.origMtimeSec = f[6].toLongLong();
            r.origMtimeNsec = f[7].toLongLong();
            r.newDev = dev_t(f[8].toULongLong());
            r.newIno = ino_t(f[9].toULongLong());
            r.newSize = f[10].toLongLong();
            r.newMtimeSec = f[11].toLongLong();
            r.newMtimeNsec = f[12].toLongLong();
            r.digest = QByteArray::fromHex(f[13]);
            // The kept name is the program's own; anything else is not read.
            if (r.kept.contains('/') || r.kept.size() < 2 || (r.kept[0] != 'l' && r.kept[0] != 'c'))
                continue;
            m.files[r.seq] = r;
        } else if (f[0] == "N" && f.size() == 4) {
            Record r;
            r.kind = 'N';
            r.seq = f[1].toInt();
            r.path = QByteArray::fromHex(f[2]);
            r.reason = QString::fromUtf8(QByteArray::fromHex(f[3]));
            m.files[r.seq] = r;
        } else if (f[0] == "U" && f.size() == 2) {
            m.putBack.insert(f[1].toInt());
        }
    }
    return m;
}

QByteArray readSmallFile(const QByteArray &path, int *error = nullptr)
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

// The names of the entries, oldest first: a name is the start time in
// milliseconds, padded, so the order of names is the order of runs.
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
    std::sort(names.begin(), names.end());
    return names;
}

// An entry's files go first, then its folder; a run still writing into it
// holds its manifest locked, and is left alone.
bool removeEntry(const QByteArray &dirPath, bool evenIfLocked = false)
{
    if (!evenIfLocked) {
        Fd manifest(::open((dirPath + '/' + manifestName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (manifest.fd >= 0 && ::flock(manifest.fd, LOCK_EX | LOCK_NB) != 0)
            return false;
    }
    if (DIR *dir = ::opendir(dirPath.constData())) {
        // By name within the open folder: an entry holds thousands of files,
        // and a full path would be walked again for each.
        QByteArrayList names;
        while (const dirent *e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name != "." && name != "..")
                names << name;
        }
        for (const QByteArray &name : std::as_const(names))
            ::unlinkat(::dirfd(dir), name.constData(), 0);
        ::closedir(dir);
    }
    return ::rmdir(dirPath.constData()) == 0;
}

// An older entry given up for room: renamed out of the way at once (so no
// run or Undo sees it again) and deleted by a thread of its own, so that the
// thousands of unlinks of a large run never hold up the files in work. A
// name left by a program killed meanwhile is deleted by the next run.
const QByteArray droppedPrefix = ".dropped-";

// The deleting takes mostly what the files in work leave of the processors
// and the disk, and the run waits for what is left of it at its end. The
// lowest ordinary priority rather than an idle one: a machine busy with
// something else must not hold the end of the run back for good.
void deleteInBackground(const QByteArray &dirPath)
{
    ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 19); // this thread only
    constexpr int ioprioClassBestEffort = 2;
    constexpr int ioprioClassShift = 13;
    constexpr int ioprioLowest = 7;
    ::syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS, a thread's id */, pid_t(::syscall(SYS_gettid)),
              (ioprioClassBestEffort << ioprioClassShift) | ioprioLowest);
    removeEntry(dirPath, true);
}

bool dropLater(const QByteArray &dirPath, std::vector<std::thread> &deleters)
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
    deleters.emplace_back([away] { deleteInBackground(away); });
    return true;
}

// Holds the journal's own lock while entries are made, dropped or undone.
class RootLock {
public:
    explicit RootLock(const QByteArray &root)
    {
        m_fd.reset(::open((root + '/' + lockName).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (m_fd.fd >= 0) {
            while (::flock(m_fd.fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }

private:
    Fd m_fd;
};

QByteArray fromHome(const QByteArray &home)
{
    return home + "/.local/state";
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
    bool plain = false;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(from, &in, to, nullptr, size_t(std::min<qint64>(left, 1 << 30)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
                plain = true;
                break;
            }
            return errno;
        }
        if (n == 0)
            break;
        left -= n;
    }
    if (plain) {
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
                break;
            if (const int err = writeAll(to, QByteArrayView(buffer, n)))
                return err;
            at += n;
        }
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------- recording

struct JournalRun::Shared {
    QByteArray root;
    QByteArray dir; // the entry's folder
    Fd dirHandle;   // open on it, so that each file's link is made without a path walk
    QByteArray cwd; // where relative names of this run start
    dev_t device = 0;
    uid_t euid = ::geteuid(); // root links a descriptor itself, anyone else through /proc
    Durability durability = Durability::AtEnd;
    qint64 budget = 0;
    std::mutex mutex;
    Fd manifest; // open for appending, and locked for as long as the run goes on
    QString problem;
    std::atomic<int> seq{0};
    qint64 used = 0;                                       // this run's kept bytes
    std::vector<std::pair<QByteArray, qint64>> older;      // earlier entries, oldest first
    int records = 0;
    bool finished = false;
    std::vector<std::thread> deleters; // of older entries given up for room
    std::atomic<bool> missed{false};   // a file was rewritten while the journal could not be written

    // Room for one more file: the oldest runs give way first. False when the
    // file cannot have it; *why then says so.
    bool reserve(qint64 size, QString *why)
    {
        std::lock_guard guard(mutex);
        if (size > budget - used) {
            *why = used == 0 ? QCoreApplication::translate("vexalo", "it is larger than the journal's room (%1)").arg(formatSize(budget))
                             : QCoreApplication::translate("vexalo", "the journal's room (%1) is taken by the run's other files").arg(formatSize(budget));
            return false;
        }
        qint64 olderBytes = 0;
        for (const auto &e : older)
            olderBytes += e.second;
        if (olderBytes + used + size > budget) {
            RootLock lock(root);
            while (!older.empty() && olderBytes + used + size > budget) {
                dropLater(older.front().first, deleters);
                olderBytes -= older.front().second;
                older.erase(older.begin());
            }
        }
        used += size;
        return true;
    }

    void release(qint64 size)
    {
        std::lock_guard guard(mutex);
        used -= size;
    }

    // Appends one record; false with the reason when it could not.
    IoStatus append(const QByteArray &line, bool syncNow)
    {
        std::lock_guard guard(mutex);
        if (manifest.fd < 0)
            return IoStatus::failure(problem.isEmpty() ? QCoreApplication::translate("vexalo", "the journal is closed") : problem);
        if (const int err = writeAll(manifest.fd, line))
            return IoStatus::fromErrno(err);
        if (syncNow && ::fdatasync(manifest.fd) != 0)
            return IoStatus::fromErrno(errno);
        ++records;
        return {};
    }
};

struct JournalFile::State {
    std::shared_ptr<JournalRun::Shared> run;
    QByteArray path;
    int seq = 0;
    struct stat original {};
    dev_t newDev = 0;      // the new content, as the writer puts it in place
    ino_t newIno = 0;
    qint64 newSize = 0;
    int fd = -1;           // the original, open and locked by the run
    QByteArray keptName;   // set once something was kept
    bool link = false;     // kept by a hard link (made just before the rename)
    bool reserved = false;
    QString notKept;       // why the file cannot be undone
    Digest hash;
    bool committed = false;

    QByteArray keptPath() const { return run->dir + '/' + keptName; }

    void drop()
    {
        if (!keptName.isEmpty())
            ::unlink(keptPath().constData());
        keptName.clear();
        if (reserved)
            run->release(original.st_size);
        reserved = false;
    }

    // A copy of the original, with its owner, mode, ACL and attributes.
    bool copy()
    {
        const QByteArray name = 'c' + QByteArray::number(seq);
        int created = -1;
        const int err = copyInto(fd, run->dir + '/' + name, original.st_size, &created);
        Fd to(created);
        if (created >= 0)
            keptName = name;
        if (err) {
            notKept = QCoreApplication::translate("vexalo", "the journal could not keep it: %1").arg(IoStatus::fromErrno(err).error);
            return false;
        }
        WriteOptions like;
        like.modeFrom = &original;
        like.metadataFrom = decodeFileName(path);
        FileMetadata metadata;
        IoStatus status = metadata.read(keptPath(), nullptr, like);
        if (status.ok())
            status = metadata.applyOwner(to.fd);
        if (status.ok())
            status = metadata.applyAccess(to.fd);
        if (status.ok() && run->durability != Durability::None && ::fdatasync(to.fd) != 0)
            status = IoStatus::fromErrno(errno);
        if (!status.ok()) {
            notKept = QCoreApplication::translate("vexalo", "the journal could not keep it: %1").arg(status.error);
            return false;
        }
        return true;
    }

    QByteArray swapName() const { return 'l' + QByteArray::number(seq); }

    // Just before the rename, with the file known unchanged, where the writer
    // could not swap the old file into the journal: its inode itself goes in
    // by a link, costing no copy. Where a link cannot be made (protected hard
    // links, a full folder) a copy is made instead.
    void linkNow(const QByteArray &name)
    {
        const QByteArray target = run->dir + '/' + name;
        // Linked by its descriptor into the entry's open folder: root may
        // link the descriptor itself, anyone else through /proc.
        const int dirFd = run->dirHandle.fd;
        const char *at = dirFd >= 0 ? name.constData() : target.constData();
        const int atFd = dirFd >= 0 ? dirFd : AT_FDCWD;
        const bool root = run->euid == 0;
        int rc = -1;
        if (root)
            rc = ::linkat(fd, "", atFd, at, AT_EMPTY_PATH);
        if (rc != 0) {
            const QByteArray byFd = "/proc/self/fd/" + QByteArray::number(fd);
            rc = ::linkat(AT_FDCWD, byFd.constData(), atFd, at, AT_SYMLINK_FOLLOW);
            if (rc != 0 && errno == ENOENT && !root)
                rc = ::linkat(fd, "", atFd, at, AT_EMPTY_PATH);
        }
        if (rc == 0) {
            keptName = name;
            return;
        }
        if (!copy())
            drop();
        link = false;
    }
};

JournalFile::JournalFile() = default;
JournalFile::JournalFile(JournalFile &&) noexcept = default;
JournalFile &JournalFile::operator=(JournalFile &&other) noexcept
{
    if (this != &other) {
        if (m_state && !m_state->committed)
            m_state->drop();
        m_state = std::move(other.m_state);
    }
    return *this;
}

JournalFile::~JournalFile()
{
    if (m_state && !m_state->committed)
        m_state->drop();
}

void JournalFile::attach(WriteOptions &options)
{
    if (!m_state || !m_state->notKept.isEmpty())
        return;
    State *s = m_state.get();
    options.written = [s](QByteArrayView bytes) {
        s->hash.addData(bytes);
        s->newSize += bytes.size();
    };
    // The writer swaps the old file into the entry's folder as it renames:
    // the old inode is kept at the cost of the rename alone.
    const bool swap = s->link && s->run->dirHandle.fd >= 0;
    if (swap) {
        options.keepFolder = s->run->dirHandle.fd;
        options.keepName = s->swapName();
        options.keepFailed = [s] {
            s->keptName.clear(); // that name holds the new content, on its way into place
            s->linkNow(s->swapName() + 'x');
        };
    }
    options.beforeRename = [s, swap](dev_t device, ino_t inode) {
        s->newDev = device;
        s->newIno = inode;
        if (swap)
            s->keptName = s->swapName(); // the old file's name once swapped
        else if (s->link)
            s->linkNow(s->swapName());
        return IoStatus{};
    };
}

void JournalFile::restartDigest()
{
    if (m_state) {
        m_state->hash.restart();
        m_state->newSize = 0;
    }
}

QString JournalFile::commit()
{
    if (!m_state)
        return {};
    State &s = *m_state;
    s.committed = true;
    const bool syncNow = s.run->durability == Durability::EachFile;
    if (s.notKept.isEmpty() && s.keptName.isEmpty())
        s.notKept = QCoreApplication::translate("vexalo", "the journal could not keep it");
    if (!s.notKept.isEmpty()) {
        s.drop();
        s.run->append(recordLine({"N", QByteArray::number(s.seq), s.path.toHex(), s.notKept.toUtf8().toHex()}),
                      syncNow);
        return s.notKept;
    }
    // The new file as the run left it, for a quick check before its digest.
    // Its time is not kept: asking for it would cost a call per file, and
    // the digest says all that matters.
    if (syncNow)
        syncPath(s.run->dir); // the kept file's name, before the record that names it
    const IoStatus appended = s.run->append(
        RecordBuilder(2 * s.path.size() + 200)
            .text("K")
            .number(s.seq)
            .hex(s.path)
            .text(s.keptName)
            .number(quint64(s.original.st_ino))
            .number(qint64(s.original.st_size))
            .number(qint64(s.original.st_mtim.tv_sec))
            .number(qint64(s.original.st_mtim.tv_nsec))
            .number(quint64(s.newDev))
            .number(quint64(s.newIno))
            .number(s.newSize)
            .text("-1 -1") // the new file's time: not kept
            .hex(s.hash.result())
            .finish(),
        syncNow);
    if (!appended.ok()) {
        s.drop();
        s.notKept = QCoreApplication::translate("vexalo", "the journal could not record it: %1").arg(appended.error);
        return s.notKept;
    }
    return {};
}

JournalRun::~JournalRun()
{
    finish();
}

QString JournalRun::problem() const
{
    // Said only for a run that rewrote a file: one that changed nothing has
    // nothing to undo, wherever the journal is.
    return m_shared && m_shared->missed ? m_shared->problem : QString();
}

JournalFile JournalRun::keep(const QString &path, const struct stat &info, int fd)
{
    JournalFile file;
    if (m_shared && !m_shared->problem.isEmpty())
        m_shared->missed = true;
    if (!m_shared || !m_shared->problem.isEmpty() || m_shared->finished)
        return file;
    auto state = std::make_unique<JournalFile::State>();
    state->run = m_shared;
    state->path = absolutePath(path, m_shared->cwd);
    state->seq = ++m_shared->seq;
    state->original = info;
    state->fd = fd;
    if (fd < 0) {
        state->notKept = QCoreApplication::translate("vexalo", "the journal could not keep it");
    } else if (m_shared->reserve(info.st_size, &state->notKept)) {
        state->reserved = true;
        // A file with other names stays reachable, and changeable, through
        // them: only a copy keeps its old content for certain.
        state->link = info.st_dev == m_shared->device && info.st_nlink == 1;
        if (!state->link && !state->copy())
            state->drop();
    }
    file.m_state = std::move(state);
    return file;
}

void JournalRun::finish()
{
    if (!m_shared)
        return;
    Shared &s = *m_shared;
    std::lock_guard guard(s.mutex);
    if (s.finished)
        return;
    s.finished = true;
    for (std::thread &deleter : s.deleters)
        deleter.join();
    if (s.manifest.fd < 0)
        return;
    if (s.records == 0) {
        // Nothing was rewritten: no entry, so Undo keeps to the run before.
        RootLock lock(s.root);
        s.manifest.reset();
        removeEntry(s.dir, true);
        return;
    }
    {
        Fd bytes(::open((s.dir + '/' + bytesName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                        0600));
        if (bytes.fd >= 0)
            writeAll(bytes.fd, QByteArray::number(s.used));
    }
    if (s.durability != Durability::None) {
        int err = ::fdatasync(s.manifest.fd) == 0 ? 0 : errno;
        for (const QByteArray *folder : {&s.dir, &s.root}) {
            if (!err)
                err = syncPath(*folder);
        }
        // The files are replaced and Undo works until the machine stops;
        // after a crash it may find less than the run did. Said once, as any
        // trouble of the journal.
        if (err && s.problem.isEmpty()) {
            s.problem = QCoreApplication::translate("vexalo", "the journal in %1 could not be saved to the disk, so this run may not be undone after a system crash: %2")
                            .arg(displayName(decodeFileName(s.root)), IoStatus::fromErrno(err).error);
            s.missed = true;
        }
    }
    s.manifest.reset(); // and with it the lock: Undo may take the entry now
}

// ------------------------------------------------------------------ journal

QString Journal::defaultLocation()
{
    // The folders must be this user's: run through sudo with the invoking
    // user's environment, root would otherwise keep its journal, copies of
    // any file it rewrote, in a folder another user controls.
    const uid_t euid = ::geteuid();
    auto ownedByUs = [euid](const QByteArray &path) {
        struct stat info {};
        return ::stat(path.constData(), &info) != 0 ? errno == ENOENT : info.st_uid == euid;
    };
    QByteArray base = qgetenv("XDG_STATE_HOME");
    if (!base.startsWith('/') || !ownedByUs(base)) {
        const QByteArray home = qgetenv("HOME");
        base = home.startsWith('/') && ownedByUs(home) ? fromHome(home) : QByteArray();
    }
    if (base.isEmpty()) {
        struct passwd entry {};
        struct passwd *found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(euid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            base = fromHome(QByteArray(found->pw_dir));
        else
            base = "/nonexistent";
    }
    return decodeFileName(base + "/Vexalo/journal");
}

Journal::Journal(const QString &location, const JournalLimits &limits)
    : m_location(location)
    , m_limits(limits)
{
}

namespace {

// Makes the journal folder and the folders above it that are missing, each
// private to this user, and checks that the two of its own are this user's.
IoStatus ensureRoot(const QByteArray &root)
{
    QByteArray at;
    const QByteArrayList parts = root.split('/');
    for (const QByteArray &part : parts) {
        if (part.isEmpty())
            continue;
        at += '/' + part;
        if (::mkdir(at.constData(), 0700) != 0 && errno != EEXIST)
            return IoStatus::fromErrno(errno, QCoreApplication::translate("vexalo", "the journal folder %1 could not be made")
                                                  .arg(displayName(decodeFileName(at))));
    }
    const QByteArray parent = root.left(root.lastIndexOf('/'));
    for (const QByteArray &folder : {parent, root}) {
        bool exists = false;
        if (!isOwnPrivateFolder(folder, &exists))
            return IoStatus::failure(QCoreApplication::translate("vexalo", "the journal folder %1 is not a folder of this user's")
                                         .arg(displayName(decodeFileName(folder))));
    }
    // Copies of the user's files: no one else may look in.
    if (::chmod(root.constData(), 0700) != 0)
        return IoStatus::fromErrno(errno);
    return {};
}

} // namespace

QList<JournalEntry> Journal::entries(QString *error) const
{
    const QByteArray root = encodeFileName(m_location);
    int err = 0;
    const QByteArrayList names = entryNames(root, &err);
    if (err && error)
        *error = IoStatus::fromErrno(err).error;
    QList<JournalEntry> out;
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        const Manifest m = parseManifest(readSmallFile(root + '/' + *it + '/' + manifestName));
        if (m.ok)
            out.append(m.entry(QString::fromLatin1(*it)));
    }
    return out;
}

std::optional<JournalEntry> Journal::lastRun(QString *why) const
{
    // Only the newest entries are read: the window asks each time its Run
    // menu opens.
    const QByteArray root = encodeFileName(m_location);
    int err = 0;
    const QByteArrayList names = entryNames(root, &err);
    const QString error = err ? IoStatus::fromErrno(err).error : QString();
    QList<JournalEntry> all;
    for (auto it = names.crbegin(); it != names.crend() && all.isEmpty(); ++it) {
        const Manifest m = parseManifest(readSmallFile(root + '/' + *it + '/' + manifestName));
        if (m.ok)
            all.append(m.entry(QString::fromLatin1(*it)));
    }
    if (!error.isEmpty()) {
        if (why)
            *why = QCoreApplication::translate("vexalo", "the journal cannot be read: %1").arg(error);
        return std::nullopt;
    }
    // Undo takes back the last run only: once that is undone, the runs
    // before it stay as they are.
    const QByteArray undone = readSmallFile(encodeFileName(m_location) + '/' + undoneName).trimmed();
    if (!undone.isEmpty() && (all.isEmpty() || all.first().id.toLatin1() <= undone)) {
        if (why)
            *why = QCoreApplication::translate("vexalo", "the last run was undone already; there is no run to undo");
        return std::nullopt;
    }
    if (all.isEmpty()) {
        if (why)
            *why = QCoreApplication::translate("vexalo", "there is no run to undo");
        return std::nullopt;
    }
    return all.first();
}

std::unique_ptr<JournalRun> Journal::record(const QString &folder, Durability durability) const
{
    std::unique_ptr<JournalRun> run(new JournalRun);
    auto shared = std::make_shared<JournalRun::Shared>();
    run->m_shared = shared;
    shared->durability = durability;
    shared->root = encodeFileName(m_location);
    const QByteArray &root = shared->root;
    auto fail = [&](const QString &reason) {
        shared->problem = QCoreApplication::translate("vexalo", "the journal in %1 could not be written, so this run cannot be undone: %2")
                              .arg(displayName(m_location), reason);
        shared->manifest.reset();
        return std::move(run);
    };
    if (const IoStatus made = ensureRoot(root); !made.ok())
        return fail(made.error);
    RootLock lock(root);

    // Older entries: the oldest go while there are too many with this one.
    int err = 0;
    QByteArrayList names = entryNames(root, &err);
    if (err)
        return fail(IoStatus::fromErrno(err).error);
    while (!names.isEmpty() && names.size() >= m_limits.runs)
        dropLater(root + '/' + names.takeFirst(), shared->deleters);
    if (DIR *dir = ::opendir(root.constData())) {
        while (const dirent *e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name.startsWith(droppedPrefix)) {
                const QByteArray leftover = root + '/' + name;
                shared->deleters.emplace_back([leftover] { deleteInBackground(leftover); });
            }
        }
        ::closedir(dir);
    }
    qint64 olderBytes = 0;
    for (const QByteArray &name : std::as_const(names)) {
        bool known = false;
        qint64 bytes = readSmallFile(root + '/' + name + '/' + bytesName).toLongLong(&known);
        if (!known)
            bytes = parseManifest(readSmallFile(root + '/' + name + '/' + manifestName)).entry({}).bytes;
        shared->older.emplace_back(root + '/' + name, bytes);
        olderBytes += bytes;
    }

    struct statvfs fs {};
    struct stat rootInfo {};
    if (::statvfs(root.constData(), &fs) != 0 || ::stat(root.constData(), &rootInfo) != 0)
        return fail(IoStatus::fromErrno(errno).error);
    shared->device = rootInfo.st_dev;
    const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_frsize) + olderBytes;
    shared->budget = std::min<qint64>(m_limits.maxBytes, room / 100 * m_limits.freePercent);

    // Named by the time, so that names sort as runs follow one another; a
    // second run in the same millisecond takes the next free name.
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    QByteArray id;
    for (int n = 0;; ++n) {
        id = QByteArray::number(started).rightJustified(15, '0') + '-' + QByteArray::number(::getpid())
            + (n ? '-' + QByteArray::number(n) : QByteArray());
        if (::mkdir((root + '/' + id).constData(), 0700) == 0)
            break;
        if (errno != EEXIST || n == 100)
            return fail(IoStatus::fromErrno(errno).error);
    }
    shared->dir = root + '/' + id;
    shared->dirHandle.reset(::open(shared->dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (char *cwd = ::getcwd(nullptr, 0)) {
        shared->cwd = cwd;
        std::free(cwd);
    }
    shared->manifest.reset(::open((shared->dir + '/' + manifestName).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (shared->manifest.fd < 0) {
        const int openErr = errno;
        removeEntry(shared->dir, true);
        return fail(IoStatus::fromErrno(openErr).error);
    }
    ::flock(shared->manifest.fd, LOCK_EX);
    if (const int writeErr = writeAll(shared->manifest.fd, recordLine({"V1", absolutePath(folder).toHex(),
                                                                       QByteArray::number(started)}))) {
        shared->manifest.reset();
        removeEntry(shared->dir, true);
        return fail(IoStatus::fromErrno(writeErr).error);
    }
    return run;
}

// -------------------------------------------------------------------- undo

namespace {

FileResult undoFailed(const QString &name, const QString &reason)
{
    return {name, Outcome::Failed, reason};
}

bool sameTime(const struct stat &info, qint64 sec, qint64 nsec)
{
    return qint64(info.st_mtim.tv_sec) == sec && qint64(info.st_mtim.tv_nsec) == nsec;
}

// Undo holds a block of a file at a time, never the whole of it: the files a
// run rewrote may be of any size.
constexpr qint64 undoWholeUpTo = 4 * 1024 * 1024;

// The digest of what a read holds, from the file itself when it was left
// unread; empty when it cannot be read.
QByteArray digestOf(const ReadResult &read)
{
    if (!read.unread.isOpen())
        return Digest::of(read.data);
    constexpr size_t block = 1024 * 1024;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[block]);
    if (!buffer)
        return {};
    Digest digest;
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(read.unread.fd(), buffer.get(), block, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {};
        }
        if (n == 0)
            break;
        digest.addData(QByteArrayView(buffer.get(), n));
        at += n;
    }
    return digest.result();
}

FileResult undoOne(const Record &r, const QByteArray &dir, bool syncEach)
{
    const QString path = decodeFileName(r.path);
    if (r.kind == 'N')
        return undoFailed(path, QCoreApplication::translate("vexalo", "the journal did not keep its old content: %1").arg(r.reason));

    // Locked as a run locks it, so a run of this program on the same file
    // waits, and the file cannot change between the check and the rename
    // without the writer's own last check seeing it.
    ReadOptions currentOptions;
    currentOptions.lock = true;
    currentOptions.wholeUpTo = undoWholeUpTo;
    const ReadResult current = readWholeFile(path, {}, currentOptions);
    if (!current.status.ok()) {
        if (current.status.code == ENOENT)
            return undoFailed(path, QCoreApplication::translate("vexalo", "it was deleted since the run"));
        return undoFailed(path, current.status.error);
    }
    if (current.info.st_dev != r.newDev || current.info.st_ino != r.newIno)
        return undoFailed(path, QCoreApplication::translate("vexalo", "it was replaced by another file since the run; that file was left as it is"));
    // Entries of earlier versions also give the time the run left.
    if (qint64(current.info.st_size) != r.newSize
        || (r.newMtimeSec >= 0 && !sameTime(current.info, r.newMtimeSec, r.newMtimeNsec)) || digestOf(current) != r.digest)
        return undoFailed(path, QCoreApplication::translate("vexalo", "it was changed since the run; it was left as it is"));

    const QByteArray keptPath = dir + '/' + r.kept;
    ReadOptions keptOptions;
    keptOptions.noFollow = true;
    keptOptions.wholeUpTo = undoWholeUpTo;
    const ReadResult kept = readWholeFile(decodeFileName(keptPath), {}, keptOptions);
    if (!kept.status.ok())
        return undoFailed(path, QCoreApplication::translate("vexalo", "its old content could not be read from the journal: %1").arg(kept.status.error));
    const bool linked = r.kept.startsWith('l');
    if (qint64(kept.info.st_size) != r.origSize
        || (linked && (kept.info.st_ino != r.origIno || !sameTime(kept.info, r.origMtimeSec, r.origMtimeNsec))))
        return undoFailed(path, QCoreApplication::translate("vexalo", "its old content in the journal was changed; the file was left as it is"));
    if (const IoStatus writable = checkWritable(path, current.info); !writable.ok())
        return undoFailed(path, writable.error);

    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &current.info;
    // The old file's owner, permission bits, ACL and attributes come back
    // with its content.
    options.modeFrom = &kept.info;
    options.metadataFrom = decodeFileName(keptPath);
    options.alwaysModeFrom = true;
    // And its time: the old file is back as it was, for make and backup
    // tools as much as for people.
    const struct timespec times[2] = {linked ? kept.info.st_atim : timespec{0, UTIME_OMIT},
                                      timespec{time_t(r.origMtimeSec), long(r.origMtimeNsec)}};
    options.times = times;
    const IoStatus written = writeFileAtomically(path, kept, options);
    if (!written.ok())
        return undoFailed(path, written.error);
    return {path, Outcome::Restored, {}};
}

} // namespace

UndoResult Journal::undoLast(const RunControl &control) const
{
    UndoResult result;
    const QByteArray root = encodeFileName(m_location);
    auto refuse = [&](const QString &message) {
        result.refused = true;
        result.message = message;
        return result;
    };
    bool exists = false;
    if (!isOwnPrivateFolder(root, &exists)) {
        if (!exists)
            return refuse(QCoreApplication::translate("vexalo", "there is no run to undo"));
        return refuse(QCoreApplication::translate("vexalo", "the journal folder %1 is not a folder of this user's").arg(displayName(m_location)));
    }
    RootLock lock(root);
    QString why;
    const std::optional<JournalEntry> last = lastRun(&why);
    if (!last)
        return refuse(why);
    result.entry = *last;
    const QByteArray dir = root + '/' + last->id.toLatin1();
    Fd manifestFd(::open((dir + '/' + manifestName).constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
    if (manifestFd.fd < 0)
        return refuse(QCoreApplication::translate("vexalo", "the journal cannot be read: %1").arg(IoStatus::fromErrno(errno).error));
    if (::flock(manifestFd.fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(QCoreApplication::translate("vexalo", "the last run is still going on; undo it once it has finished"));
    int readErr = 0;
    const Manifest manifest = parseManifest(readSmallFile(dir + '/' + manifestName, &readErr));
    if (readErr || !manifest.ok)
        return refuse(QCoreApplication::translate("vexalo", "the journal cannot be read: %1")
                          .arg(readErr ? IoStatus::fromErrno(readErr).error : QCoreApplication::translate("vexalo", "its record of the run is damaged")));

    const bool syncEach = control.durability == Durability::EachFile;
    std::set<dev_t> written;
    int left = 0;
    int index = 0;
    // By path: files in work at once were recorded in the order they were
    // done, which a second run need not repeat.
    std::vector<std::pair<int, const Record *>> order;
    for (const auto &[seq, record] : manifest.files) {
        if (!manifest.putBack.count(seq))
            order.emplace_back(seq, &record);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.second->path < b.second->path; });
    for (const auto &[seq, recordPointer] : order) {
        const Record &record = *recordPointer;
        if (index > 0 && control.stopRequested && control.stopRequested()) {
            result.summary.stopped = true;
            break;
        }
        FileResult file = undoOne(record, dir, syncEach);
        if (file.outcome == Outcome::Restored) {
            struct stat info {};
            if (::stat(record.path.constData(), &info) == 0)
                written.insert(info.st_dev);
            // Marked at once, so an undo that is stopped or killed never
            // takes the file back a second time.
            writeAll(manifestFd.fd, recordLine({"U", QByteArray::number(seq)}));
            if (syncEach)
                ::fdatasync(manifestFd.fd);
        } else if (record.kind == 'K') {
            ++left;
        }
        result.summary.results.append(file);
        if (control.fileDone)
            control.fileDone(file, index);
        ++index;
    }
    if (control.durability == Durability::AtEnd) {
        for (const auto &[seq, record] : manifest.files) {
            struct stat info {};
            if (::stat(record.path.constData(), &info) == 0 && written.erase(info.st_dev))
                syncFileSystemOf(decodeFileName(record.path));
        }
        ::fdatasync(manifestFd.fd);
    }
    if (left == 0 && !result.summary.stopped) {
        // Every file that can come back is back: the entry goes, and Undo
        // will not reach past it to an older run.
        WriteOptions options;
        options.syncData = control.durability != Durability::None;
        writeFileAtomically(decodeFileName(root + '/' + undoneName), last->id.toLatin1() + '\n', options);
        manifestFd.reset();
        removeEntry(dir, true);
        result.complete = true;
    }
    return result;
}

} // namespace vexalo
