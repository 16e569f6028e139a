// SPDX-License-Identifier: MIT
#include "engine/runs/Runs.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"
#include "engine/journal/Journal.h"
#include "engine/files/ProtectedList.h"
#include "engine/text/Substitution.h"
#include "engine/text/TextCodec.h"
#include "engine/text/TextTools.h"

#include <QCoreApplication>

#include <QFile>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexalo {

namespace {

// lupdate files a free tr() under the namespace it sits in, so the window's
// translations hold these strings under "vexalo"; they are looked up there.
QString tr(const char *text)
{
    return QCoreApplication::translate("vexalo", text);
}

// The find and replace texts in one file encoding and line-break style,
// prepared once per run.
struct EncodedTexts {
    bool findRepresentable = false;
    QByteArray find;
    std::optional<Needle> needle;
    std::optional<QByteArray> replacement;
};

dev_t deviceOf(const QString &folder)
{
    struct stat info {};
    return ::stat(encodeFileName(folder).constData(), &info) == 0 ? info.st_dev : dev_t(-1);
}

class ReplaceContext {
public:
    explicit ReplaceContext(const ReplaceJob &job)
        : m_job(job)
        , m_folderDevice(deviceOf(job.folder))
        , m_findBreaks(!job.exactBreaks && job.findText.contains(QLatin1Char('\n')))
        , m_replaceBreaks(!job.exactBreaks && job.replaceText.contains(QLatin1Char('\n')))
    {
    }

    // Whether a file's line-break style decides how the find text, or the
    // replacement, is written; texts without a break never ask for it.
    bool findFollowsBreaks() const { return m_findBreaks; }
    bool replacementFollowsBreaks() const { return m_replaceBreaks; }

    // A slot is made the first time a file asks for it, on whichever thread
    // that is: a long find text costs its memory and set-up once per encoding
    // the run actually meets, not once per encoding there is.
    const EncodedTexts &texts(FileEncoding encoding, LineBreaks breaks)
    {
        const int e = int(encoding);
        const int b = breaks == LineBreaks::Lf ? 0 : 1;
        std::call_once(m_made[e][b], [&] {
            EncodedTexts t;
            const std::optional<QByteArray> find =
                encodeText(m_findBreaks ? withLineBreaks(m_job.findText, breaks) : m_job.findText, encoding);
            t.findRepresentable = find.has_value();
            if (find) {
                t.find = *find;
                t.needle.emplace(*find, m_job.caseSensitive, encoding);
            }
            t.replacement = encodeText(
                m_replaceBreaks ? withLineBreaks(m_job.replaceText, breaks) : m_job.replaceText, encoding);
            m_slots[e][b] = std::move(t);
        });
        return *m_slots[e][b];
    }

