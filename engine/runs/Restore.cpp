// SPDX-License-Identifier: MIT
// Restore over a list of names: each file's backup put back in its place,
// atomically, and deleted only once that succeeded.

#include "engine/runs/RunSteps.h"
#include "engine/runs/Scheduler.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

namespace {

// Only a backup that is itself a regular file counts: a link of that name
// (planted by another user, say) is never read through. Without one, the
// file is not restored; a folder moved away or barred since it was listed is
// a failure with its reason, not a file that merely has no backup.
std::optional<FileResult> withoutBackup(const RestoreJob &job, const FilePath &name, const FilePath &backupPath)
{
    struct stat backupName {};
    if (::lstat(backupPath.c_str(), &backupName) == 0 && S_ISREG(backupName.st_mode))
        return std::nullopt;
    struct stat folder {};
    if (::stat(job.folder.c_str(), &folder) != 0)
        return failed(name, IoStatus::fromErrno(errno).error);
    if (!S_ISDIR(folder.st_mode))
        return failed(name, IoStatus::fromErrno(ENOTDIR).error);
    return FileResult{name, Outcome::NotRestored, {}};
}

FileResult restoreOne(const RestoreJob &job, const FilePath &name, bool syncEach, bool *wrote, const ReadGate &gate,
                      LockWaits &waits)
{
    if (isLeftoverTemporary(name))
        return failed(name, leftoverReason());
    const FilePath path = job.folder / name;
    const FilePath backupPath = path.withSuffix(".old");
    if (const std::optional<FileResult> none = withoutBackup(job, name, backupPath))
        return *none;

    // The file is read (and locked) first, before the backup takes its share
    // of the memory: a file in work never waits for a lock while it holds
    // memory that another file in work waits for.
    ReadOptions currentOptions;
    currentOptions.lock = true;
    currentOptions.waits = &waits;
    currentOptions.wholeUpTo = wholeFileLimit();
    const ReadResult current = readWholeFile(path, {}, currentOptions);
    if (current.status.ok()) {
        if (const IoStatus writable = checkWritable(path, current.info); !writable.ok())
            return failed(name, writable.error);
    } else if (current.status.code != ENOENT) {
        // The file is there but this user may not even read it: not one to
        // replace blindly. The backup stays.
        return failed(name, current.status.error);
    }

    // The file itself was read too, about as large as its backup.
    // A large file and its backup are compared and copied a block at a time.
    ReadOptions backupOptions;
    backupOptions.noFollow = true;
    backupOptions.wholeUpTo = wholeFileLimit();
    const ReadResult backup = readWholeFile(
        backupPath, gate ? ReadGate([&](qint64 size) { return gate(2 * size); }) : ReadGate(), backupOptions);
    if (backup.unread.isOpen() && gate)
        gate(blockMemory());
    if (backup.status.code == ELOOP)
        return {name, Outcome::NotRestored, {}}; // it became a link after all
    if (!backup.status.ok())
        return failed(name, tr("the backup could not be read: %1").arg(backup.status.error));

    WriteOptions options;
    options.syncData = syncEach;
    // A file that exists keeps what it grants, as a rewrite does; one that
    // no longer exists comes back as its backup was.
    options.modeFrom = &backup.info;
    options.metadataFrom = backupPath;
    // Another program that writes the file while the backup is being copied
    // back keeps its content (and the backup stays).
    if (current.status.ok())
        options.expected = &current.info;
    bool same = false;
    if (current.status.ok()) {
        if (!current.unread.isOpen() && !backup.unread.isOpen())
            same = current.data == backup.data;
        else if (current.unread.isOpen() && backup.unread.isOpen() && current.info.st_size == backup.info.st_size)
            same = sameContent(current.unread.fd(), backup.unread.fd(), qint64(backup.info.st_size));
    }
    if (same) {
        // Already restored (a run that stopped before deleting the backup):
        // nothing to write, only the backup to remove.
    } else {
        const IoStatus written = writeFileAtomically(path, backup, options);
        if (!written.ok())
            return failed(name, written.error);
        *wrote = true;
        if (!syncEach && current.status.ok()) {
            const IoStatus synced = syncIfElsewhere(path, current.info.st_dev, deviceOf(job.folder));
            if (!synced.ok())
                return failed(name, tr("written, but the disk could not be synced: %1").arg(synced.error));
        }
    }
    // Only now that the file holds the backup's bytes may the backup go.
    if (::unlink(backupPath.c_str()) != 0)
        return failed(
            name,
            tr("the file was restored, but its backup could not be deleted: %1").arg(IoStatus::fromErrno(errno).error));
    return {name, Outcome::Restored, {}};
}

} // namespace

RunSummary runRestore(const RestoreJob &job, const RunControl &control)
{
    const std::shared_ptr<LockWaits> waits = lockWaitsFor(control);
    // A restore reads and deletes the backup.
    return runEach(job.folder, job.names, control, true,
                   [&](const FilePath &name, bool syncEach, bool *wrote, const ReadGate &gate, const struct stat *) {
                       return restoreOne(job, name, syncEach, wrote, gate, *waits);
                   });
}

} // namespace vexalo
