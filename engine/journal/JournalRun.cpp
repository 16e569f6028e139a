// SPDX-License-Identifier: MIT
// Recording a run: what each file's old content becomes (the old file
// itself, swapped into the journal as the new one takes its place; a link to
// it; a copy), and the record Undo reads, written before the file is
// replaced so that a run killed at any instant leaves Undo the truth.
#include "engine/journal/JournalRunShared.h"

#include "engine/files/FileMetadata.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

using namespace journal;

namespace {

QString formatSize(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

QByteArray journal::absolutePath(const FilePath &path, QByteArray absolute)
{
    QByteArray bytes = path.bytes();
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

bool JournalRun::Shared::reserve(qint64 size, QString *why)
{
    std::lock_guard guard(mutex);
    if (size > budget - used) {
        *why = used == 0
            ? QCoreApplication::translate("vexalo", "it is larger than the journal's room (%1)").arg(formatSize(budget))
            : QCoreApplication::translate("vexalo", "the journal's room (%1) is taken by the run's other files")
                  .arg(formatSize(budget));
        return false;
    }
    qint64 olderBytes = 0;
    for (const auto &e : older)
        olderBytes += e.second;
    if (olderBytes + used + size > budget) {
        RootLock lock(root);
        while (!older.empty() && olderBytes + used + size > budget) {
            dropLater(older.front().first);
            olderBytes -= older.front().second;
            older.erase(older.begin());
        }
    }
    used += size;
    return true;
}

void JournalRun::Shared::release(qint64 size)
{
    std::lock_guard guard(mutex);
    used -= size;
}

namespace {

// The mapping is address space only, taken once: the room in the file
// behind it grows as records come, and what lies past the mapping is written.
constexpr off_t recordsMapped = 64 << 20;
constexpr off_t firstRoom = 64 << 10;
constexpr off_t mostRoomAtOnce = 4 << 20;

} // namespace

void JournalRun::Shared::mapRecords()
{
    // Where each record must reach the disk before its file is replaced, the
    // wait for the disk is the cost, and the records are written.
    if (durability == Durability::EachFile || manifest.fd < 0)
        return;
    void *map = MAP_FAILED;
    if (::fallocate(manifest.fd, 0, 0, firstRoom) == 0)
        map = ::mmap(nullptr, size_t(recordsMapped), PROT_READ | PROT_WRITE, MAP_SHARED, manifest.fd, 0);
    if (map == MAP_FAILED) {
        // No room ahead (a full disk, a file system without it) or no
        // address space for it (under a limit, say): written then, and
        // whatever room there is goes again.
        if (::ftruncate(manifest.fd, manifestEnd) != 0)
            manifest.reset();
        return;
    }
    records = static_cast<char *>(map);
    room = firstRoom;
}

void JournalRun::Shared::unmapRecords()
{
    if (!records)
        return;
    ::munmap(records, size_t(recordsMapped));
    records = nullptr;
    // The zeros ahead go; a reader skips any that a kill leaves.
    if (manifest.fd >= 0 && ::ftruncate(manifest.fd, manifestEnd) != 0)
        manifest.reset();
}

bool JournalRun::Shared::roomFor(off_t end)
{
    if (!records || end > recordsMapped)
        return false;
    if (end <= room)
        return true;
    if (!canGrow)
        return false;
    const off_t grown = std::min(recordsMapped, std::max(end, room + std::min(room, mostRoomAtOnce)));
    if (::fallocate(manifest.fd, 0, room, grown - room) != 0) {
        // Written from here on (append), where the file system says why
        // when it cannot take them either.
        canGrow = false;
        return false;
    }
    room = grown;
    return true;
}

IoStatus JournalRun::Shared::append(const Record &record, bool syncNow, int liveChange)
{
    const QByteArray line = recordLine(record);
    std::lock_guard guard(mutex);
    if (manifest.fd < 0)
        return IoStatus::failure(problem.isEmpty() ? QCoreApplication::translate("vexalo", "the journal is closed")
                                                   : problem);
    int err = 0;
    if (!syncNow && roomFor(manifestEnd + line.size())) {
        std::memcpy(records + manifestEnd, line.constData(), size_t(line.size()));
    } else {
        if (room > manifestEnd) {
            // Written from here on: the zeros ahead go first, so that a record
            // cut short can be cut off.
            room = manifestEnd;
            canGrow = false;
            err = ::ftruncate(manifest.fd, manifestEnd) == 0 ? 0 : errno;
        }
        if (!err)
            err = writeAll(manifest.fd, line, manifestEnd);
        if (!err && syncNow && ::fdatasync(manifest.fd) != 0)
            err = errno;
        if (err && ::ftruncate(manifest.fd, manifestEnd) != 0) {
            // Neither written nor taken back: nothing more goes in.
            manifest.reset();
        }
    }
    if (err)
        return IoStatus::fromErrno(err);
    manifestEnd += line.size();
    live += liveChange;
    return {};
}

struct JournalFile::State final : OldFileKeeper {
    enum class Kept { Nothing, Swap, Linked, Copied };

    std::shared_ptr<JournalRun::Shared> run;
    QByteArray path;
    int seq = 0;
    struct stat original {};
    int fd = -1; // the original, open and locked by the run
    Kept kept = Kept::Nothing;
    QByteArray keptName;
    bool reserved = false;
    QString notKept;        // why the file cannot be undone
    bool decided = false;   // its Keep record is written
    bool inJournal = false; // swapped: the old file holds the kept name, as the writer checked
    NewContent content;
    bool committed = false;

    bool syncEach() const { return run->durability == Durability::EachFile; }

    Record keepRecord() const
    {
        Record r;
        r.kind = Record::Kind::Keep;
        r.file = seq;
        r.path = path;
        r.kept = keptName;
        r.origDev = original.st_dev;
        r.origIno = original.st_ino;
        r.origSize = original.st_size;
        r.origMtimeSec = original.st_mtim.tv_sec;
        r.origMtimeNsec = original.st_mtim.tv_nsec;
        r.newDev = content.device;
        r.newIno = content.inode;
        r.newSize = content.size;
        r.digest = content.digest;
        return r;
    }

    Record fileRecord(Record::Kind kind) const
    {
        Record r;
        r.kind = kind;
        r.file = seq;
        r.path = path;
        r.reason = notKept;
        return r;
    }

    // What was kept goes, and its room with it.
    void unkeep()
    {
        if (kept == Kept::Linked || kept == Kept::Copied)
            ::unlinkat(run->dirHandle.fd, keptName.constData(), 0);
        kept = Kept::Nothing;
        if (reserved)
            run->release(original.st_size);
        reserved = false;
    }

    // A copy of the original, with its owner, mode, ACL and attributes.
    bool copy()
    {
        keptName = 'c' + QByteArray::number(seq);
        int created = -1;
        const int err = copyInto(fd, run->dir + '/' + keptName, original.st_size, &created);
        Fd to(created);
        if (created >= 0) {
            kept = Kept::Copied;
            run->copied = true;
        }
        if (err) {
            notKept = QCoreApplication::translate("vexalo", "the journal could not keep it: %1")
                          .arg(IoStatus::fromErrno(err).error);
            return false;
        }
        WriteOptions like;
        like.modeFrom = &original;
        like.metadataFrom = FilePath::fromBytes(path);
        FileMetadata metadata;
        IoStatus status = metadata.read(run->dir + '/' + keptName, nullptr, like);
        if (status.ok())
            status = metadata.applyOwner(to.fd);
        if (status.ok())
            status = metadata.applyAccess(to.fd);
        // Only where each file is promised on the disk: otherwise the one
        // sync of the journal's file system at the run's end covers it.
        if (status.ok() && syncEach() && ::fdatasync(to.fd) != 0)
            status = IoStatus::fromErrno(errno);
        if (!status.ok()) {
            notKept = QCoreApplication::translate("vexalo", "the journal could not keep it: %1").arg(status.error);
            return false;
        }
        return true;
    }

    // The old inode itself linked into the entry's folder by its
    // descriptor: root may link the descriptor, anyone else through /proc.
    bool link()
    {
        keptName = 'l' + QByteArray::number(seq);
        const int dirFd = run->dirHandle.fd;
        const char *name = keptName.constData();
        const bool root = run->euid == 0;
        int rc = root ? ::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) : -1;
        if (rc != 0) {
            const QByteArray byFd = "/proc/self/fd/" + QByteArray::number(fd);
            rc = ::linkat(AT_FDCWD, byFd.constData(), dirFd, name, AT_SYMLINK_FOLLOW);
            if (rc != 0 && errno == ENOENT && !root)
                rc = ::linkat(fd, "", dirFd, name, AT_EMPTY_PATH);
        }
        if (rc == 0)
            kept = Kept::Linked;
        return rc == 0;
    }

    KeepDecision decide(const NewContent &newContent) override
    {
        if (!notKept.isEmpty() || kept == Kept::Nothing)
            return {};
        content = newContent;
        const IoStatus appended = run->append(keepRecord(), syncEach(), 1);
        if (!appended.ok()) {
            notKept = QCoreApplication::translate("vexalo", "the journal could not record it: %1").arg(appended.error);
            unkeep();
            return {};
        }
        decided = true;
        if (kept == Kept::Swap)
            return {run->dirHandle.fd, keptName};
        return {};
    }

    void swapped() override { inJournal = true; }

    // Whether the file now holds the new content: the writer replaced it.
    bool replaced() const
    {
        struct stat now {};
        return ::stat(path.constData(), &now) == 0 && now.st_dev == content.device && now.st_ino == content.inode;
    }

    // The file was not replaced after all (the writer failed before its
    // rename): its record is withdrawn and what was kept goes.
    void withdraw()
    {
        if (decided && replaced())
            return; // replaced, then something after failed: Undo still can
        if (decided)
            run->append(fileRecord(Record::Kind::Withdrawn), false, -1);
        if (kept == Kept::Swap) {
            // The name holds the old file only after a swap, which did not happen.
            kept = Kept::Nothing;
        }
        unkeep();
    }
};

JournalFile::JournalFile() = default;
JournalFile::JournalFile(JournalFile &&) noexcept = default;
JournalFile &JournalFile::operator=(JournalFile &&other) noexcept
{
    if (this != &other) {
        if (m_state && !m_state->committed)
            m_state->withdraw();
        m_state = std::move(other.m_state);
    }
    return *this;
}

JournalFile::~JournalFile()
{
    if (m_state && !m_state->committed)
        m_state->withdraw();
}

void JournalFile::attach(WriteOptions &options)
{
    if (m_state && m_state->notKept.isEmpty())
        options.keeper = m_state.get();
}

QString JournalFile::commit()
{
    if (!m_state)
        return {};
    State &s = *m_state;
    s.committed = true;
    if (s.decided && s.kept == State::Kept::Swap && !s.inJournal) {
        // The writer swaps where it can; where it could not, the name does
        // not hold the old file, and the record says so before Undo looks.
        s.notKept = QCoreApplication::translate("vexalo", "the file system could not swap it into the journal");
        s.run->append(s.fileRecord(Record::Kind::Unkept), s.syncEach(), 0);
        return s.notKept;
    }
    if (!s.decided) {
        if (s.notKept.isEmpty())
            s.notKept = QCoreApplication::translate("vexalo", "the journal could not keep it");
        s.unkeep();
        s.run->append(s.fileRecord(Record::Kind::Unkept), s.syncEach(), 1);
        return s.notKept;
    }
    if (s.syncEach() && ::fsync(s.run->dirHandle.fd) != 0)
        return QCoreApplication::translate("vexalo", "the journal could not be saved to the disk: %1")
            .arg(IoStatus::fromErrno(errno).error);
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

QString JournalRun::notice() const
{
    return m_shared ? m_shared->notice : QString();
}

JournalFile JournalRun::keep(const FilePath &path, const struct stat &info, int fd)
{
    JournalFile file;
    if (m_shared && !m_shared->problem.isEmpty())
        m_shared->missed = true;
    if (!m_shared || !m_shared->problem.isEmpty() || m_shared->finished)
        return file;
    auto state = std::make_unique<JournalFile::State>();
    using Kept = JournalFile::State::Kept;
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
        const bool own = info.st_dev == m_shared->device && info.st_nlink == 1;
        if (own && m_shared->canSwap) {
            state->kept = Kept::Swap;
            state->keptName = 'l' + QByteArray::number(state->seq);
        } else if (!(own && state->link()) && !state->copy()) {
            state->unkeep();
        }
    }
    file.m_state = std::move(state);
    return file;
}

namespace {

// Syncs and closes the entry, or removes it where nothing was rewritten.
void closeEntry(JournalRun::Shared &s)
{
    s.unmapRecords();
    if (s.manifest.fd < 0) {
        s.busy.reset();
        return;
    }
    if (s.live == 0) {
        // Nothing was rewritten: no entry, so Undo keeps to the run before.
        {
            RootLock lock(s.root);
            s.manifest.reset();
            removeEntry(s.dir, true);
        }
        if (s.root != s.home) {
            // Nor is this run the newest the list names on the volume.
            RootLock lock(s.home);
            noteVolume(s.home, s.root, newestOwnRun(s.root, homeJournalId(s.home, false)), false, {});
        }
        s.busy.reset();
        return;
    }
    {
        Fd bytes(
            ::open((s.dir + '/' + bytesName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (bytes.fd >= 0)
            writeAll(bytes.fd, QByteArray::number(s.used));
    }
    if (s.durability != Durability::None) {
        // Copies go to the disk with one sync of the journal's file system
        // rather than one per file; without copies the records and the
        // names in the two folders are all there is.
        int err = 0;
        if (s.copied && s.durability == Durability::AtEnd)
            err = ::syncfs(s.manifest.fd) == 0 ? 0 : errno;
        else if (::fdatasync(s.manifest.fd) != 0)
            err = errno;
        for (const QByteArray *folder : {&s.dir, &s.root}) {
            if (!err)
                err = syncPath(*folder);
        }
        // The files are replaced and Undo works until the machine stops;
        // after a crash it may find less than the run did. Said once, as any
        // trouble of the journal.
        if (err && s.problem.isEmpty()) {
            s.problem = QCoreApplication::translate("vexalo",
                                                    "the journal in %1 could not be saved to the disk, so this run may "
                                                    "not be undone after a system crash: %2")
                            .arg(FilePath::fromBytes(s.root).display(), IoStatus::fromErrno(err).error);
            s.missed = true;
        }
    }
    s.manifest.reset(); // and with it the lock: Undo may take the entry now
    s.busy.reset();
}

} // namespace

void JournalRun::finish()
{
    if (!m_shared)
        return;
    Shared &s = *m_shared;
    {
        std::lock_guard guard(s.mutex);
        if (s.finished)
            return;
        s.finished = true;
        closeEntry(s);
    }
    // The older runs this one gave up for room go after it, once its entry
    // and locks are closed: a run over many files gives up as many.
    deleteDropped(s.root);
}

} // namespace vexalo
