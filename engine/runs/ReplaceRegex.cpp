// SPDX-License-Identifier: MIT
// Replace with a regular expression: a file held whole or read in blocks is
// fed to the RegexMatcher, and its new content written as it is decided.

#include "engine/journal/Journal.h"
#include "engine/runs/RunSteps.h"
#include "engine/text/RegexMatcher.h"
#include "engine/text/TextTools.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace vexalo {

// The pattern checked once per run, compiled per encoding the run meets and
// its replacement per encoding and line-break style, on whichever thread
// first asks.
class RegexRun {
public:
    explicit RegexRun(const ReplaceJob &job)
        : m_program(job.findText, job.replaceText, job.caseSensitive)
        , m_replaceBreaks(!job.exactBreaks && job.replaceText.contains(QLatin1Char('\n')))
    {
    }
    const RegexProgram &program() const { return m_program; }
    bool replacementFollowsBreaks() const { return m_replaceBreaks; }
    const RegexCode &code(FileEncoding encoding)
    {
        const int e = int(encoding);
        std::call_once(m_codeMade[e], [&] { m_codes[e] = std::make_unique<RegexCode>(m_program, encoding); });
        return *m_codes[e];
    }
    const std::optional<EncodedReplacement> &replacement(FileEncoding encoding, LineBreaks breaks)
    {
        const int e = int(encoding);
        const int b = breaks == LineBreaks::Lf ? 0 : 1;
        std::call_once(m_replacementMade[e][b], [&] {
            m_replacements[e][b] = EncodedReplacement::make(
                m_program, encoding, m_replaceBreaks ? std::optional<LineBreaks>(breaks) : std::nullopt);
        });
        return m_replacements[e][b];
    }

private:
    const RegexProgram m_program;
    const bool m_replaceBreaks;
    std::unique_ptr<RegexCode> m_codes[std::size(allFileEncodings)];
    std::once_flag m_codeMade[std::size(allFileEncodings)];
    std::optional<EncodedReplacement> m_replacements[std::size(allFileEncodings)][2];
    std::once_flag m_replacementMade[std::size(allFileEncodings)][2];
};

std::shared_ptr<RegexRun> makeRegexRun(const ReplaceJob &job)
{
    return std::make_shared<RegexRun>(job);
}

std::optional<QString> regexRunError(const RegexRun &run)
{
    if (const std::optional<RegexError> &error = run.program().error())
        return error->message;
    return std::nullopt;
}

