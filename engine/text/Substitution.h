// SPDX-License-Identifier: MIT
#pragma once

// engine/text: how text is found and written in a file's bytes: encodings,
// case folding, the find and replace texts prepared per encoding, line
// breaks and the matcher. Knows nothing of files or names; uses Qt Core only.

#include "engine/text/TextCodec.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>
#include <mutex>
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
// In UTF-16 the needle and the content are taken as 2-byte code units in the
// encoding's byte order: a haystack must begin at a unit (an even offset of
// the file), and matches start only at even offsets of it.
class Needle {
public:
    Needle(QByteArrayView needle, bool caseSensitive, FileEncoding encoding);

    bool isEmpty() const { return m_needle.isEmpty(); }
    // Non-overlapping matches, left to right; the scan resumes after a match.
    std::vector<Match> findAll(QByteArrayView haystack) const;
    // The same, for a caller that already knows from examineText() whether
    // the content holds a character that folds onto an ASCII letter.
    std::vector<Match> findAll(QByteArrayView haystack, bool foldsOntoAscii) const;
    // Those that start at or after from (in UTF-8 folding, the first byte of
    // a character; in UTF-16 any offset, an odd one going on at the next
    // unit): a reader in blocks searches the window it holds.
    std::vector<Match> findAll(QByteArrayView haystack, bool foldsOntoAscii, qsizetype from) const;
    // Whether content with this fact is searched by code points; two
    // encodings that fold the same needle bytes alike and agree here find
    // the same matches.
    bool searchesUnicode(bool foldsOntoAscii) const;
    // The first match only: the found test.
    bool occursIn(QByteArrayView haystack) const;
    // The longest a match can be, in bytes, for any content: whether a match
    // starts at position p (in UTF-8 folding, the first byte of a character)
    // depends only on the bytes [p, p + maxMatchBytes()), so a reader in
    // blocks that carries maxMatchBytes() - 1 bytes across a block edge
    // misses no match. In UTF-16 the same holds for even p, and a block must
    // begin at an even file offset.
    qsizetype maxMatchBytes() const { return m_maxMatchBytes; }
    // The last offset at or before pos where a search of haystack may go on:
    // a unit's first byte in UTF-16 (the haystack beginning at a unit), a
    // character's first byte in UTF-8 searched by code points (started inside
    // one, the search would take its stray bytes for characters), pos itself
    // otherwise.
    qsizetype resumePoint(QByteArrayView haystack, qsizetype pos, bool foldsOntoAscii) const;

private:
    enum class Mode { Exact, FoldBytes, FoldUnicode };
    struct Borders;
    // What one search over one content has spent so far on comparing
    // candidates in full, to notice content that defeats the probes.
    struct Scan {
        qsizetype compared = 0;
        bool linear = false; // the probes gave up: Two-Way from here on
    };
    qsizetype findBytes(QByteArrayView haystack, qsizetype from, Scan &scan) const;
    template <bool Fold>
    qsizetype findTwoWay(QByteArrayView haystack, qsizetype from) const;
    qsizetype findUnicode(QByteArrayView haystack, qsizetype from, qsizetype *length) const;
    template <typename Decode, typename Border, typename Symbol>
    qsizetype findUnicodeWith(QByteArrayView haystack, qsizetype from, qsizetype *length,
                              const std::vector<Border> &borders, Symbol symbol) const;
    // The needle's k-th UTF-16 unit, the symbol of the search by units.
    char32_t unitSymbol(qsizetype k) const;
    bool holdsFoldToAsciiIn(QByteArrayView haystack) const;
    void fold(bool caseSensitive, FileEncoding encoding);
    void foldAscii();
    void chooseProbes();
    void prepareTwoWay();
    void prepareBorders(Borders &borders) const;

    QByteArray m_needle;
    // The two needle positions a scan compares first, the rarest bytes of the
    // needle in ordinary text, with the bytes each may be (two when folding).
    qsizetype m_probe1 = 0;
    qsizetype m_probe2 = 0;
    unsigned char m_probe1Bytes[2] = {0, 0};
    unsigned char m_probe2Bytes[2] = {0, 0};
    Mode m_mode = Mode::Exact;
    bool m_utf16 = false;            // matched in 2-byte units, at even offsets only
    bool m_bigEndian = false;        // the units' byte order in UTF-16
    bool m_checkFoldToAscii = false; // an ASCII needle with s or k may meet U+017F or U+212A
    std::vector<char32_t> m_folded;  // FoldUnicode: the needle's folded code points
    qsizetype m_maxMatchBytes = 0;
    // Two-Way, for content where comparing at every candidate would cost
    // more than a multiple of its length: the critical position, the period
    // (or a safe shift when the needle is not periodic) and, for each byte,
    // one past its last position in the needle.
    qsizetype m_critical = 0;
    qsizetype m_period = 1;
    bool m_periodic = false;
    qsizetype m_lastAt[256] = {};
    // For the search by code points: the longest proper border of each
    // prefix of the folded needle, 32 bits each unless the needle is longer.
    // An ASCII needle needs them only for content holding U+017F or U+212A,
    // so they are made on first use, once for all threads.
    struct Borders {
        std::once_flag made;
        std::vector<std::uint32_t> shortBorders;
        std::vector<qsizetype> longBorders;
    };
    std::shared_ptr<Borders> m_borders;
    const Borders &borders() const;
};

// The content with every match replaced; the result is sized once.
QByteArray substitute(QByteArrayView content, const std::vector<Match> &matches, QByteArrayView replacement);

// Convenience for tests and small callers: find and substitute in one go.
QByteArray substituteAll(QByteArrayView content, QByteArrayView find, QByteArrayView replacement, bool caseSensitive,
                         FileEncoding encoding);

} // namespace vexalo
