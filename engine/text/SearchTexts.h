// SPDX-License-Identifier: MIT
#pragma once

#include "engine/text/StreamMatcher.h"
#include "engine/text/Substitution.h"
#include "engine/text/TextCodec.h"
#include "engine/text/TextTools.h"

#include <QByteArray>
#include <QString>

#include <iterator>
#include <memory>
#include <mutex>
#include <optional>

namespace vexalo {

// What a file's search and replacement depend on: its encoding, whether it
// holds a character that folds onto ASCII, and its line-break style.
struct ContentFacts {
    TextFacts text;
    LineBreaks breaks = LineBreaks::Lf;
};

// The facts of content read in blocks, fed every byte in order. Line breaks
// are looked at only when asked for; otherwise the style is Lf. With
// asciiTexts (SearchTexts::asciiTexts()), only a UTF-16 mark is looked for:
// whether the rest is UTF-8 changes nothing for such texts.
class FactsExaminer {
public:
    explicit FactsExaminer(bool breaks, bool asciiTexts = false)
        : m_breaks(breaks)
        , m_asciiTexts(asciiTexts)
    {
    }
    void feed(QByteArrayView bytes);
    // The facts of the bytes so far, as if the content went on validly.
    ContentFacts provisional() const;
    // The facts of all the bytes fed.
    ContentFacts finish();

private:
    // Whether the bytes still go to the text examiner: with ASCII texts,
    // only the first few, unless they are a UTF-16 mark.
    bool examinesText() const;
    TextFacts textFacts(const TextFacts &examined) const;
    const bool m_breaks;
    const bool m_asciiTexts;
    qint64 m_fed = 0;
    QByteArray m_head; // the first bytes, while m_asciiTexts asks whether they are a UTF-16 mark
    TextExaminer m_text;
    LineBreakExaminer m_lineBreaks;
};

// The find and replace texts in one file encoding and line-break style.
struct EncodedTexts {
    bool findRepresentable = false;
    QByteArray find;
    std::optional<Needle> needle;
    std::optional<QByteArray> replacement; // none: this encoding cannot carry it
};

// The find and replace texts of a run as typed, encoded and prepared for each
// kind of content the first time a file of that kind asks, on whichever
// thread: a long find text costs its memory and set-up once per encoding the
// run actually meets. Safe to share between the threads of a run.
class SearchTexts {
public:
    // exactBreaks: the texts' bytes exactly as given; otherwise a line break
    // in either (LF or CR LF) is written as the content's own.
    SearchTexts(const QString &find, const QString &replace, bool caseSensitive, bool exactBreaks);

    // Whether the content's line-break style decides how the find text, or
    // the replacement, is written; texts without a break never ask for it.
    bool findFollowsBreaks() const { return m_findBreaks; }
    bool replacementFollowsBreaks() const { return m_replaceBreaks; }
    bool followsBreaks() const { return m_findBreaks || m_replaceBreaks; }
    // Whether both texts are ASCII and matched case-sensitively: then UTF-8
    // and Latin-1 content give the same bytes to find, searched alike, and
    // the same replacement, and content that is not UTF-16 need not be
    // checked for UTF-8 at all (that check was a twentieth of a run's time).
    bool asciiTexts() const { return m_asciiTexts; }
    // The facts of content held whole, looked for as far as these texts
    // depend on them.
    ContentFacts factsOf(QByteArrayView content) const;

    const EncodedTexts &texts(FileEncoding encoding, LineBreaks breaks);
    const EncodedTexts &texts(const ContentFacts &facts) { return texts(facts.text.encoding, facts.breaks); }

    // Whether content with facts b comes out exactly as content with facts a:
    // the same bytes to find, searched alike, and the same replacement. A
    // reader that chose the facts before it had seen every byte asks this.
    bool sameResults(const ContentFacts &a, const ContentFacts &b);

    // The matcher for content with these facts (one whose find text the
    // encoding cannot carry finds nothing); the texts outlive it.
    std::unique_ptr<StreamMatcher> matcher(const ContentFacts &facts, MatchSink &sink);

private:
    const QString m_find;
    const QString m_replace;
    const bool m_caseSensitive;
    const bool m_findBreaks;
    const bool m_replaceBreaks;
    const bool m_asciiTexts;
    std::optional<EncodedTexts> m_slots[std::size(allFileEncodings)][2]; // [encoding][line breaks]
    std::once_flag m_made[std::size(allFileEncodings)][2];
};

} // namespace vexalo
