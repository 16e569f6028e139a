// SPDX-License-Identifier: MIT
#pragma once

// Regular expressions (PCRE2) on a file's bytes in its own encoding, fed in
// blocks of any size: a UTF-8 file in UTF mode with Unicode properties, a
// Latin-1 file in the 8-bit mode, a UTF-16 file with the 16-bit library in
// its byte order. ^ and $ work at every line (LF), . stops at LF.

#include "engine/text/TextCodec.h"
#include "engine/text/TextTools.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace vexalo {

// A pattern or a replacement that cannot be used, with where it goes wrong:
// offset counts the characters of the text before the error.
struct RegexError {
    QString message;
    qsizetype offset = -1; // -1: the error has no place in the pattern (a replacement's group)
    bool inReplacement = false;
};

// "$1", "${1}", "${name}", "$name" and "$$": literal text and groups by number.
struct ReplacementPart {
    QString text; // used when group < 0
    int group = -1;
};

// The pattern and the replacement of a run, checked once in UTF mode before
// any file is read; per encoding, compiled() gives what a file is matched with.
class RegexProgram {
public:
    RegexProgram(const QString &pattern, const QString &replacement, bool caseSensitive);
    ~RegexProgram();
    RegexProgram(const RegexProgram &) = delete;
    RegexProgram &operator=(const RegexProgram &) = delete;

    // Empty when the pattern compiles and every group the replacement names exists.
    const std::optional<RegexError> &error() const { return m_error; }
    const std::vector<ReplacementPart> &replacement() const { return m_parts; }
    const QString &pattern() const { return m_pattern; }
    bool caseSensitive() const { return m_caseSensitive; }

private:
    QString m_pattern;
    bool m_caseSensitive;
    std::optional<RegexError> m_error;
    std::vector<ReplacementPart> m_parts;
};

// The pattern compiled for one encoding (JIT where the machine has one), shared
// by every thread of a run. Not compiled: refusal() says why the pattern cannot
// occur in a file of that encoding (a character Latin-1 has not).
class RegexCode {
public:
    RegexCode(const RegexProgram &program, FileEncoding encoding);
    ~RegexCode();
    RegexCode(const RegexCode &) = delete;
    RegexCode &operator=(const RegexCode &) = delete;

    bool usable() const { return m_code != nullptr; }
    const QString &refusal() const { return m_refusal; }
    FileEncoding encoding() const { return m_encoding; }
    // Bytes kept before where a search goes on: the longest lookbehind, and
    // one character at least, for ^ and \b.
    qsizetype contextBytes() const { return m_contextBytes; }
    void *code() const { return m_code; }
    // The same with ^ matching after a line break at the end of the bytes
    // given: for a block that more bytes follow.
    void *codeBeforeEnd() const { return m_codeBeforeEnd; }

private:
    void *compile(const RegexProgram &program, bool beforeEnd, int *error);
    FileEncoding m_encoding;
    void *m_code = nullptr;
    void *m_codeBeforeEnd = nullptr;
    QString m_refusal;
    qsizetype m_contextBytes = 4;
};

// The replacement's literal pieces in one encoding and line-break style.
struct EncodedReplacement {
    std::vector<std::variant<QByteArray, int>> parts; // bytes, or a group number
    static std::optional<EncodedReplacement> make(const RegexProgram &program, FileEncoding encoding,
                                                  std::optional<LineBreaks> breaks);
};

// Fed a file's bytes in order, hands back the new content as pieces: the bytes
// kept and the replacements, valid until the next feed. Matches as perl's
// s///g does: left to right, never overlapping, an empty match not right after
// another at the same place. A match waits for the bytes it needs across
// block edges, up to lookBackLimit bytes; beyond that, or past PCRE2's match
// limits, the matcher fails and the file is to be left alone.
class RegexMatcher {
public:
    enum class Status { Ok, LookBackTooLong, TooComplex, BrokenText, Stopped, Failed };

    RegexMatcher(const RegexCode &code, const EncodedReplacement &replacement);
    ~RegexMatcher();
    RegexMatcher(const RegexMatcher &) = delete;
    RegexMatcher &operator=(const RegexMatcher &) = delete;

    // Asked at every feed and now and then during a long one; true ends it with Stopped.
    void setStop(std::function<bool()> stop) { m_stop = std::move(stop); }
    void setLookBackLimit(qsizetype bytes) { m_lookBackLimit = bytes; }

    // last: no bytes follow. Bytes the encoding cannot hold end with BrokenText.
    Status feed(QByteArrayView bytes, bool last);
    // The new content decided by the last feed, in order.
    const std::vector<QByteArrayView> &pieces() const { return m_pieces; }
    // The input offset where the new content first differs from the old, or -1.
    qint64 firstChange() const { return m_firstChange; }
    qsizetype matches() const { return m_matches; }
    // Why the last feed failed, for Failed: PCRE2's own message.
    const QString &failure() const { return m_failure; }
    static QString describe(Status status);

private:
    struct Engine;
    Status run(bool last);
    void emitKept(qsizetype upTo);
    void emitMatch(const size_t *ovector, int pairs);
    qsizetype validUpTo(qsizetype from, bool last, bool *broken) const;
    qsizetype nextChar(qsizetype at) const;

    const RegexCode &m_code;
    const EncodedReplacement &m_replacement;
    std::unique_ptr<Engine> m_engine;
    std::function<bool()> m_stop;
    qsizetype m_lookBackLimit = 64 * 1024 * 1024;
    FileEncoding m_encoding;
    int m_unit = 1; // bytes per code unit

    QByteArray m_buf;       // the bytes in work: context, then undecided bytes
    QByteArray m_swapped;   // UTF-16 not in this machine's order: m_buf in native order
    qint64 m_bufStart = 0;  // file offset of m_buf[0]
    qsizetype m_pos = 0;    // where the search goes on
    qsizetype m_kept = 0;   // bytes before it are handed out
    qsizetype m_valid = 0;  // bytes checked for the encoding
    bool m_emptyAt = false; // an empty match ended at m_pos
    bool m_done = false;

    std::vector<QByteArrayView> m_pieces;
    std::deque<QByteArray> m_made; // the replacements the pieces point to
    qint64 m_firstChange = -1;
    qsizetype m_matches = 0;
    QString m_failure;
};

// Matches and replaces in whole content at once: for tests and small callers.
// Empty optional when the matcher fails; *status says why.
std::optional<QByteArray> regexReplaceAll(const RegexCode &code, const EncodedReplacement &replacement,
                                          QByteArrayView content, qsizetype blockSize = 0,
                                          RegexMatcher::Status *status = nullptr, qsizetype *matches = nullptr);

} // namespace vexalo
