// SPDX-License-Identifier: MIT
#include "Substitution.h"

#include <QChar>

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexalo {

namespace {

using FoldTable = std::array<unsigned char, 256>;

// ASCII letters only: what an ASCII needle needs in a UTF-8 file, where every
// byte of 0x80 and above belongs to a longer character.
constexpr FoldTable makeAsciiFold()
{
    FoldTable t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
    return t;
}

// Latin-1 letter pairs: A-Z and the accented capitals 0xC0-0xDE, except the
// multiplication sign 0xD7 whose partner 0xF7 is the division sign.
constexpr FoldTable makeLatin1Fold()
{
    FoldTable t = makeAsciiFold();
    for (int i = 0xC0; i <= 0xDE; ++i) {
        if (i != 0xD7)
            t[i] = static_cast<unsigned char>(i + 32);
    }
    return t;
}

constexpr FoldTable asciiFold = makeAsciiFold();
constexpr FoldTable latin1Fold = makeLatin1Fold();

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

inline char32_t foldCodePoint(char32_t cp)
{
    return cp < 0x80 ? asciiFold[cp] : QChar::toCaseFolded(cp);
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

// How often a byte turns up in ordinary text, roughly, in parts per
// thousand: a scan that first looks for the needle's rarest bytes meets far
// fewer false candidates than one that looks for its first and last.
constexpr std::array<unsigned char, 256> makeByteFrequency()
{
    std::array<unsigned char, 256> f{};
    const char *lower = "etaoinsrhldcumfpgwybvkxjqz";
    const unsigned char lowerFreq[] = {90, 65, 60, 60, 55, 55, 50, 48, 40, 32, 30, 25, 22,
                                       20, 18, 15, 15, 14, 14, 12, 8, 6, 2, 1, 1, 1};
    for (int i = 0; i < 26; ++i) {
        const unsigned char c = static_cast<unsigned char>(lower[i]);
        f[c] = lowerFreq[i];
        f[c - 32] = static_cast<unsigned char>(lowerFreq[i] / 10 + 1);
    }
    for (int c = '0'; c <= '9'; ++c)
        f[c] = 5;
    for (const char *p = ",.;:-'\"()<>/=_"; *p; ++p)
        f[static_cast<unsigned char>(*p)] = 4;
    f[' '] = 150;
    f['\n'] = 20;
    f['\t'] = 5;
    f['\r'] = 5;
    for (int c = 0x80; c < 0x100; ++c)
        f[c] = 1;
    return f;
}

constexpr std::array<unsigned char, 256> byteFrequency = makeByteFrequency();

} // namespace

Needle::Needle(QByteArrayView needle, bool caseSensitive, FileEncoding encoding)
    : m_needle(needle.toByteArray())
{
    fold(caseSensitive, encoding);
    chooseProbes();
}

void Needle::chooseProbes()
{
    const qsizetype m = m_needle.size();
    if (m == 0)
        return;
    const bool folding = m_mode == Mode::FoldBytes;
    // Every byte that folds onto the needle's byte: itself, and its other case.
    auto variants = [&](unsigned char b, unsigned char out[2]) {
        out[0] = b;
        out[1] = b;
        if (folding) {
            for (int c = 0; c < 256; ++c) {
                if (c != b && latin1Fold[c] == b)
                    out[1] = static_cast<unsigned char>(c);
            }
        }
    };
    auto cost = [&](qsizetype j) {
        unsigned char v[2];
        variants(static_cast<unsigned char>(m_needle[j]), v);
        return int(byteFrequency[v[0]]) + (v[1] != v[0] ? int(byteFrequency[v[1]]) : 0);
    };
    m_probe1 = 0;
    for (qsizetype j = 1; j < m; ++j) {
        if (cost(j) < cost(m_probe1))
            m_probe1 = j;
    }
    m_probe2 = m_probe1 == 0 ? m - 1 : 0;
    for (qsizetype j = 0; j < m; ++j) {
        // A second look at the same byte value tells the scan nothing new.
        if (j != m_probe1 && m_needle[j] != m_needle[m_probe1]
            && (m_needle[m_probe2] == m_needle[m_probe1] || cost(j) < cost(m_probe2)))
            m_probe2 = j;
    }
    variants(static_cast<unsigned char>(m_needle[m_probe1]), m_probe1Bytes);
    variants(static_cast<unsigned char>(m_needle[m_probe2]), m_probe2Bytes);
}

void Needle::fold(bool caseSensitive, FileEncoding encoding)
{
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
    // The folded code points are kept for every UTF-8 needle: an ASCII needle
    // falls back on them when the content holds one of the two characters
    // that fold onto ASCII letters.
    const auto *p = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const auto *end = p + m_needle.size();
    while (p < end) {
        char32_t cp;
        p += decodeUtf8(p, end, &cp);
        m_folded.push_back(foldCodePoint(cp));
    }
    if (ascii) {
        m_mode = Mode::FoldBytes;
        for (char &c : m_needle) {
            c = static_cast<char>(asciiFold[static_cast<unsigned char>(c)]);
            m_checkFoldToAscii = m_checkFoldToAscii || c == 's' || c == 'k';
        }
    } else {
        m_mode = Mode::FoldUnicode;
    }
}

qsizetype Needle::findBytes(QByteArrayView haystack, qsizetype from) const
{
    const auto *h = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *nd = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const qsizetype n = haystack.size();
    const qsizetype m = m_needle.size();
    if (m == 0 || n - from < m)
        return -1;
    const qsizetype last = n - m; // the last start a match can have

    const bool fold = m_mode == Mode::FoldBytes;
    // One table serves both encodings: an ASCII needle never meets a byte of
    // 0x80 and above that folds into ASCII, so the Latin-1 pairs do no harm.
    const FoldTable &table = latin1Fold;
    auto verify = [&](qsizetype pos) {
        if (!fold)
            return std::memcmp(h + pos, nd, size_t(m)) == 0;
        for (qsizetype j = 0; j < m; ++j) {
            if (table[h[pos + j]] != nd[j])
                return false;
        }
        return true;
    };

    if (!fold && m == 1) {
        const void *hit = std::memchr(h + from, nd[0], size_t(n - from));
        return hit ? static_cast<const unsigned char *>(hit) - h : -1;
    }

    const qsizetype p1 = m_probe1, p2 = m_probe2;
    const unsigned char a1 = m_probe1Bytes[0], b1 = m_probe1Bytes[1];
    const unsigned char a2 = m_probe2Bytes[0], b2 = m_probe2Bytes[1];
    qsizetype i = from;
#if defined(__SSE2__)
    // Compare sixteen candidate starts at once on the needle's two rarest
    // bytes; only starts that pass both are compared in full.
    const __m128i A1 = _mm_set1_epi8(char(a1)), B1 = _mm_set1_epi8(char(b1));
    const __m128i A2 = _mm_set1_epi8(char(a2)), B2 = _mm_set1_epi8(char(b2));
    for (; i + 15 <= last; i += 16) {
        const __m128i at1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i + p1));
        const __m128i at2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i + p2));
        const __m128i eq1 = _mm_or_si128(_mm_cmpeq_epi8(at1, A1), _mm_cmpeq_epi8(at1, B1));
        const __m128i eq2 = _mm_or_si128(_mm_cmpeq_epi8(at2, A2), _mm_cmpeq_epi8(at2, B2));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(eq1, eq2)));
        while (mask) {
            const qsizetype pos = i + __builtin_ctz(mask);
            if (verify(pos))
                return pos;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= last; ++i) {
        const unsigned char x = h[i + p1], y = h[i + p2];
        if ((x == a1 || x == b1) && (y == a2 || y == b2) && verify(i))
            return i;
    }
    return -1;
}

