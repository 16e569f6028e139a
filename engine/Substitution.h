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
    // The same, for a caller that already knows from examineText() whether
    // the content holds a character that folds onto an ASCII letter.
    std::vector<Match> findAll(QByteArrayView haystack, bool foldsOntoAscii) const;
    // The first match only: the found test.
    bool occursIn(QByteArrayView haystack) const;

private:
    enum class Mode { Exact, FoldBytes, FoldUnicode };
    qsizetype findFrom(QByteArrayView haystack, qsizetype from, qsizetype *length) const;
    qsizetype findBytes(QByteArrayView haystack, qsizetype from) const;
    qsizetype findUnicode(QByteArrayView haystack, qsizetype from, qsizetype *length) const;
    void fold(bool caseSensitive, FileEncoding encoding);
    void chooseProbes();

    QByteArray m_needle;
    // The two needle positions a scan compares first, the rarest bytes of the
    // needle in ordinary text, with the bytes each may be (two when folding).
    qsizetype m_probe1 = 0;
    qsizetype m_probe2 = 0;
    unsigned char m_probe1Bytes[2] = {0, 0};
    unsigned char m_probe2Bytes[2] = {0, 0};
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
