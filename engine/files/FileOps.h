// SPDX-License-Identifier: MIT
#pragma once

// engine/files: a file's life on the disk: its name as bytes, reading it,
// the atomic writer that replaces it, the metadata that goes with it, the
// protected list and the words runs report in. May use engine/text, nothing
// above it.

#include "engine/files/FilePath.h"
#include "engine/files/WriteOptions.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <span>
#include <utility>
#include <sys/stat.h>

namespace vexalo {

// An exclusive advisory lock (flock) on a file read for rewriting, held until
// this goes away. Another run of this program waits for it, so two runs never
// rewrite one file from the same old content.
class FileLock {
public:
    FileLock() = default;
    explicit FileLock(int fd)
        : m_fd(fd)
    {
    }
    FileLock(FileLock &&other) noexcept;
    FileLock &operator=(FileLock &&other) noexcept;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock();
    int fd() const { return m_fd; } // the locked file, open for reading

private:
    int m_fd = -1;
};

// The time the files of one run may spend waiting for locks other programs
// hold: one period for the whole run, not one per file, so that a run over
// many files that stay locked does not wait a minute for each. Time counts
// while any file waits (files waiting side by side count once); once the
// period is spent, a file still locked fails at once.
class LockWaits {
public:
    explicit LockWaits(std::chrono::milliseconds period = std::chrono::minutes(1))
        : m_period(period)
    {
    }
    LockWaits(const LockWaits &) = delete;
    LockWaits &operator=(const LockWaits &) = delete;

    // Told on the waiting thread the path of a file that starts to wait, and
    // an empty path once no file waits any more; set before the run starts.
    std::function<void(const QString &path)> onWait;

    // For the reader: a file starts or stops waiting; whether the period is spent.
    void begin(const QString &path);
    void end();
    bool spent() const;

private:
    using Clock = std::chrono::steady_clock;
    const Clock::duration m_period;
    mutable std::mutex m_mutex;
    int m_waiting = 0;
    Clock::time_point m_since; // when the files waiting now began to
    Clock::duration m_spent{}; // by earlier waits
};

// An open descriptor, closed when this goes away.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd)
        : m_fd(fd)
    {
    }
    OpenFile(OpenFile &&other) noexcept;
    OpenFile &operator=(OpenFile &&other) noexcept;
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile();
    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); } // the caller's to close now

private:
    int m_fd = -1;
};

struct ReadResult {
    IoStatus status;
    QByteArray data;
    // Of the file read (after links). Read with ReadOptions::lockLater, it is
    // what the look-up of the name found (ReadOptions::named) until
    // lockAsRead() takes it from the open file.
    struct stat info {};
    FileLock lock; // held only when asked for
    // Set instead of data for a file larger than ReadOptions::wholeUpTo:
    // open at its start, for the caller to read in blocks.
    OpenFile unread;
    // Read with ReadOptions::lockLater and not locked yet: the file read,
    // still open, for lockAsRead().
    OpenFile opened;
    // The file's attributes (statx's stx_attributes & stx_attributes_mask),
    // when lockAsRead() has read them from the open file.
    std::optional<quint64> attributes;
};

struct ReadOptions {
    // The name itself must be a regular file: a link there is not followed
    // and reads as a failure with code ELOOP.
    bool noFollow = false;
    // Takes an exclusive advisory lock on the file before reading it, and
    // makes sure the name still leads to the locked file (a run that held it
    // may have replaced it meanwhile). The lock stays in the result.
    bool lock = false;
    // With lock: the waiting period this file shares with the rest of its
    // run (see LockWaits); none: a period of its own.
    LockWaits *waits = nullptr;
    // Instead of lock, for a reader that writes nothing (a preview): a
    // shared lock, never waited for. A file another program holds locked
    // fails at once, saying so.
    bool tryShared = false;
    // A file larger than this (in bytes, as fstat() gives it) is opened,
    // checked and locked like any other, but left unread (ReadResult::unread)
    // so that its reader holds only a block of it at a time. -1: no limit.
    qint64 wholeUpTo = -1;
    // Most files a run reads hold no match and are never written: with this
    // and what a look-up of the name found (lstat) in named, a regular file
    // read whole costs an open, a read and a close, unlocked, and the caller
    // takes the lock with lockAsRead() only once it means to rewrite the
    // file. Without named, for a link, or for a file read in blocks, the
    // file is locked before it is read, as with lock.
    bool lockLater = false;
    const struct stat *named = nullptr;
};

// Memory that a run keeps for its large files, read one after another: pages
// already in use cost nothing to fill again, where fresh ones cost a fault and
// clearing each. Holds one file at a time.
class ReadBuffer {
public:
    char *reserve(qsizetype size); // nullptr when there is no memory for it
private:
    std::unique_ptr<char[]> m_data;
    qsizetype m_capacity = 0;
};

// Told a file's size once it is open and before its bytes are read; it may
// block, so that a run over several files at once holds back until there is
// memory for this one. It may hand back a buffer to read into, which the
// result's data then refers to: valid until the buffer is next used.
using ReadGate = std::function<ReadBuffer *(qint64 size)>;

