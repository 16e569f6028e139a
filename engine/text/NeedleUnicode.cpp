// SPDX-License-Identifier: MIT
// The needle's search by characters: case folding beyond one byte (UTF-8
// and UTF-16 files, where a letter may fold onto one of another length).
#include "engine/text/Substitution.h"
#include "engine/text/FoldTables.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexalo {

using namespace textdetail;

namespace {

// Decodes one character of valid UTF-8; returns its length in bytes.
inline int decodeUtf8(const unsigned char *p, const unsigned char *end, char32_t *cp)
{
    const unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (end - p < len)
        len = 1;
    if (len == 1) { // not reached for valid UTF-8; keep going byte by byte
        *cp = 0xFFFD;
        return 1;
    }
    char32_t v = c & (0x7F >> len);
    for (int k = 1; k < len; ++k)
        v = (v << 6) | (p[k] & 0x3F);
    *cp = v;
    return len;
}

// What a stray byte at the end of UTF-16 content decodes to: no code point,
// so it matches nothing.
constexpr char32_t noCodePoint = 0xFFFFFFFF;

struct Utf8Decoder {
    // A needle that starts outside ASCII may skip plain ASCII bytes.
    static constexpr bool skipsAscii = true;
    static int decode(const unsigned char *p, const unsigned char *end, char32_t *cp) { return decodeUtf8(p, end, cp); }
};

// One code point of UTF-16 from a unit boundary: a surrogate pair is one
// character of four bytes, a lone surrogate stands for itself.
template <bool BigEndian>
struct Utf16Decoder {
    static constexpr bool skipsAscii = false;
    static char16_t unitAt(const unsigned char *p)
    {
        return char16_t(BigEndian ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8));
    }
    static int decode(const unsigned char *p, const unsigned char *end, char32_t *cp)
    {
        if (end - p < 2) {
            *cp = noCodePoint;
            return int(end - p);
        }
        const char16_t u = unitAt(p);
        if (QChar::isHighSurrogate(u) && end - p >= 4) {
            const char16_t low = unitAt(p + 2);
            if (QChar::isLowSurrogate(low)) {
                *cp = QChar::surrogateToUcs4(u, low);
                return 4;
            }
        }
        *cp = u;
        return 2;
    }
};

// UTF-16 unit by unit, surrogates apart: the exact search and the search for
// an ASCII needle compare units, as their byte search does.
template <bool BigEndian>
struct Utf16UnitDecoder {
    static constexpr bool skipsAscii = false;
    static int decode(const unsigned char *p, const unsigned char *end, char32_t *cp)
    {
        if (end - p < 2) {
            *cp = noCodePoint;
            return int(end - p);
        }
        *cp = Utf16Decoder<BigEndian>::unitAt(p);
        return 2;
    }
};

inline char32_t foldCodePoint(char32_t cp)
{
    return cp < 0x80 ? asciiFold[cp] : cp > 0x10FFFF ? cp : QChar::toCaseFolded(cp);
}

// The only characters outside ASCII whose simple case folding is an ASCII
// letter: LATIN SMALL LETTER LONG S (to s) and KELVIN SIGN (to k).
// Their lead bytes 0xC5 and 0xE2 are rare in most text, so memchr skips
// ahead at memory speed; a general substring search here cost more than the
// case-insensitive search itself.
bool holdsFoldToAscii(QByteArrayView haystack)
{
    const auto *begin = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *end = begin + haystack.size();
    auto find = [&](unsigned char lead, const char *rest, size_t restSize) {
        const unsigned char *p = begin;
        while (p < end) {
            const void *hit = std::memchr(p, lead, size_t(end - p));
            if (!hit)
                return false;
            p = static_cast<const unsigned char *>(hit) + 1;
            if (size_t(end - p) >= restSize && std::memcmp(p, rest, restSize) == 0)
                return true;
        }
        return false;
    };
    return find(0xC5, "\xBF", 1) || find(0xE2, "\x84\xAA", 2);
}

// The same for UTF-16 content, unit by unit.
bool holdsFoldToAsciiUtf16(QByteArrayView haystack, bool bigEndian)
{
    const auto *p = reinterpret_cast<const unsigned char *>(haystack.data());
    const int high = bigEndian ? 0 : 1;
    for (qsizetype i = 0; i + 2 <= haystack.size(); i += 2) {
        const unsigned char h = p[i + high], l = p[i + 1 - high];
        if ((h == 0x01 && l == 0x7F) || (h == 0x21 && l == 0x2A))
            return true;
    }
    return false;
}

} // namespace

void Needle::fold(bool caseSensitive, FileEncoding encoding)
{
    if (isUtf16(encoding)) {
        m_utf16 = true;
        m_bigEndian = encoding == FileEncoding::Utf16BE;
        if (caseSensitive || m_needle.isEmpty()) {
            m_mode = Mode::Exact;
            return;
        }
        bool ascii = true;
        for (qsizetype k = 0; ascii && k < m_needle.size() / 2; ++k)
            ascii = unitSymbol(k) < 0x80;
        if (ascii) {
            // Each unit is an ASCII byte and a zero byte, and a content unit
            // folds onto it byte by byte only when it is an ASCII letter too.
            foldAscii();
            return;
        }
        m_mode = Mode::FoldUnicode;
        const auto *p = reinterpret_cast<const unsigned char *>(m_needle.constData());
        const auto *end = p + m_needle.size();
        while (p < end) {
            char32_t cp;
            p += m_bigEndian ? Utf16Decoder<true>::decode(p, end, &cp) : Utf16Decoder<false>::decode(p, end, &cp);
            m_folded.push_back(foldCodePoint(cp));
        }
        return;
    }
    if (caseSensitive || m_needle.isEmpty()) {
        m_mode = Mode::Exact;
        return;
    }
    if (encoding == FileEncoding::Latin1) {
        m_mode = Mode::FoldBytes;
        for (char &c : m_needle)
            c = static_cast<char>(latin1Fold[static_cast<unsigned char>(c)]);
        return;
    }
    bool ascii = true;
    for (char c : m_needle)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        // Its folded bytes are its folded code points too: the search by code
        // points, for content holding one of the two characters that fold
        // onto ASCII letters, reads them from there.
        foldAscii();
        return;
    }
    m_mode = Mode::FoldUnicode;
    const auto *p = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const auto *end = p + m_needle.size();
    while (p < end) {
        char32_t cp;
        p += decodeUtf8(p, end, &cp);
        m_folded.push_back(foldCodePoint(cp));
    }
}

