// SPDX-License-Identifier: MIT
#pragma once

#include "engine/text/Substitution.h"

#include <QByteArray>
#include <QByteArrayView>

namespace vexalo {

// Where a matcher hands its output, in the order of the input: every byte
// fed comes out exactly once, either kept or inside a match.
//
// A view handed to the sink points into the block being fed, into the
// replacement, or into the matcher's own buffer. One in a block stays valid
// as long as the caller keeps that block; one in the matcher's buffer until
// the next feed() or finish() (after finish(), until the matcher goes away).
// A sink that writes as it goes writes after each feed(); one that collects
// a whole buffer's pieces (fed once, then finished) may keep them all.
class MatchSink {
public:
    virtual ~MatchSink() = default;
    // Bytes of the input that stay as they are.
    virtual void kept(QByteArrayView bytes) = 0;
    // One match: the input bytes it covers, and the bytes put in their place.
    virtual void replaced(QByteArrayView match, QByteArrayView replacement) = 0;
};

// The search and substitution over a byte stream: fed the content in blocks
// of any size (a whole buffer is one block), it hands the output to its sink
// and counts the matches. It knows nothing of files; the same matcher gives
// the same output whatever the blocks, including matches across block edges
// and a find text longer than a block.
//
// How a matcher is used, whatever kind it is:
//     matcher.feed(block);   // as often as there are blocks, in order
//     matcher.finish();      // once, after the last block
//     matcher.matches(), matcher.changes()
// The literal text's matcher (NeedleMatcher) derives from this, implements
// feed() and finish(), and reports through keep() and replace(). Regular
// expressions have a matcher of their own (RegexMatcher): a pattern can fail
// part way (too complex, text that is not in the file's encoding, a stop),
// so each feed returns a status, which this interface has no room for.
class StreamMatcher {
public:
    explicit StreamMatcher(MatchSink &sink)
        : m_sink(sink)
    {
    }
    virtual ~StreamMatcher() = default;
    StreamMatcher(const StreamMatcher &) = delete;
    StreamMatcher &operator=(const StreamMatcher &) = delete;

    // The next bytes of the content. Output that depends on bytes not yet
    // fed is held back until they come (or until finish()).
    virtual void feed(QByteArrayView block) = 0;
    // The content ended: everything held back is decided and handed on.
    virtual void finish() = 0;

    // Matches handed on so far.
    qsizetype matches() const { return m_matches; }
    // Whether a match differed from its replacement: the output is not the
    // input, and a file would have to be written.
    bool changes() const { return m_changes; }

protected:
    void keep(QByteArrayView bytes)
    {
        if (!bytes.isEmpty())
            m_sink.kept(bytes);
    }
    void replace(QByteArrayView match, QByteArrayView replacement)
    {
        ++m_matches;
        m_changes = m_changes || match != replacement;
        m_sink.replaced(match, replacement);
    }

private:
    MatchSink &m_sink;
    qsizetype m_matches = 0;
    bool m_changes = false;
};

// The matcher of a literal find text, prepared as a Needle for the content's
// encoding. A null or empty needle finds nothing: the content is kept whole.
class NeedleMatcher final : public StreamMatcher {
public:
    // foldsOntoAscii is the content's fact (TextFacts): whether it holds a
    // character outside ASCII that folds onto an ASCII letter. The needle
    // and the replacement must outlive the matcher.
    NeedleMatcher(const Needle *needle, bool foldsOntoAscii, QByteArrayView replacement, MatchSink &sink);

    void feed(QByteArrayView block) override;
    void finish() override;

private:
    qsizetype scan(QByteArrayView window, bool final);
    QByteArrayView joinHeld(QByteArrayView more);
    void hold(QByteArrayView window, qsizetype decided);

    const Needle *m_needle;
    const bool m_foldsOntoAscii;
    const QByteArrayView m_replacement;
    // The bytes from the first undecided one on, kept for the next block: a
    // match's length at most, unless blocks come smaller than that. The
    // search goes on at their first byte.
    QByteArray m_held;
    // The held bytes joined with the start of a block and searched as one:
    // what the sink was handed from it stays valid until the next call.
    QByteArray m_window;
};

} // namespace vexalo
