// SPDX-License-Identifier: MIT
// Replace in a file larger than a block: the same checks in the same order as
// for a file read whole, on a file never held whole. The matcher is fed one
// block at a time and its output is written as it comes, from the first
// change on (what comes before it is copied in the kernel).

#include "engine/journal/Journal.h"
#include "engine/runs/RunSteps.h"

#include <cerrno>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

namespace vexalo {

namespace {

// Hands the matcher's output on to a new file from the first change on.
// Until then the output is the input, so nothing is held or written: at the
// first change the bytes before it are copied from the file in the kernel,
// and a file that never changes needs no writer at all.
class RewriteAsFound : public MatchSink {
public:
    RewriteAsFound(const FilePath &path, const struct stat &info, const WriteOptions &options, int fd, bool write)
        : m_path(path)
        , m_info(info)
        , m_options(options)
        , m_fd(fd)
        , m_write(write)
    {
    }

    void kept(QByteArrayView bytes) override
    {
        if (m_writer)
            m_pieces.push_back(bytes);
        else if (!m_started)
            m_unchanged += bytes.size();
    }

    void replaced(QByteArrayView match, QByteArrayView replacement) override
    {
        if (!m_started && match != replacement)
            start();
        if (m_writer)
            m_pieces.push_back(replacement);
        else if (!m_started)
            m_unchanged += match.size();
    }

    // Writes what the last block gave; its views are valid until the next.
    void flush()
    {
        if (!m_writer || m_pieces.empty())
            return;
        m_writeError = m_writer->write(m_pieces);
        m_pieces.clear();
        if (!m_writeError.ok())
            m_writer.reset();
    }

    // Why the file could not be rewritten, found at the first change.
    const IoStatus &notWritable() const { return m_notWritable; }
    // Why the new content could not be written.
    const IoStatus &writeError() const { return m_writeError; }
    // Holds the new content when the file changes and all went well.
    std::unique_ptr<AtomicWriter> takeWriter() { return std::move(m_writer); }

private:
    void start()
    {
        m_started = true;
        // Checked before any of it is written; a file that would not change
        // need not be writable.
        m_notWritable = checkWritable(m_path, m_info);
        if (!m_notWritable.ok() || !m_write)
            return;
        m_writer = std::make_unique<AtomicWriter>(m_path, m_options);
        m_writeError = m_writer->status();
        if (m_writeError.ok())
            m_writeError = m_writer->copyFrom(m_fd, 0, m_unchanged);
        if (!m_writeError.ok())
            m_writer.reset();
    }