qsizetype Needle::findUnicode(QByteArrayView haystack, qsizetype from, qsizetype *length) const
{
    auto run = [&](const auto &borders) {
        auto with = [&](auto decoder) {
            using Decode = decltype(decoder);
            if (m_mode == Mode::FoldUnicode)
                return findUnicodeWith<Decode>(haystack, from, length, borders,
                                               [this](qsizetype k) { return m_folded[size_t(k)]; });
            if (m_utf16)
                return findUnicodeWith<Decode>(haystack, from, length, borders,
                                               [this](qsizetype k) { return unitSymbol(k); });
            return findUnicodeWith<Decode>(haystack, from, length, borders, [this](qsizetype k) {
                return char32_t(static_cast<unsigned char>(m_needle[k]));
            });
        };
        if (!m_utf16)
            return with(Utf8Decoder{});
        // By code points where folding may pair characters of two units,
        // otherwise unit by unit.
        if (m_mode == Mode::FoldUnicode)
            return m_bigEndian ? with(Utf16Decoder<true>{}) : with(Utf16Decoder<false>{});
        return m_bigEndian ? with(Utf16UnitDecoder<true>{}) : with(Utf16UnitDecoder<false>{});
    };
    const Borders &made = borders();
    return made.longBorders.empty() ? run(made.shortBorders) : run(made.longBorders);
}

// Knuth, Morris and Pratt over folded code points: each character of the
// content is decoded and folded once, and the start of the partial match
// only moves forward, so the work is linear in the content whatever the
// needle. A match's bytes may differ in number from the needle's.
template <typename Decode, typename Border, typename Symbol>
qsizetype Needle::findUnicodeWith(QByteArrayView haystack, qsizetype from, qsizetype *length,
                                  const std::vector<Border> &borders, Symbol symbol) const
{
    const auto *begin = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *end = begin + haystack.size();
    if (m_utf16 && (from & 1))
        ++from;
    const auto *p = begin + std::min(from, haystack.size());
    const qsizetype count = qsizetype(borders.size());
    const bool foldContent = m_mode != Mode::Exact;
    const char32_t first = symbol(0);
    const unsigned char *start = p; // where the partial match begins
    qsizetype matched = 0;          // how many characters of the needle it holds
    while (p < end) {
        if (matched == 0) {
            // No ASCII character folds onto one outside ASCII: a needle that
            // starts outside ASCII skips plain ASCII text at memory speed.
            if (Decode::skipsAscii && first >= 0x80) {
#if defined(__SSE2__)
                while (end - p >= 16) {
                    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
                    if (high) {
                        p += __builtin_ctz(unsigned(high));
                        break;
                    }
                    p += 16;
                }
#endif
                while (p < end && *p < 0x80)
                    ++p;
                if (p == end)
                    break;
            }
            start = p;
        }
        char32_t cp;
        const int len = Decode::decode(p, end, &cp);
        if (foldContent)
            cp = foldCodePoint(cp);
        p += len;
        while (matched > 0 && symbol(matched) != cp) {
            // The partial match shrinks to its longest border: its start
            // moves on by the characters dropped.
            const qsizetype keep = qsizetype(borders[size_t(matched - 1)]);
            for (qsizetype k = matched - keep; k > 0; --k) {
                char32_t skipped;
                start += Decode::decode(start, end, &skipped);
            }
            matched = keep;
        }
        if (symbol(matched) == cp) {
            if (++matched == count) {
                *length = p - start;
                return start - begin;
            }
        }
    }
    return -1;
}

bool Needle::searchesUnicode(bool foldsOntoAscii) const
{
    return m_mode == Mode::FoldUnicode || (m_checkFoldToAscii && foldsOntoAscii);
}

qsizetype Needle::resumePoint(QByteArrayView haystack, qsizetype pos, bool foldsOntoAscii) const
{
    if (m_utf16)
        return pos & ~qsizetype(1);
    if (!searchesUnicode(foldsOntoAscii))
        return pos;
    // A character is at most four bytes: three continuation bytes at most.
    for (int back = 0;
         back < 3 && pos > 0 && pos < haystack.size() && (static_cast<unsigned char>(haystack[pos]) & 0xC0) == 0x80;
         ++back)
        --pos;
    return pos;
}

char32_t Needle::unitSymbol(qsizetype k) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(m_needle.constData()) + 2 * k;
    return m_bigEndian ? Utf16Decoder<true>::unitAt(p) : Utf16Decoder<false>::unitAt(p);
}

bool Needle::holdsFoldToAsciiIn(QByteArrayView haystack) const
{
    return m_utf16 ? holdsFoldToAsciiUtf16(haystack, m_bigEndian) : holdsFoldToAscii(haystack);
}

} // namespace vexalo
