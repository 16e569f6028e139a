// SPDX-License-Identifier: MIT
// Undo: each file of the last run that still holds exactly what the run
// wrote gets back its old content and modification time; every other file
// says why not, and what the journal kept of it stays.
#include "engine/journal/Journal.h"
#include "engine/journal/JournalFolder.h"
#include "engine/journal/JournalRecord.h"

#include "engine/files/Digest.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexalo {

using namespace journal;

namespace {

// Each file by its whole path: a run may have worked in several folders.
FileResult undoFailed(const FilePath &path, const QString &reason)
{
    return {path, Outcome::Failed, reason};
}

FileResult undoRestored(const FilePath &path)
{
    return {path, Outcome::Restored, {}};
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

// A file gone from its name: is the run's content still in its folder under
// another name? Only the folder is looked through, which is where a rename
// usually goes; a file moved elsewhere reads as deleted. The content must
// match too: an inode number freed by the deletion may be given again.
bool renamedInItsFolder(const Record &r)
{
    const QByteArray folder = r.path.left(std::max<qsizetype>(1, r.path.lastIndexOf('/')));
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    QByteArray candidate;
    while (const dirent *e = ::readdir(dir)) {
        struct stat info {};
        if (e->d_ino == r.newIno && ::fstatat(::dirfd(dir), e->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
            && info.st_dev == r.newDev && info.st_ino == r.newIno && qint64(info.st_size) == r.newSize) {
            candidate = folder + '/' + e->d_name;
            break;
        }
    }
    ::closedir(dir);
    if (candidate.isEmpty())
        return false;
    ReadOptions options;
    options.noFollow = true;
    options.wholeUpTo = undoWholeUpTo;
    const ReadResult found = readWholeFile(FilePath::fromBytes(candidate), {}, options);
    return found.status.ok() && digestOf(found) == r.digest;
}

struct UndoneFile {
    FileResult result;
    bool back = false; // the file holds its old content now
};

UndoneFile putBack(const Record &r, const QByteArray &dir, const ReadResult &current, bool syncEach)
{
    const FilePath path = FilePath::fromBytes(r.path);
    const QByteArray keptPath = dir + '/' + r.kept;
    ReadOptions keptOptions;
    keptOptions.noFollow = true;
    keptOptions.wholeUpTo = undoWholeUpTo;
    const ReadResult kept = readWholeFile(FilePath::fromBytes(keptPath), {}, keptOptions);
    if (!kept.status.ok()) {
        if (kept.status.code == ENOENT)
            return {
                undoFailed(path,
                           QCoreApplication::translate(
                               "vexalo", "its old content is not in the journal (the run could not keep it there)")),
                false};
        return {
            undoFailed(path,
                       QCoreApplication::translate("vexalo", "its old content could not be read from the journal: %1")
                           .arg(kept.status.error)),
            false};
    }
    if (qint64(kept.info.st_size) != r.origSize
        || (r.keptIsOldFile()
            && (kept.info.st_ino != r.origIno || !sameTime(kept.info, r.origMtimeSec, r.origMtimeNsec))))
        return {undoFailed(path,
                           QCoreApplication::translate(
                               "vexalo", "its old content in the journal was changed; the file was left as it is")),
                false};
    if (const IoStatus writable = checkWritable(path, current.info); !writable.ok())
        return {undoFailed(path, writable.error), false};

    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &current.info;
    // Only the content and its time come back. Owner, group, permission
    // bits, ACL and attributes stay the file's own: the run left them as
    // they were, so any change since is the user's newer wish (a chmod that
    // took access away must not be undone with the content).
    const struct timespec times[2] = {timespec{0, UTIME_OMIT}, timespec{time_t(r.origMtimeSec), long(r.origMtimeNsec)}};
    options.times = times;
    const IoStatus written = writeFileAtomically(path, kept, options);
    if (!written.ok())
        return {undoFailed(path, written.error), false};
    return {undoRestored(path), true};
}

UndoneFile undoOne(const Record &r, const QByteArray &dir, bool syncEach)
{
    const FilePath path = FilePath::fromBytes(r.path);
    if (r.kind == Record::Kind::Unkept)
        return {
            undoFailed(
                path,
                QCoreApplication::translate("vexalo", "the journal did not keep its old content: %1").arg(r.reason)),
            false};

    // Locked as a run locks it, so a run of this program on the same file
    // waits, and the file cannot change between the check and the rename
    // without the writer's own last check seeing it.
    ReadOptions currentOptions;
    currentOptions.lock = true;
    currentOptions.wholeUpTo = undoWholeUpTo;
    const ReadResult current = readWholeFile(path, {}, currentOptions);
    if (!current.status.ok()) {
        if (current.status.code == ENOENT) {
            return {undoFailed(path,
                               renamedInItsFolder(r)
                                   ? QCoreApplication::translate("vexalo", "it was renamed or replaced since the run")
                                   : QCoreApplication::translate("vexalo", "it was deleted since the run")),
                    false};
        }
        return {undoFailed(path, current.status.error), false};
    }
    const struct stat &now = current.info;
    if (now.st_dev == r.newDev && now.st_ino == r.newIno) {
        if (qint64(now.st_size) != r.newSize || digestOf(current) != r.digest)
            return {
                undoFailed(path,
                           QCoreApplication::translate("vexalo", "it was changed since the run; it was left as it is")),
                false};
        return putBack(r, dir, current, syncEach);
    }
    // The record is written before the file is replaced: a run stopped in
    // between left the old file in place, untouched.
    if (now.st_dev == r.origDev && now.st_ino == r.origIno && qint64(now.st_size) == r.origSize
        && sameTime(now, r.origMtimeSec, r.origMtimeNsec))
        return {undoRestored(path), true};
    return {undoFailed(path,
                       QCoreApplication::translate("vexalo",
                                                   "it was renamed or replaced since the run; it was left as it is")),
            false};
}

// Why the lines of a manifest that cannot be read leave their files as they are.
QString damageMessage(const Manifest &manifest, const QString &id)
{
    QStringList lines;
    for (const Damage &d : manifest.damaged)
        lines << QCoreApplication::translate("vexalo", "line %1: %2").arg(d.line).arg(d.why);
    return QCoreApplication::translate(
               "vexalo", "%n record(s) of run %1 cannot be read, so the files they name cannot be undone (%2)", nullptr,
               int(manifest.damaged.size()))
        .arg(id, lines.join(QStringLiteral("; ")));
}

// Puts back each file of the entry in dir not yet back or withdrawn, marking
// each in the manifest (open as manifestFd) as it comes back. The number of
// kept files that did not come back.
int undoFiles(const Manifest &manifest, const QByteArray &dir, int manifestFd, const RunControl &control,
              RunSummary &summary)
{
    const bool syncEach = control.durability == Durability::EachFile;
    std::set<dev_t> written;
    int left = 0;
    int index = 0;
    // By path: files in work at once were recorded in the order they were
    // done, which a second run need not repeat.
    std::vector<const Record *> order;
    for (const auto &[file, record] : manifest.files) {
        if (!manifest.back.count(file) && !manifest.withdrawn.count(file))
            order.push_back(&record);
    }
    std::stable_sort(order.begin(), order.end(), [](const Record *a, const Record *b) { return a->path < b->path; });
    for (const Record *record : order) {
        if (index > 0 && control.stopRequested && control.stopRequested()) {
            summary.stopped = true;
            break;
        }
        const UndoneFile file = undoOne(*record, dir, syncEach);
        if (file.back) {
            written.insert(record->newDev);
            // Marked at once, so an undo that is stopped or killed never
            // takes the file back a second time.
            Record back;
            back.kind = Record::Kind::Back;
            back.file = record->file;
            writeAll(manifestFd, recordLine(back));
            if (syncEach)
                ::fdatasync(manifestFd);
        } else if (record->kind == Record::Kind::Keep) {
            ++left;
        }
        summary.results.append(file.result);
        if (control.fileDone)
            control.fileDone(file.result, index);
        ++index;
    }
    if (control.durability == Durability::AtEnd) {
        for (const Record *record : order) {
            if (written.erase(record->newDev))
                syncFileSystemOf(FilePath::fromBytes(record->path));
        }
        ::fdatasync(manifestFd);
    }
    return left;
}

// Names the run that is going on, for the refusal.
QString runGoingOn(const QList<QByteArray> &roots)
{
    int err = 0;
    const QList<RootedEntry> names = entryNames(roots, homeJournalId(roots.first(), false), &err);
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        const QByteArray manifestPath = it->root + '/' + it->name + '/' + manifestName;
        Fd fd(::open(manifestPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (fd.fd < 0 || ::flock(fd.fd, LOCK_SH | LOCK_NB) == 0)
            continue;
        const Manifest m = parseManifest(readSmallFile(manifestPath));
        return QCoreApplication::translate("vexalo",
                                           "run %1 (begun %2 in %3) is still going on; undo once it has finished")
            .arg(runOfEntry(it->name))
            .arg(QDateTime::fromMSecsSinceEpoch(m.header.startedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 FilePath::fromBytes(m.header.folder).display());
    }
    return QCoreApplication::translate("vexalo", "a run is still going on; undo once it has finished");
}

} // namespace

UndoResult Journal::undoLast(const RunControl &control) const
{
    UndoResult result;
    const QByteArray &root = m_location.bytes();
    auto refuse = [&](const QString &message) {
        result.refused = true;
        result.message = message;
        return result;
    };
    struct stat rootInfo {};
    if (::lstat(root.constData(), &rootInfo) != 0)
        return refuse(QCoreApplication::translate("vexalo", "there is no run to undo"));
    if (!S_ISDIR(rootInfo.st_mode) || rootInfo.st_uid != ::geteuid())
        return refuse(QCoreApplication::translate("vexalo", "the journal folder %1 is not a folder of this user's")
                          .arg(m_location.display()));
    // No run may go on meanwhile: one that began before would be taken back
    // half-done, or its files read while they are put back. Every run holds
    // the home journal's hold, wherever its entry is.
    Fd busy(::open((root + '/' + busyName).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (busy.fd < 0)
        return refuse(QCoreApplication::translate("vexalo", "the journal cannot be read: %1")
                          .arg(IoStatus::fromErrno(errno).error));
    if (::flock(busy.fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(runGoingOn(roots()));
    RootLock lock(root);
    QString why;
    const std::optional<JournalEntry> last = lastRun(&why, true);
    if (!last)
        return refuse(why);
    result.entry = *last;
    if (!last->unreadable.isEmpty())
        return refuse(QCoreApplication::translate("vexalo", "the journal's record of run %1 cannot be read: %2")
                          .arg(last->id, last->unreadable));
    // The home journal's lock first, then that of the volume's journal, as a
    // run takes them.
    const QByteArray &entryRoot = last->root.bytes();
    std::optional<RootLock> volumeLock;
    if (entryRoot != root)
        volumeLock.emplace(entryRoot);
    const QByteArray dir = entryRoot + '/' + last->id.toLatin1();
    Fd manifestFd(::open((dir + '/' + manifestName).constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
    if (manifestFd.fd < 0)
        return refuse(QCoreApplication::translate("vexalo", "the journal cannot be read: %1")
                          .arg(IoStatus::fromErrno(errno).error));
    int readErr = 0;
    const Manifest manifest = parseManifest(readSmallFile(dir + '/' + manifestName, &readErr));
    if (readErr || !manifest.readable)
        return refuse(QCoreApplication::translate("vexalo", "the journal cannot be read: %1")
                          .arg(readErr ? IoStatus::fromErrno(readErr).error : manifest.unreadable));
    // Said, never passed over: the files those lines name cannot be found.
    if (!manifest.damaged.isEmpty())
        result.message = damageMessage(manifest, last->id);

    const int left = undoFiles(manifest, dir, manifestFd.fd, control, result.summary);
    // Every file that can come back is back: the entry goes, and Undo will
    // not reach past it to an older run. Otherwise it stays whole, with the
    // old content of each file that did not come back.
    if (left == 0 && manifest.damaged.isEmpty() && !result.summary.stopped) {
        WriteOptions options;
        options.syncData = control.durability != Durability::None;
        writeFileAtomically(FilePath::fromBytes(root + '/' + undoneName), QByteArray::number(last->run) + '\n',
                            options);
        manifestFd.reset();
        removeEntry(dir, true);
        // The list of volumes names the newest run left there, if any.
        if (entryRoot != root)
            noteVolume(root, entryRoot, newestOwnRun(entryRoot, homeJournalId(root, false)), false, {});
        result.complete = true;
    }
    return result;
}

} // namespace vexalo