    // Whether a file with facts b comes out exactly as one with facts a:
    // the same bytes to find, searched alike, and the same replacement.
    bool sameResults(const TextFacts &a, LineBreaks aBreaks, const TextFacts &b, LineBreaks bBreaks)
    {
        const EncodedTexts &x = texts(a.encoding, aBreaks);
        const EncodedTexts &y = texts(b.encoding, bBreaks);
        if (x.findRepresentable != y.findRepresentable)
            return false;
        if (!x.findRepresentable)
            return true; // found in neither
        if (x.find != y.find || x.replacement != y.replacement)
            return false;
        if (m_job.caseSensitive || x.needle->isEmpty())
            return true;
        const bool unicode = x.needle->searchesUnicode(a.foldsOntoAscii);
        if (unicode != y.needle->searchesUnicode(b.foldsOntoAscii))
            return false;
        if (a.encoding == b.encoding)
            return true;
        // Both fold ASCII bytes alike, one byte at a time; other bytes they
        // fold as different characters.
        if (unicode)
            return false;
        return std::none_of(x.find.cbegin(), x.find.cend(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    }

    dev_t folderDevice() const { return m_folderDevice; }

private:
    const ReplaceJob &m_job;
    const dev_t m_folderDevice; // set before any worker thread starts
    const bool m_findBreaks;
    const bool m_replaceBreaks;
    std::optional<EncodedTexts> m_slots[std::size(allFileEncodings)][2]; // [encoding][line breaks]
    std::once_flag m_made[std::size(allFileEncodings)][2];
};

FileResult failed(const QString &name, const QString &reason)
{
    return {name, Outcome::Failed, reason};
}

// A run that syncs once at the end syncs the file system of its folder. A
// link may lead to a file on another one: that file system is synced at once,
// so the promise holds for every file the run wrote.
IoStatus syncIfElsewhere(const QString &path, dev_t fileDevice, dev_t folderDevice)
{
    if (fileDevice == folderDevice)
        return {};
    return syncFileSystemOf(path);
}

// A run killed between naming its temporary and renaming it leaves the
// temporary behind under a hidden name. A script that hands every file of a
// folder to the command line may name it; it is never the user's file.
bool isLeftoverTemporary(const QString &name)
{
    return name.startsWith(temporaryPrefix());
}

QString leftoverReason()
{
    return tr("a temporary file left by an interrupted run, not one of yours; it was not touched and may be deleted");
}

// What a preview adds to the checks a Replace has made by the time it would
// make the backup: the ones the writes themselves would fail on.
FileResult previewOf(const ReplaceJob &job, const QString &name, const QString &path, qsizetype matches,
                     bool binary, bool changes)
{
    const QString backupPath = path + QStringLiteral(".old");
    // The backup and the rewrite each go through a new file in a folder: the
    // backup beside the name, the rewrite beside the file a link leads to.
    // Said as the writes themselves would say it.
    auto folderRefuses = [](const QByteArray &folder) -> std::optional<QString> {
        if (::access(folder.constData(), W_OK | X_OK) == 0)
            return std::nullopt;
        return IoStatus::fromErrno(errno, QCoreApplication::translate("FileOps", "the folder \"%1\" cannot be written")
                                              .arg(displayName(decodeFileName(folder))))
            .error;
    };
    auto folderOf = [](const QByteArray &file) {
        const qsizetype slash = file.lastIndexOf('/');
        return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : file.left(slash);
    };
    const QByteArray backupBytes = encodeFileName(backupPath);
    if (job.makeBackups) {
        if (const std::optional<QString> refused = folderRefuses(folderOf(backupBytes)))
            return failed(name, tr("the backup could not be made, so the file was left unchanged: %1").arg(*refused));
    }
    if (changes) {
        QByteArray target = encodeFileName(path);
        if (char *resolved = ::realpath(target.constData(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
        if (const std::optional<QString> refused = folderRefuses(folderOf(target)))
            return failed(name, *refused);
    }
    if (job.makeBackups) {
        if (const IoStatus refused = checkBackupName(backupPath); !refused.ok())
            return failed(name, tr("the backup could not be made, so the file was left unchanged: %1")
                                    .arg(refused.error));
    }
    FileResult result{name, Outcome::Matched, {}};
    result.matches = matches;
    result.binary = binary;
    return result;
}

// Files up to this size are read whole: a run over many small files pays for
// nothing else. Larger ones are read in blocks, so that a file of any size
// takes the same memory. Both can be set for tests.
constexpr qint64 defaultWholeFileLimit = 4 * 1024 * 1024;
constexpr qint64 defaultBlockSize = 1024 * 1024;
std::atomic<qint64> wholeFileLimitNow{defaultWholeFileLimit};
std::atomic<qint64> blockSizeForTests{0};

// The facts a file's search and replacement depend on.
struct BlockFacts {
    TextFacts text;
    LineBreaks breaks = LineBreaks::Lf;
};

// A backup is a copy of the original under the name with ".old": it grants
// what the original grants, whatever an older backup granted.
WriteOptions backupWriteOptions(const QString &path, const struct stat &info, bool syncEach)
{
    WriteOptions options;
    options.syncData = syncEach;
    options.modeFrom = &info;
    options.metadataFrom = path;
    options.alwaysModeFrom = true;
    options.replaceName = true; // never written through a link someone put there
    return options;
}

// The line of a file whose new content is in place: recorded for Undo, and
// on the disk where the run promised it.
FileResult rewritten(const QString &name, const QString &path, const struct stat &info, JournalFile &journaled,
                     bool syncEach, const ReplaceContext &context)
{
    FileResult result{name, Outcome::Replaced, {}};
    result.notUndoable = journaled.commit();
    if (!syncEach) {
        if (const IoStatus synced = syncIfElsewhere(path, info.st_dev, context.folderDevice()); !synced.ok())
            return failed(name, tr("written, but the disk could not be synced: %1").arg(synced.error));
    }
    return result;
}

// What one pass over a file read in blocks found.
struct BlockPass {
    IoStatus readError;
    qint64 size = 0; // bytes read
    qsizetype matches = 0;
    bool changes = false; // a match differs from its replacement
    bool binary = false;  // a NUL byte (looked for in a preview only)
    IoStatus notWritable; // why it could not be rewritten, found at the first change
    IoStatus writeError;  // the new content could not be written
    std::unique_ptr<AtomicWriter> writer; // holds the new content when changes
    BlockFacts searchedBy;                // the facts the search took
    BlockFacts seen;                      // all the bytes' facts, when they were examined
};

// One pass over the file from its start: reads a block at a time, searches
// the window of the block and what the last one left undecided, and writes
// the new content as it goes (from the first change on; what comes before it
// is copied in the kernel). With known facts the bytes are not examined;
// without, the search takes the facts of the first block, and the pass ends
// with those of all bytes, for the caller to compare.
BlockPass searchInBlocks(const ReplaceJob &job, ReplaceContext &context, int fd, const QString &path,
                         const struct stat &info, const WriteOptions &writeOptions,
                         const std::optional<BlockFacts> &known)
{
    BlockPass pass;
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        pass.readError = IoStatus::fromErrno(errno);
        return pass;
    }
    const bool examine = !known;
    const bool wantBreaks = context.findFollowsBreaks() || context.replacementFollowsBreaks();
    TextExaminer examiner;
    LineBreakExaminer breaksExaminer;
    std::optional<BlockFacts> plan = known;
    bool prepared = false; // the texts for the plan

    const Needle *needle = nullptr; // set once the plan is; null when nothing is searched
    bool unicode = false;
    std::optional<QByteArrayView> replacement;
    qsizetype reach = 1; // maxMatchBytes()
    const qint64 testBlock = blockSizeForTests.load();
    qint64 readSize = testBlock > 0 ? testBlock : defaultBlockSize;

    std::unique_ptr<char[]> buffer;
    qsizetype capacity = 0;
    qsizetype held = 0;     // bytes in the buffer
    qint64 bufferStart = 0; // the file offset of its first byte, always even
    qint64 searchFrom = 0;  // where the search goes on
    qint64 lastEnd = 0;     // the end of the last match
    qint64 decidedBefore = 0;
    qint64 outPos = 0;      // how far the new content is written (with a writer)
    bool writerTried = false;
    std::vector<QByteArrayView> pieces;
    bool eof = false;

    while (!eof) {
        if (held + readSize > capacity) {
            // With room for what a block leaves undecided, so that the
            // buffer is made once for a short find text, twice for a long one.
            const qsizetype grown = held + qsizetype(readSize) + reach + 64 * 1024;
            std::unique_ptr<char[]> larger(new (std::nothrow) char[size_t(grown)]);
            if (!larger) {
                pass.readError = IoStatus::fromErrno(ENOMEM);
                return pass;
            }
            if (held > 0)
                std::memcpy(larger.get(), buffer.get(), size_t(held));
            buffer = std::move(larger);
            capacity = grown;
        }
        qsizetype got = 0;
        while (got < readSize) {
            const ssize_t n = ::read(fd, buffer.get() + held + got, size_t(readSize - got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                pass.readError = IoStatus::fromErrno(errno);
                return pass;
            }
            if (n == 0) {
                eof = true;
                break;
            }
            got += n;
        }
        const QByteArrayView fresh(buffer.get() + held, got);
        if (examine) {
            examiner.feed(fresh);
            if (wantBreaks)
                breaksExaminer.feed(fresh);
        }
        if (job.preview && !pass.binary)
            pass.binary = fresh.contains('\0');
        held += got;
        pass.size += got;
        if (examine && eof) {
            const TextFacts facts = examiner.finish();
            pass.seen = {facts, breaksExaminer.style(facts.encoding)};
        }

        if (!prepared) {
            prepared = true;
            // A file read in one block is decided by all of its bytes.
            if (!plan)
                plan = eof ? pass.seen : BlockFacts{examiner.facts(), breaksExaminer.style(examiner.facts().encoding)};
            const EncodedTexts &texts = context.texts(plan->text.encoding, plan->breaks);
            if (texts.findRepresentable && !texts.needle->isEmpty()) {
                needle = &*texts.needle;
                unicode = needle->searchesUnicode(plan->text.foldsOntoAscii);
                reach = needle->maxMatchBytes();
                // A window at least as large as the longest match, so that
                // the search decides more than it carries over.
                if (testBlock <= 0)
                    readSize = std::max<qint64>(readSize, (reach + 1) & ~qint64(1));
            }
            if (texts.replacement)
                replacement = QByteArrayView(*texts.replacement);
        }

        const qint64 windowEnd = bufferStart + held;
        qint64 decided = windowEnd; // every start before it is searched for good
        if (needle) {
            // A match at p depends on the bytes [p, p + reach) only: one that
            // starts later is looked for again with the next block.
            const qint64 lastSure = eof ? windowEnd : windowEnd - reach;
            const std::vector<Match> found =
                needle->findAll(QByteArrayView(buffer.get(), held), plan->text.foldsOntoAscii, searchFrom - bufferStart);
            for (const Match &m : found) {
                const qint64 start = bufferStart + m.start;
                if (start > lastSure)
                    break;
                ++pass.matches;
                const QByteArrayView bytes(buffer.get() + m.start, m.length);
                if (replacement && bytes != *replacement && !pass.changes) {
                    pass.changes = true;
                    if (!writerTried) {
                        writerTried = true;
                        // Checked before any of it is written; a file that
                        // would not change need not be writable.
                        pass.notWritable = checkWritable(path, info);
                        if (pass.notWritable.ok() && !job.preview) {
                            pass.writer = std::make_unique<AtomicWriter>(path, writeOptions);
                            pass.writeError = pass.writer->status();
                            // Up to here the new content is the old.
                            if (pass.writeError.ok())
                                pass.writeError = pass.writer->copyFrom(fd, 0, start);
                            if (!pass.writeError.ok())
                                pass.writer.reset();
                            outPos = start;
                        }
                    }
                }
                if (pass.writer) {
                    pieces.push_back(QByteArrayView(buffer.get() + (outPos - bufferStart), start - outPos));
                    pieces.push_back(*replacement);
                    outPos = start + m.length;
                }
                lastEnd = start + m.length;
            }
            decided = std::max({decidedBefore, lastEnd, std::min(windowEnd, lastSure + 1)});
        }
        decidedBefore = decided;
        if (pass.writer) {
            pieces.push_back(QByteArrayView(buffer.get() + (outPos - bufferStart), decided - outPos));
            outPos = decided;
            pass.writeError = pass.writer->write(pieces);
            pieces.clear();
            if (!pass.writeError.ok())
                pass.writer.reset();
        }
        if (eof)
            break;

        // The search goes on from a character's first byte, never inside a
        // match; the window kept starts at an even offset.
        searchFrom = decided;
        if (unicode && !isUtf16(plan->text.encoding)) {
            while (searchFrom < windowEnd && searchFrom > lastEnd && searchFrom > bufferStart && decided - searchFrom < 3
                   && (static_cast<unsigned char>(buffer[searchFrom - bufferStart]) & 0xC0) == 0x80)
                --searchFrom;
        }
        const qint64 keepFrom = searchFrom & ~qint64(1);
        const qsizetype dropped = qsizetype(keepFrom - bufferStart);
        if (dropped > 0) {
            std::memmove(buffer.get(), buffer.get() + dropped, size_t(held - dropped));
            held -= dropped;
            bufferStart = keepFrom;
        }
    }
    pass.searchedBy = *plan;
    return pass;
}

// replaceOne for a file larger than a block: the same checks in the same
// order, on a file never held whole.
FileResult replaceInBlocks(const ReplaceJob &job, ReplaceContext &context, const QString &name,
                           const QString &path, const ReadResult &read, bool syncEach, bool *wrote)
{
    const int fd = read.unread.fd();
    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &read.info;
    // Undo's journal: the old file and a digest of what is written. Taken
    // before the search, since the new content is written as it is found; a
    // file that ends up unchanged drops what was kept.
    JournalFile journaled;
    if (job.journal && !job.preview)
        journaled = job.journal->keep(path, read.info, read.lock.fd());
    journaled.attach(options);

    BlockPass pass = searchInBlocks(job, context, fd, path, read.info, options, std::nullopt);
    if (!pass.readError.ok())
        return failed(name, pass.readError.error);
    if (pass.size == 0)
        return {name, Outcome::NotFound, {}};
    // Decided on the first block, the search was right for the whole file
    // unless a later byte changed what it depends on: then the file is done
    // again, knowing its facts. An ASCII find and replace text searched
    // case-sensitively never is.
    if (!context.sameResults(pass.searchedBy.text, pass.searchedBy.breaks, pass.seen.text, pass.seen.breaks)) {
        if (!context.texts(pass.seen.text.encoding, pass.seen.breaks).findRepresentable)
            return {name, Outcome::NotFound, {}};
        const bool binary = pass.binary;
        const BlockFacts seen = pass.seen;
        // The first pass's temporary goes unrenamed; a hook on the new
        // content (WriteOptions::written) has seen its bytes and starts over.
        pass = {};
        journaled.restartDigest();
        pass = searchInBlocks(job, context, fd, path, read.info, options, seen);
        if (!pass.readError.ok())
            return failed(name, pass.readError.error);
        pass.binary = binary;
    }

    const FileEncoding encoding = pass.searchedBy.text.encoding;
    const EncodedTexts &texts = context.texts(encoding, pass.searchedBy.breaks);
    if (!texts.findRepresentable)
        return {name, Outcome::NotFound, {}}; // the file cannot hold the text, so it does not occur
    if (!texts.needle->isEmpty() && pass.matches == 0)
        return {name, Outcome::NotFound, {}};
    if (pass.matches > 0 && !texts.replacement)
        return failed(name, tr("the replacement text has characters that cannot be written in this "
                               "file's encoding (%1); the file was left unchanged")
                                .arg(encodingName(encoding)));
    if (pass.changes && !pass.notWritable.ok())
        return failed(name, pass.notWritable.error);
    if (job.preview)
        return previewOf(job, name, path, pass.matches, pass.binary && !isUtf16(encoding), pass.changes);
    if (pass.changes && !pass.writeError.ok())
        return failed(name, pass.writeError.error);

    if (job.makeBackups) {
        const WriteOptions backupOptions = backupWriteOptions(path, read.info, syncEach);
        AtomicWriter backup(path + QStringLiteral(".old"), backupOptions);
        IoStatus made = backup.copyFrom(fd, 0, pass.size);
        if (made.ok())
            made = backup.commit();
        if (!made.ok())
            return failed(name, tr("the backup could not be made, so the file was left unchanged: %1").arg(made.error));
        *wrote = true;
    }

    if (!pass.changes)
        return {name, Outcome::Replaced, {}};
    const IoStatus written = pass.writer->commit();
    if (!written.ok())
        return failed(name, written.error);
    *wrote = true;
    return rewritten(name, path, read.info, journaled, syncEach, context);
}

// The memory a file read in blocks holds while in work.
qint64 blockMemory()
{
    const qint64 testBlock = blockSizeForTests.load();
    return 2 * (testBlock > 0 ? testBlock : defaultBlockSize);
}

FileResult replaceOne(const ReplaceJob &job, ReplaceContext &context, const QString &name, bool syncEach,
                      bool *wrote, const ReadGate &gate)
{
    if (isProtected(name, job.protectedExtensions))
        return {name, Outcome::Protected, {}};
    if (isLeftoverTemporary(name))
        return failed(name, leftoverReason());

    const QString path = joinPath(job.folder, name);
    // Locked from here to the rename, so another run of this program that
    // rewrites the same file starts from this one's result, not beside it.
    ReadOptions readOptions;
    readOptions.lock = true;
    readOptions.wholeUpTo = wholeFileLimitNow.load();
    const ReadResult read = readWholeFile(path, gate, readOptions);
    if (!read.status.ok())
        return failed(name, read.status.error);
    if (read.unread.isOpen()) {
        if (gate)
            gate(blockMemory());
        return replaceInBlocks(job, context, name, path, read, syncEach, wrote);
    }
    if (read.data.isEmpty())
        return {name, Outcome::NotFound, {}};

    const TextFacts facts = examineText(read.data);
    const FileEncoding encoding = facts.encoding;
    // A find text with a line break is matched in the file's style; one
    // without is the same in both, and the file is not read for its breaks
    // unless a replacement with a break is about to be written.
    std::optional<LineBreaks> breaks;
    if (context.findFollowsBreaks())
        breaks = lineBreaksOf(read.data, encoding);
    const EncodedTexts &texts = context.texts(encoding, breaks.value_or(LineBreaks::Lf));
    if (!texts.findRepresentable)
        return {name, Outcome::NotFound, {}}; // the file cannot hold the text, so it does not occur

    std::vector<Match> matches;
    if (!texts.needle->isEmpty()) {
        matches = texts.needle->findAll(read.data, facts.foldsOntoAscii);
        if (matches.empty())
            return {name, Outcome::NotFound, {}};
    }
    if (!breaks && !matches.empty() && context.replacementFollowsBreaks())
        breaks = lineBreaksOf(read.data, encoding);
    const EncodedTexts &output = context.texts(encoding, breaks.value_or(LineBreaks::Lf));
    if (!matches.empty()) {
        if (!output.replacement)
            return failed(name, tr("the replacement text has characters that cannot be written in this "
                                   "file's encoding (%1); the file was left unchanged")
                                    .arg(encodingName(encoding)));
    }

    // An empty find text, or a replacement equal to every match, changes
    // nothing: the file is not written at all.
    const QByteArrayView replacement = output.replacement ? QByteArrayView(*output.replacement) : QByteArrayView();
    bool changes = false;
    for (const Match &m : matches) {
        if (QByteArrayView(read.data).sliced(m.start, m.length) != replacement) {
            changes = true;
            break;
        }
    }

    // Checked before the backup: a file that cannot be rewritten gets no
    // backup either, and keeps any older one. A file that would not change
    // is not written, so whether it could be does not matter.
    if (changes) {
        if (const IoStatus writable = checkWritable(path, read.info); !writable.ok())
            return failed(name, writable.error);
    }

    if (job.preview)
        // The ASCII of UTF-16 is half NUL bytes.
        return previewOf(job, name, path, matches.size(), !isUtf16(encoding) && read.data.contains('\0'), changes);

    if (job.makeBackups) {
        const WriteOptions backupOptions = backupWriteOptions(path, read.info, syncEach);
        const IoStatus backup = writeFileAtomically(path + QStringLiteral(".old"), read.data, backupOptions);
        if (!backup.ok())
            return failed(name, tr("the backup could not be made, so the file was left unchanged: %1")
                                    .arg(backup.error));
        *wrote = true;
    }

    if (!changes)
        return {name, Outcome::Replaced, {}};

    // The unchanged stretches are written straight from the content read,
    // with the replacement between them: no second copy of the file.
    std::vector<QByteArrayView> pieces;
    pieces.reserve(matches.size() * 2 + 1);
    qsizetype from = 0;
    const QByteArrayView content(read.data);
    for (const Match &m : matches) {
        pieces.push_back(content.sliced(from, m.start - from));
        pieces.push_back(replacement);
        from = m.start + m.length;
    }
    pieces.push_back(content.sliced(from));

    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &read.info;
    // Undo's journal: the old file and a digest of what is written.
    JournalFile journaled = job.journal ? job.journal->keep(path, read.info, read.lock.fd()) : JournalFile();
    journaled.attach(options);
    const IoStatus written = writeFileAtomically(path, pieces, options);
    if (!written.ok())
        return failed(name, written.error);
    *wrote = true;
    return rewritten(name, path, read.info, journaled, syncEach, context);
}

FileResult restoreOne(const RestoreJob &job, const QString &name, bool syncEach, bool *wrote,
                      const ReadGate &gate)
{
    if (isLeftoverTemporary(name))
        return failed(name, leftoverReason());
    const QString path = joinPath(job.folder, name);
    const QString backupPath = path + QStringLiteral(".old");
    // Only a backup that is itself a regular file counts: a link of that
    // name (planted by another user, say) is never read through.
    struct stat backupName {};
    if (::lstat(encodeFileName(backupPath).constData(), &backupName) != 0 || !S_ISREG(backupName.st_mode)) {
        // A folder moved away or barred since it was listed is a failure with
        // its reason, not a file that merely has no backup.
        struct stat folder {};
        if (::stat(encodeFileName(job.folder).constData(), &folder) != 0)
            return failed(name, IoStatus::fromErrno(errno).error);
        if (!S_ISDIR(folder.st_mode))
            return failed(name, IoStatus::fromErrno(ENOTDIR).error);
        return {name, Outcome::NotRestored, {}};
    }

    // The file is read (and locked) first, before the backup takes its share
    // of the memory: a file in work never waits for a lock while it holds
    // memory that another file in work waits for.
    ReadOptions currentOptions;
    currentOptions.lock = true;
    currentOptions.wholeUpTo = wholeFileLimitNow.load();
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
    backupOptions.wholeUpTo = wholeFileLimitNow.load();
    const ReadResult backup = readWholeFile(backupPath, gate ? ReadGate([&](qint64 size) { return gate(2 * size); })
                                                             : ReadGate(),
                                            backupOptions);
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
    if (::unlink(encodeFileName(backupPath).constData()) != 0)
        return failed(name, tr("the file was restored, but its backup could not be deleted: %1")
                                .arg(IoStatus::fromErrno(errno).error));
    return {name, Outcome::Restored, {}};
}

// Bytes held by the files in work at once: a small file's content, or a
// large file's blocks. A request larger than the budget is let in only when
// nothing else is held, so a run's memory stays within the budget plus its
// largest request.
class MemoryGate {
public:
    explicit MemoryGate(qint64 budget)
        : m_budget(budget)
    {
    }

    void acquire(qint64 bytes)
    {
        std::unique_lock lock(m_mutex);
        m_freed.wait(lock, [&] { return m_held == 0 || m_held + bytes <= m_budget; });
        m_held += bytes;
    }

    void release(qint64 bytes)
    {
        if (bytes == 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            m_held -= bytes;
        }
        m_freed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_held = 0;
    const qint64 m_budget;
};

constexpr qint64 parallelMemoryBudget = 32 * 1024 * 1024;
constexpr qint64 largeFileSize = 8 * 1024 * 1024;

// Runs fn for each name in order, with the stop check between two files and
// the durability promise kept before the last result is reported. With more
// than one file in work at once, worker threads take the names in order and
// this thread reports each result as soon as all before it are reported.
using PendingResult = std::optional<std::pair<FileResult, int>>;

// The one sync of a run that syncs at the end. When it fails, nothing written
// is known to be on the disk: the held-back last line says so, so the user
// never takes the run as safe.
void syncAtEnd(const QString &folder, RunSummary &summary, PendingResult &pending)
{
    const IoStatus synced = syncFileSystemOf(folder);
    if (synced.ok() || !pending)
        return;
    FileResult &last = summary.results.last();
    if (last.outcome != Outcome::Failed) {
        last = failed(last.name, tr("written, but the disk could not be synced: %1").arg(synced.error));
        pending->first = last;
    }
}

// Which files of a run may be in work at the same time. Two files that touch
// a common file are worked on in list order; only files that share nothing
// overlap, so a run over several files at once ends exactly as the run one
// file after another would. What a file touches is described by keys, found
// with a few stat calls per file, before it starts:
//  - the file's name, and for a link the name of the file it leads to;
//  - the (device, inode) of the file the name leads to, which every other
//    name of that file (a hard link, a link, a name that differs only in
//    case where the file system ignores case) shares;
//  - when the run uses backups, the backup's name and its (device, inode).
// Names are compared in their real folder and case-folded, so names equal
// under a file system's case rules share a key even before such a file
// exists (on a file system that tells case apart this only serialises a few
// files that need not be). A file waits for every earlier file still in work
// that shares a key with it.
class DependencyKeys {
public:
    DependencyKeys(const QString &folder, bool usesBackups)
        : m_folder(folder)
        , m_usesBackups(usesBackups)
    {
        m_realFolder = realFolder(encodeFileName(folder));
    }

    std::vector<QByteArray> keysFor(const QString &name) const
    {
        std::vector<QByteArray> keys;
        const QByteArray path = encodeFileName(joinPath(m_folder, name));
        addFile(keys, path);
        if (m_usesBackups)
            addFile(keys, path + ".old");
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        return keys;
    }

private:
    static QByteArray realFolder(const QByteArray &folder)
    {
        char *resolved = ::realpath(folder.isEmpty() ? "." : folder.constData(), nullptr);
        if (!resolved)
            return folder;
        QByteArray real(resolved);
        std::free(resolved);
        return real;
    }

    QByteArray nameKey(const QByteArray &path) const
    {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : path.left(qMax<qsizetype>(slash, 1));
        const QByteArray real = folder == encodeFileName(m_folder) ? m_realFolder : realFolder(folder);
        return 'n' + QString::fromUtf8(real + '/' + path.mid(slash + 1)).toCaseFolded().toUtf8();
    }

    void addFile(std::vector<QByteArray> &keys, const QByteArray &path) const
    {
        keys.push_back(nameKey(path));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            return;
        if (S_ISLNK(info.st_mode)) {
            // Where the link leads, even to a file that does not exist yet
            // (another file of the run may create it).
            QByteArray at = path;
            for (int hops = 0; hops < 40; ++hops) {
                char buffer[PATH_MAX];
                const ssize_t n = ::readlink(at.constData(), buffer, sizeof buffer);
                if (n < 0)
                    break;
                const QByteArray to(buffer, n);
                const qsizetype slash = at.lastIndexOf('/');
                at = to.startsWith('/') || slash < 0 ? to : at.left(slash + 1) + to;
                struct stat next {};
                if (::lstat(at.constData(), &next) != 0 || !S_ISLNK(next.st_mode))
                    break;
            }
            keys.push_back(nameKey(at));
            if (::stat(path.constData(), &info) != 0)
                return;
        }
        QByteArray inode(1 + sizeof info.st_dev + sizeof info.st_ino, 'i');
        std::memcpy(inode.data() + 1, &info.st_dev, sizeof info.st_dev);
        std::memcpy(inode.data() + 1 + sizeof info.st_dev, &info.st_ino, sizeof info.st_ino);
        keys.push_back(inode);
    }

    const QString m_folder;
    const bool m_usesBackups;
    QByteArray m_realFolder;
};

template<typename Job, typename Fn>
RunSummary runParallel(const Job &job, const RunControl &control, bool usesBackups, Fn processOne)
{
    RunSummary summary;
    const int count = int(job.names.size());
    const bool syncEach = control.durability == Durability::EachFile;

    struct Entry {
        std::optional<FileResult> result;
        bool wrote = false;
    };
    std::vector<Entry> entries(static_cast<size_t>(count));
    std::mutex mutex;
    std::condition_variable done;
    int next = 0;     // the next name a worker takes
    int awaited = -1; // the result the reporting thread sleeps for
    bool stop = false;
    MemoryGate gate(parallelMemoryBudget);
    ReadBuffer largeFiles;

    // For each key, the files in work (taken, not yet done) that have it, in
    // list order: a file may start once it is first in each of its queues.
    // Files enter the queues in list order, one after another.
    const DependencyKeys dependencies(job.folder, usesBackups);
    QHash<QByteArray, QList<int>> holders;
    std::vector<std::vector<QByteArray>> keysOf(static_cast<size_t>(count));
    // Taking a name and entering its keys is one step, in list order; the
    // stat calls it takes are few beside a file's rewrite.
    std::mutex entering;
    std::condition_variable queuesChanged;
    int waiting = 0; // workers asleep until a file before theirs is done
    auto mayStart = [&](int index) {
        for (const QByteArray &key : keysOf[size_t(index)]) {
            if (holders.value(key).constFirst() != index)
                return false;
        }
        return true;
    };

    auto work = [&] {
        for (;;) {
            int index;
            {
                std::unique_lock order(entering);
                {
                    std::lock_guard lock(mutex);
                    if (stop || next >= count)
                        return;
                    index = next++;
                }
                std::vector<QByteArray> keys = dependencies.keysFor(job.names.at(index));
                std::lock_guard lock(mutex);
                for (const QByteArray &key : keys)
                    holders[key].append(index);
                keysOf[size_t(index)] = std::move(keys);
            }
            {
                std::unique_lock lock(mutex);
                if (!mayStart(index)) {
                    ++waiting;
                    queuesChanged.wait(lock, [&] { return mayStart(index); });
                    --waiting;
                }
            }
            qint64 held = 0;
            const ReadGate readGate = [&](qint64 size) -> ReadBuffer * {
                gate.acquire(size);
                held += size;
                // A file over the budget is in work alone, so the one kept
                // buffer is free for it.
                return size > parallelMemoryBudget ? &largeFiles : nullptr;
            };
            bool wrote = false;
            FileResult result = processOne(job.names.at(index), syncEach, &wrote, readGate);
            gate.release(held);
            bool wake;
            bool wakeWaiting;
            {
                std::lock_guard lock(mutex);
                entries[size_t(index)].result = std::move(result);
                entries[size_t(index)].wrote = wrote;
                for (const QByteArray &key : keysOf[size_t(index)]) {
                    const auto it = holders.find(key);
                    it->removeFirst(); // this file, first since it started
                    if (it->isEmpty())
                        holders.erase(it);
                }
                // Only the result the reporting thread waits for wakes it:
                // a wake-up per file was a system call per file.
                wake = index == awaited;
                wakeWaiting = waiting > 0;
            }
            if (wakeWaiting)
                queuesChanged.notify_all();
            if (wake)
                done.notify_one();
        }
    };
    std::vector<std::thread> workers;
    const int threads = std::min(control.parallelFiles, count);
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work);

    bool wroteAny = false;
    PendingResult pending;
    auto report = [&] {
        if (pending && control.fileDone)
            control.fileDone(pending->first, pending->second);
        pending.reset();
    };
    for (int i = 0; i < count; ++i) {
        {
            std::unique_lock lock(mutex);
            // After a stop, only the names already taken are waited for.
            while (!entries[size_t(i)].result && !(stop && i >= next)) {
                awaited = i;
                done.wait(lock);
            }
            awaited = -1;
            if (!entries[size_t(i)].result) {
                summary.stopped = true;
                break;
            }
        }
        FileResult result = std::move(*entries[size_t(i)].result);
        wroteAny = wroteAny || entries[size_t(i)].wrote;
        summary.results.append(result);
        pending.emplace(std::move(result), i);
        if (i + 1 < count || control.durability != Durability::AtEnd)
            report();
        if (i + 1 < count && control.stopRequested && control.stopRequested()) {
            std::lock_guard lock(mutex);
            stop = true;
        }
    }
    for (std::thread &t : workers)
        t.join();

    if (wroteAny && control.durability == Durability::AtEnd)
        syncAtEnd(job.folder, summary, pending);
    report();
    return summary;
}

// Runs fn for each name in order, with the stop check between two files and
// the durability promise kept before the last result is reported.
template<typename Job, typename Fn>
RunSummary runEach(const Job &job, const RunControl &control, bool usesBackups, Fn processOne)
{
    if (control.parallelFiles > 1 && job.names.size() > 1)
        return runParallel(job, control, usesBackups, processOne);
    RunSummary summary;
    const bool syncEach = control.durability == Durability::EachFile;
    bool wroteAny = false;
    // Large files read one after another share one buffer; small ones are
    // cheap to allocate and leave no memory held after them.
    ReadBuffer largeFiles;
    const ReadGate sequentialGate = [&](qint64 size) -> ReadBuffer * {
        return size >= largeFileSize ? &largeFiles : nullptr;
    };
    PendingResult pending;
    auto report = [&] {
        if (pending && control.fileDone)
            control.fileDone(pending->first, pending->second);
        pending.reset();
    };
    for (int i = 0; i < job.names.size(); ++i) {
        bool wrote = false;
        FileResult result = processOne(job.names.at(i), syncEach, &wrote, sequentialGate);
        wroteAny = wroteAny || wrote;
        summary.results.append(result);
        pending.emplace(std::move(result), i);
        // Asked here rather than before the next file, so that a stopped run's
        // last line, like a finished run's, waits for the sync at the end.
        const bool stopping = i + 1 < job.names.size() && control.stopRequested && control.stopRequested();
        const bool last = i + 1 == job.names.size() || stopping;
        if (!last || control.durability != Durability::AtEnd)
            report();
        if (stopping) {
            summary.stopped = true;
            break;
        }
    }
    if (wroteAny && control.durability == Durability::AtEnd)
        syncAtEnd(job.folder, summary, pending);
    report();
    return summary;
}

} // namespace

RunSummary runReplace(const ReplaceJob &job, const RunControl &control)
{
    ReplaceContext context(job);
    return runEach(job, control, job.makeBackups,
                   [&](const QString &name, bool syncEach, bool *wrote, const ReadGate &gate) {
        return replaceOne(job, context, name, syncEach, wrote, gate);
    });
}

void setBlockReadingForTests(qint64 wholeFileLimit, qint64 blockSize)
{
    wholeFileLimitNow = wholeFileLimit < 0 ? defaultWholeFileLimit : wholeFileLimit;
    blockSizeForTests = blockSize < 0 ? 0 : std::max<qint64>(2, (blockSize + 1) & ~qint64(1));
}

RunSummary runRestore(const RestoreJob &job, const RunControl &control)
{
    // A restore reads and deletes the backup.
    return runEach(job, control, true, [&](const QString &name, bool syncEach, bool *wrote, const ReadGate &gate) {
        return restoreOne(job, name, syncEach, wrote, gate);
    });
}

// The window shows these in the user's language; the command line, which
// loads no translation, prints them as scripts expect.
QString logLine(const FileResult &result)
{
    // The name as people read it; the result keeps the bytes it came from.
    const QString name = displayName(result.name);
    switch (result.outcome) {
    case Outcome::Replaced:
        // The line still begins as every replaced file's does, for scripts.
        if (!result.notUndoable.isEmpty())
            return name + tr(":  replaced (cannot be undone: %1)").arg(result.notUndoable);
        return name + tr(":  replaced");
    case Outcome::NotFound:
        return name + tr(":  not found");
    case Outcome::Protected:
        return name + tr(":  protected file");
    case Outcome::Restored:
        return name + tr(":  restored");
    case Outcome::NotRestored:
        return name + tr(":  not restored");
    case Outcome::Matched: {
        // Spelled out rather than left to a plural form: the command line
        // loads no translation and must still say "1 match".
        QString line = name
                       + (result.matches == 1 ? tr(":  1 match") : tr(":  %1 matches").arg(result.matches));
        if (result.binary)
            line += tr(" (binary content)");
        return line;
    }
    case Outcome::Failed:
        break;
    }
    return name + tr(":  failed: ") + result.reason;
}

QString buildLog(const QList<FileResult> &results)
{
    QStringList lines;
    lines.reserve(results.size());
    for (const FileResult &r : results)
        lines.append(logLine(r));
    return lines.join(QStringLiteral("\r\n"));
}

QString previewSummary(const QList<FileResult> &results)
{
    qsizetype matches = 0;
    qsizetype changing = 0;
    qsizetype failures = 0;
    for (const FileResult &r : results) {
        if (r.outcome == Outcome::Matched) {
            matches += r.matches;
            ++changing;
        } else if (r.outcome == Outcome::Failed) {
            ++failures;
        }
    }
    return tr("Preview: %1 files, %2 with matches, %3 matches in all, %4 would fail; nothing was written")
        .arg(results.size())
        .arg(changing)
        .arg(matches)
        .arg(failures);
}

} // namespace vexalo