// Reads the whole file; a file too large for memory is a failure, not a crash.
ReadResult readWholeFile(const FilePath &path, const ReadGate &beforeRead = {}, const ReadOptions &options = {});

// Locks a file read with ReadOptions::lockLater (nothing to do for one that
// is locked already) and makes sure that what was read is what is there now:
// the open file still has the status the look-up of the name gave before it
// was opened (device, inode, size, modification and change time, mode), so
// no one changed it or took its name since. *changed is set, and the file
// left unlocked, when it is not: the caller then reads it again, locked.
// Takes result.info and result.attributes from the open file.
// Waits within waits' period (none: one of its own) for another program's
// lock on path.
IoStatus lockAsRead(ReadResult &result, bool *changed, LockWaits *waits = nullptr, const FilePath &path = {});

// True for a regular file or a link to one; folders and special files do not count.
bool isRegularFile(const FilePath &path);

// Refuses files the owner may not write, even for root, and any the process
// may not replace: the file itself, and the folder the new file is created in
// (for a link, its target's folder), with its attributes and sticky bit.
IoStatus checkWritable(const FilePath &path, const struct stat &info);

// The same checks within one run, which looks at each folder once: whether
// it may be written, its attributes, its sticky bit and owner, and whether
// it gives new files an ACL of its own. A folder changed during the run is
// still found out by the write itself, which then fails with its reason.
// Shared by a run's worker threads.
class FolderChecks {
public:
    FolderChecks();
    ~FolderChecks();
    FolderChecks(const FolderChecks &) = delete;
    FolderChecks &operator=(const FolderChecks &) = delete;

    // target: the file itself, no link (a link's target resolved); info its
    // status; attributes as statx gave them for it, when known.
    IoStatus checkWritable(const QByteArray &target, const struct stat &info,
                           std::optional<quint64> attributes = std::nullopt);
    // Whether a new file beside target takes an ACL from its folder (a
    // default ACL).
    bool givesAcl(const QByteArray &target);

private:
    struct Facts;
    const Facts &factsOf(const QByteArray &folder);
    struct State;
    std::unique_ptr<State> m;
};

// Whether a backup may be written under this name (as the writer's
// replaceName would): nothing there, a regular file or a link (replaced, never
// followed) may; a folder, device, pipe or socket refuses, with the reason.
IoStatus checkBackupName(const FilePath &path);

// The writer behind writeFileAtomically, for content that comes in parts: a
// large file is written as it is read, never held whole. Opens the temporary
// at once (status() says whether it could); nothing is visible under the
// name until commit(), and a writer that goes away uncommitted leaves no
// trace.
class AtomicWriter {
public:
    AtomicWriter(const FilePath &path, const WriteOptions &options = {});
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter &) = delete;
    AtomicWriter &operator=(const AtomicWriter &) = delete;

    const IoStatus &status() const { return m_status; }
    // Appends the pieces, in order.
    IoStatus write(std::span<const QByteArrayView> pieces);
    // Appends length bytes of the open file fd from offset on, in the kernel
    // where it can (a clone or copy_file_range), without moving fd's own
    // position. A file that ends early has been changed under the reader.
    IoStatus copyFrom(int fd, qint64 offset, qint64 length);
    // Puts the temporary in the file's place (see writeFileAtomically).
    IoStatus commit();
    // Whether the new content is in the file's place: also after a commit
    // that failed only to sync it there.
    bool committed() const;

private:
    IoStatus fail(const IoStatus &status);
    struct State;
    std::unique_ptr<State> m;
    IoStatus m_status;
};

// Replaces the file at path with exactly these bytes (the pieces in order),
// through a temporary file in the same folder that is renamed over it. A link
// stays a link: its target is rewritten. Keeps owner, group, permission
// bits, ACL and extended attributes, and fails where they cannot be kept (see
// FileMetadata). On any failure the old file is left as it was and no
// temporary file remains.
IoStatus writeFileAtomically(const FilePath &path, std::span<const QByteArrayView> pieces,
                             const WriteOptions &options = {});
IoStatus writeFileAtomically(const FilePath &path, QByteArrayView bytes, const WriteOptions &options = {});
// The content of another file as a read gave it (Restore's backup, Undo's
// kept file): held whole, or streamed from the file when it was left unread.
IoStatus writeFileAtomically(const FilePath &path, const ReadResult &from, const WriteOptions &options = {});

// Compares two open files from their starts, one block at a time, without
// moving their positions; false also when either cannot be read.
bool sameContent(int a, int b, qint64 size);

// The reason given for a file another program changed while it was in work.
QString changedUnderneathReason();

// Renames within one folder and never replaces another file. A case-only
// change works also where the file system ignores case.
IoStatus renameNoReplace(const FilePath &folder, const FilePath &from, const FilePath &to);

// Syncs the file system that holds path (used once at the end of a run).
IoStatus syncFileSystemOf(const FilePath &path);

// The prefix of the hidden temporary names the writer uses; a temporary left
// by a killed run carries it and is never a user's file.
QString temporaryPrefix();

} // namespace vexalo