    const FilePath &m_path;
    const struct stat &m_info;
    const WriteOptions &m_options;
    const int m_fd;
    const bool m_write; // false for a preview and a replacement the file cannot hold
    bool m_started = false;
    qint64 m_unchanged = 0; // the bytes before the first change
    std::unique_ptr<AtomicWriter> m_writer;
    std::vector<QByteArrayView> m_pieces;
    IoStatus m_notWritable;
    IoStatus m_writeError;
};

// Reads a file from its start, a block at a time, into one buffer.
class BlockReader {
public:
    BlockReader(int fd, qint64 size)
        : m_fd(fd)
        , m_size(qsizetype(size))
    {
    }
    IoStatus start()
    {
        if (::lseek(m_fd, 0, SEEK_SET) < 0)
            return IoStatus::fromErrno(errno);
        m_buffer.reset(new (std::nothrow) char[size_t(m_size)]);
        return m_buffer ? IoStatus() : IoStatus::fromErrno(ENOMEM);
    }
    // The next block, full unless the file ends in it; valid until the next.
    IoStatus next(QByteArrayView *block)
    {
        qsizetype got = 0;
        while (got < m_size) {
            const ssize_t n = ::read(m_fd, m_buffer.get() + got, size_t(m_size - got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return IoStatus::fromErrno(errno);
            }
            if (n == 0) {
                m_atEnd = true;
                break;
            }
            got += n;
        }
        *block = QByteArrayView(m_buffer.get(), got);
        return {};
    }
    bool atEnd() const { return m_atEnd; }

private:
    const int m_fd;
    const qsizetype m_size;
    std::unique_ptr<char[]> m_buffer;
    bool m_atEnd = false;
};

// What one pass over a file read in blocks found.
struct BlockPass {
    IoStatus readError;
    qint64 size = 0; // bytes read
    SearchOutcome found;
    bool binary = false;                  // a NUL byte (looked for in a preview only)
    IoStatus notWritable;                 // why it could not be rewritten, found at the first change
    IoStatus writeError;                  // the new content could not be written
    std::unique_ptr<AtomicWriter> writer; // holds the new content when it changes
    ContentFacts searchedBy;              // the facts the search took
    ContentFacts seen;                    // all the bytes' facts, when they were examined
};

struct PassInput {
    ReplaceContext &context;
    int fd;
    const FilePath &path;
    const struct stat &info;
    const WriteOptions &options;
};

// One pass over the file from its start. With known facts the bytes are not
// examined; without, the search takes the facts of the first block (all of
// them for a file of one block), and the pass ends with those of all bytes,
// for the caller to compare.
BlockPass readPass(const PassInput &in, const std::optional<ContentFacts> &known)
{
    BlockPass pass;
    const ReplaceJob &job = in.context.job;
    BlockReader reader(in.fd, blockSize());
    if (pass.readError = reader.start(); !pass.readError.ok())
        return pass;
    FactsExaminer examiner(in.context.texts.followsBreaks(), in.context.texts.asciiTexts());
    std::unique_ptr<RewriteAsFound> sink;
    std::unique_ptr<StreamMatcher> matcher;
    while (!reader.atEnd()) {
        QByteArrayView block;
        if (pass.readError = reader.next(&block); !pass.readError.ok())
            return pass;
        pass.size += block.size();
        if (job.preview && !pass.binary)
            pass.binary = block.contains('\0');
        if (!known)
            examiner.feed(block);
        if (!matcher) {
            if (known)
                pass.searchedBy = *known;
            else if (reader.atEnd())
                pass.searchedBy = examiner.finish(); // finishing again gives the same
            else
                pass.searchedBy = examiner.provisional();
            const bool write = !job.preview && in.context.texts.texts(pass.searchedBy).replacement;
            sink = std::make_unique<RewriteAsFound>(in.path, in.info, in.options, in.fd, write);
            matcher = in.context.texts.matcher(pass.searchedBy, *sink);
        }
        matcher->feed(block);
        sink->flush();
    }
    matcher->finish();
    sink->flush();
    pass.seen = known ? *known : examiner.finish();
    pass.found = {matcher->matches(), matcher->changes()};
    pass.notWritable = sink->notWritable();
    pass.writeError = sink->writeError();
    pass.writer = sink->takeWriter();
    return pass;
}

// Decided on the first block, the search was right for the whole file unless
// a later byte changed what it depends on (not UTF-8 after all, a character
// that folds onto ASCII, a line break without CR): then the file is read and
// searched again, knowing its facts. An ASCII find and replace text searched
// case-sensitively never is.
bool searchedAsAWhole(ReplaceContext &context, const BlockPass &pass)
{
    return context.texts.sameResults(pass.searchedBy, pass.seen);
}

} // namespace

FileResult replaceInBlocks(ReplaceContext &context, const FilePath &name, const FilePath &path, const ReadResult &read,
                           bool syncEach, bool *wrote)
{
    const ReplaceJob &job = context.job;
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

    const PassInput in{context, fd, path, read.info, options};
    BlockPass pass = readPass(in, std::nullopt);
    if (!pass.readError.ok())
        return failed(name, pass.readError.error);
    if (pass.size == 0)
        return {name, Outcome::NotFound, {}};
    if (!searchedAsAWhole(context, pass)) {
        if (!context.texts.texts(pass.seen).findRepresentable)
            return {name, Outcome::NotFound, {}};
        const bool binary = pass.binary;
        const ContentFacts seen = pass.seen;
        // The first pass's temporary goes unrenamed, and the digest the
        // writer made of it for the journal with it.
        pass = {};
        pass = readPass(in, seen);
        if (!pass.readError.ok())
            return failed(name, pass.readError.error);
        pass.binary = binary;
    }

    const FileEncoding encoding = pass.searchedBy.text.encoding;
    if (const auto decided = decidedBySearch(name, context.texts.texts(pass.searchedBy), encoding, pass.found))
        return *decided;
    if (pass.found.changes && !pass.notWritable.ok())
        return failed(name, pass.notWritable.error);
    if (job.preview)
        return previewOf(job, name, path, pass.found.matches, pass.binary && !isUtf16(encoding));
    if (pass.found.changes && !pass.writeError.ok())
        return failed(name, pass.writeError.error);

    // The new backup replaces an older one for good only once the file's
    // rewrite is committed: a file left unchanged keeps its older backup.
    OlderBackup older;
    if (job.makeBackups) {
        const FilePath backupPath = path.withSuffix(".old");
        IoStatus made = OlderBackup::setAside(backupPath, &older);
        if (made.ok()) {
            AtomicWriter backup(backupPath, backupWriteOptions(path, read.info, syncEach));
            made = backup.copyFrom(fd, 0, pass.size);
            if (made.ok())
                made = backup.commit();
        }
        if (!made.ok())
            return failed(name, backupFailedReason(made.error));
        *wrote = true;
    }

    return commitRewrite(name, path, read.info, pass.found.changes ? pass.writer.get() : nullptr, older, journaled,
                         syncEach, wrote, context);
}

} // namespace vexalo
