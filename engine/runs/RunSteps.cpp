// SPDX-License-Identifier: MIT
#include "engine/runs/RunSteps.h"

#include "engine/journal/Journal.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>

namespace vexalo {

namespace {

constexpr qint64 defaultWholeFileLimit = 4 * 1024 * 1024;
constexpr qint64 defaultBlockSize = 1024 * 1024;
std::atomic<qint64> wholeFileLimitNow{defaultWholeFileLimit};
std::atomic<qint64> blockSizeNow{defaultBlockSize};

} // namespace

QString tr(const char *text)
{
    return QCoreApplication::translate("vexalo", text);
}

FileResult failed(const FilePath &name, const QString &reason)
{
    return {name, Outcome::Failed, reason};
}

bool isLeftoverTemporary(const FilePath &name)
{
    static const QByteArray prefix = temporaryPrefix().toUtf8();
    return name.bytes().startsWith(prefix);
}

QString leftoverReason()
{
    return tr("a temporary file left by an interrupted run, not one of yours; it was not touched and may be deleted");
}

dev_t deviceOf(const FilePath &folder)
{
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 ? info.st_dev : dev_t(-1);
}

IoStatus syncIfElsewhere(const FilePath &path, dev_t fileDevice, dev_t folderDevice)
{
    if (fileDevice == folderDevice)
        return {};
    return syncFileSystemOf(path);
}

qint64 wholeFileLimit()
{
    return wholeFileLimitNow.load();
}

qint64 blockSize()
{
    return blockSizeNow.load();
}

qint64 blockMemory()
{
    return 2 * blockSize();
}

void setBlockReadingForTests(qint64 wholeFileLimit, qint64 blockSize)
{
    wholeFileLimitNow = wholeFileLimit < 0 ? defaultWholeFileLimit : wholeFileLimit;
    blockSizeNow = blockSize < 0 ? defaultBlockSize : std::max<qint64>(2, (blockSize + 1) & ~qint64(1));
}

std::optional<FileResult> decidedBySearch(const FilePath &name, const EncodedTexts &texts, FileEncoding encoding,
                                          const SearchOutcome &found)
{
    if (!texts.findRepresentable)
        return FileResult{name, Outcome::NotFound, {}}; // the file cannot hold the text, so it does not occur
    if (!texts.needle->isEmpty() && found.matches == 0)
        return FileResult{name, Outcome::NotFound, {}};
    if (found.matches > 0 && !texts.replacement)
        return failed(name,
                      tr("the replacement text has characters that cannot be written in this "
                         "file's encoding (%1); the file was left unchanged")
                          .arg(encodingName(encoding)));
    return std::nullopt;
}

std::shared_ptr<LockWaits> lockWaitsFor(const RunControl &control)
{
    return control.lockWaits ? control.lockWaits : std::make_shared<LockWaits>();
}

WriteOptions backupWriteOptions(const FilePath &path, const struct stat &info, bool syncEach)
{
    WriteOptions options;
    options.syncData = syncEach;
    options.modeFrom = &info;
    options.metadataFrom = path;
    options.alwaysModeFrom = true;
    options.replaceName = true; // never written through a link someone put there
    return options;
}

QString backupFailedReason(const QString &reason)
{
    return tr("the backup could not be made, so the file was left unchanged: %1").arg(reason);
}

FileResult commitRewrite(const FilePath &name, const FilePath &path, const struct stat &info, AtomicWriter *writer,
                         OlderBackup &older, JournalFile &journaled, bool syncEach, bool *wrote,
                         const ReplaceContext &context)
{
    if (!writer) {
        older.keep();
        return {name, Outcome::Replaced, {}};
    }
    const IoStatus written = writer->commit();
    if (writer->committed())
        older.keep();
    if (!written.ok())
        return failed(name, written.error); // not committed: the older backup is put back
    *wrote = true;
    return rewritten(name, path, info, journaled, syncEach, context);
}

FileResult rewritten(const FilePath &name, const FilePath &path, const struct stat &info, JournalFile &journaled,
                     bool syncEach, const ReplaceContext &context)
{
    FileResult result{name, Outcome::Replaced, {}};
    result.notUndoable = journaled.commit();
    if (!syncEach) {
        if (const IoStatus synced = syncIfElsewhere(path, info.st_dev, context.folderDevice); !synced.ok())
            return failed(name, tr("written, but the disk could not be synced: %1").arg(synced.error));
    }
    return result;
}

} // namespace vexalo