namespace {

// The facts a file's search and replacement depend on.
struct BlockFacts {
    TextFacts text;
    LineBreaks breaks = LineBreaks::Lf;
};

// What one pass of a regular expression over a file found.
struct RegexPass {
    IoStatus readError;
    qint64 size = 0;
    qsizetype matches = 0;
    bool changes = false;
    bool binary = false;
    IoStatus notWritable;
    IoStatus writeError;
    std::unique_ptr<AtomicWriter> writer;
    BlockFacts searchedBy;
    BlockFacts seen;
    RegexMatcher::Status status = RegexMatcher::Status::Ok;
    QString failure;
    QString refusal;                    // why the pattern cannot occur in this encoding
    bool replacementUnwritable = false; // in this encoding
};

// Reads up to size bytes into block (resized to what came); *eof at the
// file's end.
IoStatus readBlock(int fd, QByteArray &block, qsizetype size, bool *eof)
{
    block.resize(size);
    qsizetype got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, block.data() + got, size_t(size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return IoStatus::fromErrno(errno);
        if (n == 0) {
            *eof = true;
            break;
        }
        got += n;
    }
    block.resize(got);
    return {};
}

// At the file's first change: the writer of the new content, which begins
// with the handedOut bytes before the change, unchanged.
void startWriting(RegexPass &pass, const ReplaceJob &job, const ReadResult &read, const FilePath &path,
                  const WriteOptions &writeOptions, int fd, qint64 handedOut)
{
    pass.changes = true;
    // Checked before any of it is written; a file that would not change
    // need not be writable.
    pass.notWritable = checkWritable(path, read.info);
    if (!pass.notWritable.ok() || job.preview)
        return;
    pass.writer = std::make_unique<AtomicWriter>(path, writeOptions);
    pass.writeError = pass.writer->status();
    if (pass.writeError.ok() && handedOut > 0)
        pass.writeError = pass.writer->copyFrom(fd, 0, handedOut);
    if (!pass.writeError.ok())
        pass.writer.reset();
}

// The matcher for the encoding the plan names (nothing: the replacement
// where the encoding cannot hold it, which must outlive the matcher); none,
// with the refusal in pass, where the pattern cannot occur in that encoding.
std::unique_ptr<RegexMatcher> matcherFor(RegexPass &pass, const ReplaceContext &context, const BlockFacts &plan,
                                         const EncodedReplacement &nothing)
{
    const RegexCode &code = context.regex->code(plan.text.encoding);
    if (!code.usable()) {
        pass.refusal = code.refusal();
        return nullptr;
    }
    const std::optional<EncodedReplacement> &replacement = context.regex->replacement(plan.text.encoding, plan.breaks);
    pass.replacementUnwritable = !replacement;
    auto matcher = std::make_unique<RegexMatcher>(code, replacement ? *replacement : nothing);
    matcher->setStop(context.stop);
    return matcher;
}

// One pass of the pattern over a file held whole or read in blocks, the new
// content written as it is decided (from the first change on). With known
// facts the bytes are not examined; without, the facts of the first block
// decide, and the pass ends with those of all bytes, for the caller to compare.
RegexPass regexPass(const ReplaceJob &job, ReplaceContext &context, const ReadResult &read, const FilePath &path,
                    const WriteOptions &writeOptions, const std::optional<BlockFacts> &known)
{
    RegexPass pass;
    const bool whole = !read.unread.isOpen();
    const int fd = whole ? -1 : read.unread.fd();
    if (!whole && ::lseek(fd, 0, SEEK_SET) < 0) {
        pass.readError = IoStatus::fromErrno(errno);
        return pass;
    }
    TextExaminer examiner;
    LineBreakExaminer breaksExaminer;
    const bool wantBreaks = context.regex->replacementFollowsBreaks();
    std::optional<BlockFacts> plan = known;
    const EncodedReplacement nothing;
    std::unique_ptr<RegexMatcher> matcher;
    bool matching = true;
    const qsizetype readSize = qsizetype(blockSize());
    QByteArray block;
    qint64 handedOut = 0; // bytes of new content the matcher has given so far
    bool writerTried = false;
    bool eof = false;
    while (!eof) {
        QByteArrayView fresh;
        if (whole) {
            fresh = read.data;
            eof = true;
        } else {
            pass.readError = readBlock(fd, block, readSize, &eof);
            if (!pass.readError.ok())
                return pass;
            fresh = block;
        }
        if (!known) {
            examiner.feed(fresh);
            if (wantBreaks)
                breaksExaminer.feed(fresh);
            if (eof) {
                const TextFacts facts = examiner.finish();
                pass.seen = {facts, breaksExaminer.style(facts.encoding)};
            }
        }
        if (job.preview && !pass.binary)
            pass.binary = fresh.contains('\0');
        pass.size += fresh.size();
        if (!plan)
            plan = eof ? pass.seen : BlockFacts{examiner.facts(), breaksExaminer.style(examiner.facts().encoding)};
        if (!matcher && matching) {
            matcher = matcherFor(pass, context, *plan, nothing);
            matching = matcher != nullptr;
        }
        if (!matching)
            continue; // read on only for the facts
        const RegexMatcher::Status status = matcher->feed(fresh, eof);
        if (status != RegexMatcher::Status::Ok) {
            pass.status = status;
            pass.failure = matcher->failure();
            pass.writer.reset();
            // Text broken for the encoding of the first block: read on for
            // the facts of all of it, and the caller does the file again.
            if (status != RegexMatcher::Status::BrokenText || known)
                return pass;
            matching = false;
            continue;
        }
        pass.matches = matcher->matches();
        if (matcher->firstChange() >= 0 && !writerTried && !pass.replacementUnwritable) {
            writerTried = true;
            startWriting(pass, job, read, path, writeOptions, fd, handedOut);
        }
        if (pass.writer) {
            pass.writeError = pass.writer->write(matcher->pieces());
            if (!pass.writeError.ok())
                pass.writer.reset();
        }
        for (const QByteArrayView piece : matcher->pieces())
            handedOut += piece.size();
    }
    pass.searchedBy = *plan;
    return pass;
}

// replaceOne with a regular expression, for a file held whole or read in
// blocks: the same checks in the same order as for a literal text.
FileResult replaceRegexRead(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadResult &read,
                            bool syncEach, bool *wrote)
{
    const ReplaceJob &job = context.job;
    const bool whole = !read.unread.isOpen();
    if (whole && read.data.isEmpty())
        return {name, Outcome::NotFound, {}};
    WriteOptions options;
    options.syncData = syncEach;
    options.expected = &read.info;
    JournalFile journaled;
    if (job.journal && !job.preview)
        journaled = job.journal->keep(path, read.info, read.lock.fd());
    journaled.attach(options);

    std::optional<BlockFacts> known;
    if (whole) {
        const TextFacts facts = examineText(read.data);
        known = BlockFacts{facts,
                           context.regex->replacementFollowsBreaks() ? lineBreaksOf(read.data, facts.encoding)
                                                                     : LineBreaks::Lf};
    }
    RegexPass pass = regexPass(job, context, read, path, options, known);
    if (!pass.readError.ok())
        return failed(name, pass.readError.error);
    if (pass.size == 0)
        return {name, Outcome::NotFound, {}};
    // Decided on the first block, the pass was right for the whole file unless
    // a later byte changed its encoding or its line breaks: then again.
    if (!known
        && (pass.status == RegexMatcher::Status::BrokenText || pass.seen.text.encoding != pass.searchedBy.text.encoding
            || (context.regex->replacementFollowsBreaks() && pass.seen.breaks != pass.searchedBy.breaks))) {
        const bool binary = pass.binary;
        const BlockFacts seen = pass.seen;
        pass = {};
        pass = regexPass(job, context, read, path, options, seen);
        if (!pass.readError.ok())
            return failed(name, pass.readError.error);
        pass.binary = binary;
    }
    if (pass.status != RegexMatcher::Status::Ok)
        return failed(name,
                      pass.status == RegexMatcher::Status::Failed ? pass.failure : RegexMatcher::describe(pass.status));
    const FileEncoding encoding = pass.searchedBy.text.encoding;
    if (!pass.refusal.isEmpty())
        return {name, Outcome::NotFound, pass.refusal};
    if (pass.matches == 0)
        return {name, Outcome::NotFound, {}};
    if (pass.replacementUnwritable)
        return failed(name,
                      tr("the replacement text has characters that cannot be written in this "
                         "file's encoding (%1); the file was left unchanged")
                          .arg(encodingName(encoding)));
    if (pass.changes && !pass.notWritable.ok())
        return failed(name, pass.notWritable.error);
    if (job.preview)
        return previewOf(job, name, path, pass.matches, pass.binary && !isUtf16(encoding));
    if (pass.changes && !pass.writeError.ok())
        return failed(name, pass.writeError.error);
    // The new backup replaces an older one for good only once the file's
    // rewrite is committed: a file left unchanged keeps its older backup.
    OlderBackup older;
    if (job.makeBackups) {
        const FilePath backupPath = path.withSuffix(".old");
        IoStatus backup = OlderBackup::setAside(backupPath, &older);
        if (backup.ok())
            backup = writeFileAtomically(backupPath, read, backupWriteOptions(path, read.info, syncEach));
        if (!backup.ok())
            return failed(name, backupFailedReason(backup.error));
        *wrote = true;
    }
    return commitRewrite(name, path, read.info, pass.changes ? pass.writer.get() : nullptr, older, journaled, syncEach,
                         wrote, context);
}

} // namespace

FileResult replaceRegexOne(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadGate &gate,
                           bool syncEach, bool *wrote)
{
    // Locked from the read to the rename, so another run of this program
    // that rewrites the same file starts from this one's result. A preview
    // writes nothing: it takes no exclusive lock and never waits.
    ReadOptions options;
    if (context.job.preview) {
        options.tryShared = true;
    } else {
        options.lock = true;
        options.waits = &context.lockWaits;
    }
    options.wholeUpTo = wholeFileLimit();
    const ReadResult read = readWholeFile(path, gate, options);
    if (!read.status.ok())
        return failed(name, read.status.error);
    if (read.unread.isOpen() && gate)
        gate(blockMemory());
    return replaceRegexRead(context, name, path, read, syncEach, wrote);
}

} // namespace vexalo
