// SPDX-License-Identifier: MIT
#pragma once

// The steps the runs of this folder share: the words of a failed line, the
// block reading settings, the context of a Replace run and the steps its
// whole-file and block readers both take. Not for use outside engine/runs.

#include "engine/files/FileOps.h"
#include "engine/files/OlderBackup.h"
#include "engine/files/Results.h"
#include "engine/runs/Runs.h"
#include "engine/text/SearchTexts.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <sys/stat.h>

namespace vexalo {

class JournalFile;
class RegexRun;

// lupdate files a free tr() under the namespace it sits in, so the window's
// translations hold these strings under "vexalo"; they are looked up there.
QString tr(const char *text);

FileResult failed(const FilePath &name, const QString &reason);

// A run killed between naming its temporary and renaming it leaves the
// temporary behind under a hidden name; a script that hands every file of a
// folder to the command line may name it. It is never the user's file.
bool isLeftoverTemporary(const FilePath &name);
QString leftoverReason();

dev_t deviceOf(const FilePath &folder);
// A run that syncs once at the end syncs the file system of its folder. A
// link may lead to a file on another one: that file system is synced at once,
// so the promise holds for every file the run wrote.
IoStatus syncIfElsewhere(const FilePath &path, dev_t fileDevice, dev_t folderDevice);

// Files up to wholeFileLimit() bytes are read whole: a run over many small
// files pays for nothing else. Larger ones are read in blocks of blockSize()
// bytes, so that a file of any size takes the same memory; blockMemory() is
// what such a file holds while in work.
qint64 wholeFileLimit();
qint64 blockSize();
qint64 blockMemory();

// What a Replace run shares between its files and threads.
class ReplaceContext {
public:
    ReplaceContext(const ReplaceJob &job, LockWaits &lockWaits)
        : job(job)
        , lockWaits(lockWaits)
        , texts(job.findText, job.replaceText, job.caseSensitive, job.exactBreaks)
        , folderDevice(deviceOf(job.folder))
    {
    }
    const ReplaceJob &job;
    LockWaits &lockWaits; // the run's one period of waiting for other programs' locks
    SearchTexts texts;
    const dev_t folderDevice; // set before any worker thread starts
    FolderChecks folders;     // the run's folders, each looked at once
    // With ReplaceJob::regex: the pattern, per encoding; and the run's stop,
    // asked from any thread while a long file is matched.
    std::shared_ptr<RegexRun> regex;
    std::function<bool()> stop;
};

std::shared_ptr<RegexRun> makeRegexRun(const ReplaceJob &job);
// Why the pattern or the replacement cannot be used, if so.
std::optional<QString> regexRunError(const RegexRun &run);
// A Replace with a regular expression, read whole or in blocks.
FileResult replaceRegexOne(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadGate &gate,
                           bool syncEach, bool *wrote);

// What the search of one file found, whole or in blocks, and the outcome it
// decides before anything is written: none while the file goes on to be
// written (or previewed).
struct SearchOutcome {
    qsizetype matches = 0;
    bool changes = false; // a match differs from its replacement
};
std::optional<FileResult> decidedBySearch(const FilePath &name, const EncodedTexts &texts, FileEncoding encoding,
                                          const SearchOutcome &found);

// A backup is a copy of the original under the name with ".old": it grants
// what the original grants, whatever an older backup granted.
WriteOptions backupWriteOptions(const FilePath &path, const struct stat &info, bool syncEach);
QString backupFailedReason(const QString &reason);

// The line of a file whose new content is in place: recorded for Undo, and
// on the disk where the run promised it.
FileResult rewritten(const FilePath &name, const FilePath &path, const struct stat &info, JournalFile &journaled,
                     bool syncEach, const ReplaceContext &context);

// The end of a rewrite, its backup made: the new content in writer (none
// where the file does not change) committed, the older backup kept only once
// it is (else put back), and the file's line.
FileResult commitRewrite(const FilePath &name, const FilePath &path, const struct stat &info, AtomicWriter *writer,
                         OlderBackup &older, JournalFile &journaled, bool syncEach, bool *wrote,
                         const ReplaceContext &context);

// What a preview adds to the checks a Replace has made by the time it would
// make the backup: the ones the backup's write would fail on.
FileResult previewOf(const ReplaceJob &job, const FilePath &name, const FilePath &path, qsizetype matches, bool binary);

// The run's waiting period: the one it was given, or one of its own.
std::shared_ptr<LockWaits> lockWaitsFor(const RunControl &control);

// A Replace of a file left unread by readWholeFile, a block at a time.
FileResult replaceInBlocks(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadResult &read,
                           bool syncEach, bool *wrote);

} // namespace vexalo
