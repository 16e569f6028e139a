// SPDX-License-Identifier: MIT
#pragma once

#include "TextCodec.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace vexalo {

// Where a needle matched: [start, start + length). Under Unicode case folding
// a match may be longer or shorter than the needle in bytes.
struct Match {
    qsizetype start = 0;
    qsizetype length = 0;
};

// A needle prepared once per run and per encoding: folded, with the bytes a
// scan looks for chosen up front, so the content itself is never lower-cased.
class Needle {
public:
    Needle(QByteArrayView needle, bool caseSensitive, FileEncoding encoding);

    bool isEmpty() const { return m_needle.isEmpty(); }
    // Non-overlapping matches, left to right; the scan resumes after a match.
    std::vector<Match> findAll(QByteArrayView haystack) const;
    // The first match only: the found test.
    bool occursIn(QByteArrayView haystack) const;

private:
    enum class Mode { Exact, FoldBytes, FoldUnicode };
    qsizetype findFrom(QByteArrayView haystack, qsizetype from, qsizetype *length) const;
    qsizetype findBytes(QByteArrayView haystack, qsizetype from) const;
    qsizetype findUnicode(QByteArrayView haystack, qsizetype from, qsizetype *length) const;

    QByteArray m_needle;
    Mode m_mode = Mode::Exact;
    bool m_checkFoldToAscii = false; // an ASCII needle with s or k may meet U+017F or U+212A
    std::vector<char32_t> m_folded;  // FoldUnicode: the needle's folded code points
};

// The content with every match replaced; the result is sized once.
QByteArray substitute(QByteArrayView content, const std::vector<Match> &matches, QByteArrayView replacement);

// Convenience for tests and small callers: find and substitute in one go.
QByteArray substituteAll(QByteArrayView content, QByteArrayView find, QByteArrayView replacement,
                         bool caseSensitive, FileEncoding encoding);

} // namespace vexalo
