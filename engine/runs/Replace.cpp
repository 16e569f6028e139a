// SPDX-License-Identifier: MIT
// Replace over a list of names: for each file the protected test, the read,
// the search, the backup and the rewrite. A file larger than a block goes to
// replaceInBlocks; the rest is read whole here.

#include "engine/files/FileNames.h"
#include "engine/files/ProtectedList.h"
#include "engine/journal/Journal.h"
#include "engine/runs/RunSteps.h"
#include "engine/runs/Scheduler.h"
#include "engine/text/TextTools.h"

#include <vector>

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
FileResult writeNewContent(ReplaceContext &context, const QString &name, const QString &path,
                           const ReadResult &read, const PieceList &output, bool syncEach, bool *wrote)
{
    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &read.info;
    JournalFile journaled =
        context.job.journal ? context.job.journal->keep(path, read.info, read.lock.fd()) : JournalFile();
    journaled.attach(options);
    const IoStatus written = writeFileAtomically(path, output.pieces, options);
    if (!written.ok())
        return failed(name, written.error);
    *wrote = true;
    return rewritten(name, path, read.info, journaled, syncEach, context);
}

FileResult replaceWhole(ReplaceContext &context, const QString &name, const QString &path, const ReadResult &read,
                        bool syncEach, bool *wrote)
{
    const ReplaceJob &job = context.job;
    if (read.data.isEmpty())
        return {name, Outcome::NotFound, {}};
    const ContentFacts facts = context.texts.factsOf(read.data);
    const EncodedTexts &texts = context.texts.texts(facts);
    if (!texts.findRepresentable)
        return {name, Outcome::NotFound, {}}; // nothing to search for: the content is not looked at
    PieceList output;
    const std::unique_ptr<StreamMatcher> matcher = context.texts.matcher(facts, output);
    matcher->feed(read.data);
    matcher->finish();
    const SearchOutcome found{matcher->matches(), matcher->changes()};
    if (const auto decided = decidedBySearch(name, texts, facts.text.encoding, found))
        return *decided;

    // Checked before the backup: a file that cannot be rewritten gets no
    // backup either, and keeps any older one. A file that would not change
    // (an empty find text, a replacement equal to every match) is not
    // written, so whether it could be does not matter.
    if (found.changes) {
        if (const IoStatus writable = checkWritable(path, read.info); !writable.ok())
            return failed(name, writable.error);
    }
    if (job.preview)
        // The ASCII of UTF-16 is half NUL bytes.
        return previewOf(job, name, path, found.matches, !isUtf16(facts.text.encoding) && read.data.contains('\0'),
                         found.changes);
    if (job.makeBackups) {
        const WriteOptions backupOptions = backupWriteOptions(path, read.info, syncEach);
        const IoStatus backup = writeFileAtomically(path + QStringLiteral(".old"), read.data, backupOptions);
        if (!backup.ok())
            return failed(name, backupFailedReason(backup.error));
        *wrote = true;
    }
    if (!found.changes)
        return {name, Outcome::Replaced, {}};
    return writeNewContent(context, name, path, read, output, syncEach, wrote);
}

FileResult replaceOne(ReplaceContext &context, const QString &name, bool syncEach, bool *wrote,
                      const ReadGate &gate)
{
    const ReplaceJob &job = context.job;
    if (isProtected(name, job.protectedExtensions))
        return {name, Outcome::Protected, {}};
    if (isLeftoverTemporary(name))
        return failed(name, leftoverReason());

    const QString path = joinPath(job.folder, name);
    // Locked from here to the rename, so another run of this program that
    // rewrites the same file starts from this one's result, not beside it.
    ReadOptions readOptions;
    readOptions.lock = true;
    readOptions.wholeUpTo = wholeFileLimit();
    const ReadResult read = readWholeFile(path, gate, readOptions);
    if (!read.status.ok())
        return failed(name, read.status.error);
    if (read.unread.isOpen()) {
        if (gate)
            gate(blockMemory());
        return replaceInBlocks(context, name, path, read, syncEach, wrote);
    }
    return replaceWhole(context, name, path, read, syncEach, wrote);
}

} // namespace

RunSummary runReplace(const ReplaceJob &job, const RunControl &control)
{
    ReplaceContext context(job);
    return runEach(job.folder, job.names, control, job.makeBackups,
                   [&](const QString &name, bool syncEach, bool *wrote, const ReadGate &gate) {
        return replaceOne(context, name, syncEach, wrote, gate);
    });
}

} // namespace vexalo
