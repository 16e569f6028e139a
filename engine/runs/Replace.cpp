// SPDX-License-Identifier: MIT
// Replace over a list of names: for each file the protected test, the read,
// the search, the backup and the rewrite. A file larger than a block goes to
// replaceInBlocks; the rest is read whole here.

#include "engine/files/ProtectedList.h"
#include "engine/journal/Journal.h"
#include "engine/runs/RunSteps.h"
#include "engine/runs/Scheduler.h"

#include <optional>
#include <vector>

#include <sys/stat.h>

namespace vexalo {

namespace {

// Collects the matcher's output over a file held whole: the unchanged
// stretches point into the content read and the replacements between them,
// so the file is written without a second copy of it.
class PieceList : public MatchSink {
public:
    void kept(QByteArrayView bytes) override { pieces.push_back(bytes); }
    void replaced(QByteArrayView, QByteArrayView replacement) override { pieces.push_back(replacement); }
    std::vector<QByteArrayView> pieces;
};

// The new content is written through the journal, which keeps the old file
// for Undo and a digest of what is written.
FileResult writeNewContent(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadResult &read,
                           const PieceList &output, bool syncEach, bool *wrote, OlderBackup &older)
{
    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &read.info;
    if (read.attributes) {
        // The file as locked, under its own name: nothing more to look up.
        options.openFile = read.lock.fd();
        options.openInfo = &read.info;
        options.folderGivesAcl = context.folders.givesAcl(path.bytes()) ? 1 : 0;
    }
    JournalFile journaled =
        context.job.journal ? context.job.journal->keep(path, read.info, read.lock.fd()) : JournalFile();
    journaled.attach(options);
    AtomicWriter writer(path, options);
    if (const IoStatus written = writer.write(output.pieces); !written.ok())
        return failed(name, written.error); // nothing committed: the older backup is put back
    return commitRewrite(name, path, read.info, &writer, older, journaled, syncEach, wrote, context);
}

// Locks a file read whole once the text is known to occur; a file changed
// since it was read is read again, locked, and gives nullopt.
std::optional<FileResult> replaceWhole(ReplaceContext &context, const FilePath &name, const FilePath &path,
                                       ReadResult &read, bool syncEach, bool *wrote)
{
    const ReplaceJob &job = context.job;
    if (read.data.isEmpty())
        return FileResult{name, Outcome::NotFound, {}};
    const ContentFacts facts = context.texts.factsOf(read.data);
    const EncodedTexts &texts = context.texts.texts(facts);
    if (!texts.findRepresentable)
        return FileResult{name, Outcome::NotFound, {}}; // nothing to search for: the content is not looked at
    PieceList output;
    const std::unique_ptr<StreamMatcher> matcher = context.texts.matcher(facts, output);
    matcher->feed(read.data);
    matcher->finish();
    const SearchOutcome found{matcher->matches(), matcher->changes()};
    if (const auto decided = decidedBySearch(name, texts, facts.text.encoding, found))
        return *decided;

    // Found: from here on the file is locked to the rename, so another run
    // of this program that rewrites the same file starts from this one's
    // result, not beside it; what was read unlocked must still be there.
    // A preview writes nothing, and takes no exclusive lock.
    bool changed = false;
    if (!job.preview) {
        if (const IoStatus locked = lockAsRead(read, &changed, &context.lockWaits, path); !locked.ok())
            return failed(name, locked.error);
    }
    if (changed)
        return std::nullopt;

    // Checked before the backup: a file that cannot be rewritten gets no
    // backup either, and keeps any older one. A file that would not change
    // (an empty find text, a replacement equal to every match) is not
    // written, so whether it could be does not matter.
    if (found.changes) {
        // Read with no link in the way (a link is read locked from the start
        // and checked by its name).
        const IoStatus writable = read.attributes
            ? context.folders.checkWritable(path.bytes(), read.info, read.attributes)
            : checkWritable(path, read.info);
        if (!writable.ok())
            return failed(name, writable.error);
    }
    if (job.preview)
        // The ASCII of UTF-16 is half NUL bytes.
        return previewOf(job, name, path, found.matches, !isUtf16(facts.text.encoding) && read.data.contains('\0'));
    // The new backup replaces an older one for good only once the file's
    // rewrite is committed: a file left unchanged keeps its older backup.
    OlderBackup older;
    if (job.makeBackups) {
        const FilePath backupPath = path.withSuffix(".old");
        WriteOptions backupOptions = backupWriteOptions(path, read.info, syncEach);
        backupOptions.openFile = read.lock.fd();
        backupOptions.openInfo = &read.info;
        IoStatus backup = OlderBackup::setAside(backupPath, &older);
        if (backup.ok())
            backup = writeFileAtomically(backupPath, read.data, backupOptions);
        if (!backup.ok())
            return failed(name, backupFailedReason(backup.error));
        *wrote = true;
    }
    if (!found.changes) {
        older.keep();
        return FileResult{name, Outcome::Replaced, {}};
    }
    return writeNewContent(context, name, path, read, output, syncEach, wrote, older);
}

FileResult replaceOne(ReplaceContext &context, const FilePath &name, bool syncEach, bool *wrote, const ReadGate &gate,
                      const struct stat *named)
{
    const ReplaceJob &job = context.job;
    if (isProtected(name, job.protectedExtensions))
        return {name, Outcome::Protected, {}};
    if (isLeftoverTemporary(name))
        return failed(name, leftoverReason());

    const FilePath path = job.folder / name;
    if (context.regex)
        return replaceRegexOne(context, name, path, gate, syncEach, wrote);
    // Most files hold no match: read unlocked, after the one look-up of the
    // name the scheduler made for its keys (or this one), and locked only
    // once the text is found in them. A link, or a file read in blocks, is
    // locked from the start.
    struct stat own {};
    if (!named && ::lstat(path.c_str(), &own) == 0)
        named = &own;
    // A preview writes nothing: it takes no exclusive lock and never waits.
    ReadOptions readOptions;
    if (job.preview) {
        readOptions.tryShared = true;
    } else {
        readOptions.lockLater = true;
        readOptions.named = named;
        readOptions.waits = &context.lockWaits;
    }
    readOptions.wholeUpTo = wholeFileLimit();
    ReadResult read = readWholeFile(path, gate, readOptions);
    for (bool again = false;; again = true) {
        if (!read.status.ok())
            return failed(name, read.status.error);
        if (read.unread.isOpen()) {
            if (gate && !again)
                gate(blockMemory());
            return replaceInBlocks(context, name, path, read, syncEach, wrote);
        }
        if (std::optional<FileResult> result = replaceWhole(context, name, path, read, syncEach, wrote))
            return std::move(*result);
        // Changed since it was read: again, locked from the start. The memory
        // of the first read is given back as this one takes its place.
        ReadOptions locked;
        locked.lock = true;
        locked.waits = &context.lockWaits;
        locked.wholeUpTo = wholeFileLimit();
        read = ReadResult();
        read = readWholeFile(path, {}, locked);
    }
}

} // namespace

RunSummary runReplace(const ReplaceJob &job, const RunControl &control)
{
    const std::shared_ptr<LockWaits> waits = lockWaitsFor(control);
    ReplaceContext context(job, *waits);
    context.stop = control.stopRequested;
    if (job.regex) {
        context.regex = makeRegexRun(job);
        if (const std::optional<QString> error = regexRunError(*context.regex)) {
            // The callers check first; should one not, nothing is touched.
            RunSummary summary;
            for (const FilePath &name : job.names) {
                summary.results.append(failed(name, tr("the regular expression cannot be used: %1").arg(*error)));
                if (control.fileDone)
                    control.fileDone(summary.results.last(), int(summary.results.size() - 1));
            }
            return summary;
        }
    }
    return runEach(job.folder, job.names, control, job.makeBackups,
                   [&](const FilePath &name, bool syncEach, bool *wrote, const ReadGate &gate,
                       const struct stat *named) { return replaceOne(context, name, syncEach, wrote, gate, named); });
}

} // namespace vexalo