qsizetype Needle::findUnicode(QByteArrayView haystack, qsizetype from, qsizetype *length) const
{
    const auto *begin = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *end = begin + haystack.size();
    const auto *p = begin + from;
    const char32_t first = m_folded.front();
    while (p < end) {
        char32_t cp;
        const int len = decodeUtf8(p, end, &cp);
        if (foldCodePoint(cp) == first) {
            const unsigned char *q = p + len;
            size_t k = 1;
            for (; k < m_folded.size() && q < end; ++k) {
                char32_t next;
                const int l = decodeUtf8(q, end, &next);
                if (foldCodePoint(next) != m_folded[k])
                    break;
                q += l;
            }
            if (k == m_folded.size()) {
                *length = q - p;
                return p - begin;
            }
        }
        p += len;
    }
    return -1;
}

qsizetype Needle::findFrom(QByteArrayView haystack, qsizetype from, qsizetype *length) const
{
    if (m_mode == Mode::FoldUnicode)
        return findUnicode(haystack, from, length);
    *length = m_needle.size();
    return findBytes(haystack, from);
}

std::vector<Match> Needle::findAll(QByteArrayView haystack) const
{
    return findAll(haystack, m_checkFoldToAscii && holdsFoldToAscii(haystack));
}

std::vector<Match> Needle::findAll(QByteArrayView haystack, bool foldsOntoAscii) const
{
    std::vector<Match> matches;
    if (m_needle.isEmpty())
        return matches;
    const bool unicode = m_mode == Mode::FoldUnicode || (m_checkFoldToAscii && foldsOntoAscii);
    qsizetype from = 0;
    for (;;) {
        qsizetype length = 0;
        const qsizetype pos = unicode ? findUnicode(haystack, from, &length) : findFrom(haystack, from, &length);
        if (pos < 0)
            break;
        matches.push_back({pos, length});
        from = pos + length; // matches never overlap and inserted text is never searched
    }
    return matches;
}

bool Needle::occursIn(QByteArrayView haystack) const
{
    if (m_needle.isEmpty())
        return !haystack.isEmpty();
    qsizetype length = 0;
    if (m_mode == Mode::FoldUnicode || (m_checkFoldToAscii && holdsFoldToAscii(haystack)))
        return findUnicode(haystack, 0, &length) >= 0;
    return findFrom(haystack, 0, &length) >= 0;
}

QByteArray substitute(QByteArrayView content, const std::vector<Match> &matches, QByteArrayView replacement)
{
    qsizetype size = content.size();
    for (const Match &m : matches)
        size += replacement.size() - m.length;
    QByteArray out(size, Qt::Uninitialized);
    char *dst = out.data();
    // An empty view may hold a null pointer, and memcpy from null is
    // undefined even for no bytes (the fuzzer's sanitizer caught it).
    auto copy = [&dst](const char *from, qsizetype count) {
        if (count > 0)
            std::memcpy(dst, from, size_t(count));
        dst += count;
    };
    qsizetype from = 0;
    for (const Match &m : matches) {
        copy(content.data() + from, m.start - from);
        copy(replacement.data(), replacement.size());
        from = m.start + m.length;
    }
    copy(content.data() + from, content.size() - from);
    return out;
}

QByteArray substituteAll(QByteArrayView content, QByteArrayView find, QByteArrayView replacement,
                         bool caseSensitive, FileEncoding encoding)
{
    const Needle needle(find, caseSensitive, encoding);
    return substitute(content, needle.findAll(content), replacement);
}

} // namespace vexalo
