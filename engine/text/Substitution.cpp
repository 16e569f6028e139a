// SPDX-License-Identifier: MIT
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

// For a folded byte, the other byte that folds onto it (itself if none):
// looked up per needle byte, so choosing the probes stays linear in the
// needle's length, which a find text read from a file can make large.
constexpr FoldTable makeOtherCase()
{
    FoldTable t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 256; ++i) {
        if (latin1Fold[i] != i)
            t[latin1Fold[i]] = static_cast<unsigned char>(i);
    }
    return t;
}

constexpr FoldTable otherCase = makeOtherCase();

// How often a byte turns up in ordinary text, roughly, in parts per
// thousand: a scan that first looks for the needle's rarest bytes meets far
// fewer false candidates than one that looks for its first and last.
constexpr std::array<unsigned char, 256> makeByteFrequency()
{
    std::array<unsigned char, 256> f{};
    const char *lower = "etaoinsrhldcumfpgwybvkxjqz";
    const unsigned char lowerFreq[] = {90, 65, 60, 60, 55, 55, 50, 48, 40, 32, 30, 25, 22,
                                       20, 18, 15, 15, 14, 14, 12, 8,  6,  2,  1,  1,  1};
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
    if (m_mode != Mode::FoldUnicode) {
        chooseProbes();
        // Two-Way knows nothing of units: in UTF-16 content that defeats
        // the probes goes to the search by code points instead.
        if (!m_utf16)
            prepareTwoWay();
    }
    if (m_mode == Mode::FoldUnicode || m_checkFoldToAscii || m_utf16)
        m_borders = std::make_shared<Borders>();
    if (m_mode == Mode::FoldUnicode)
        borders();
    // A character is at most four bytes, and the search by code points steps
    // over at most four bytes per character even where the bytes are not
    // valid UTF-8 or UTF-16. In UTF-16 the two characters folding onto ASCII
    // letters take one unit, as the letters do.
    if (m_mode == Mode::FoldUnicode)
        m_maxMatchBytes = 4 * qsizetype(m_folded.size());
    else
        m_maxMatchBytes = m_checkFoldToAscii && !m_utf16 ? 4 * m_needle.size() : m_needle.size();
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
        out[1] = folding ? otherCase[b] : b;
    };
    // By byte value, once: a find text read from a file may be megabytes long.
    std::array<int, 256> costOf{};
    for (int b = 0; b < 256; ++b) {
        unsigned char v[2];
        variants(static_cast<unsigned char>(b), v);
        costOf[size_t(b)] = int(byteFrequency[v[0]]) + (v[1] != v[0] ? int(byteFrequency[v[1]]) : 0);
    }
    auto cost = [&](qsizetype j) { return costOf[static_cast<unsigned char>(m_needle[j])]; };
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

// An ASCII needle folds byte by byte; an 's' or a 'k' in it may also be met
// as one of the two characters outside ASCII that fold onto them.
void Needle::foldAscii()
{
    m_mode = Mode::FoldBytes;
    for (char &c : m_needle) {
        c = static_cast<char>(asciiFold[static_cast<unsigned char>(c)]);
        m_checkFoldToAscii = m_checkFoldToAscii || c == 's' || c == 'k';
    }
}

// The critical factorization of Crochemore and Perrin's Two-Way search, on
// the folded needle: two maximal suffixes, one per order of the bytes; the
// later one starts the right half.
void Needle::prepareTwoWay()
{
    const auto *nd = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const qsizetype m = m_needle.size();
    auto maximalSuffix = [&](bool reversed, qsizetype *period) {
        qsizetype suffix = -1, j = 0, k = 1, p = 1;
        while (j + k < m) {
            const unsigned char a = nd[j + k], b = nd[suffix + k];
            if (reversed ? b < a : a < b) {
                j += k;
                k = 1;
                p = j - suffix;
            } else if (a == b) {
                if (k != p) {
                    ++k;
                } else {
                    j += p;
                    k = 1;
                }
            } else {
                suffix = j++;
                k = p = 1;
            }
        }
        *period = p;
        return suffix;
    };
    qsizetype period = 1, periodReversed = 1;
    const qsizetype suffix = maximalSuffix(false, &period);
    const qsizetype suffixReversed = maximalSuffix(true, &periodReversed);
    if (suffixReversed < suffix) {
        m_critical = suffix + 1;
        m_period = period;
    } else {
        m_critical = suffixReversed + 1;
        m_period = periodReversed;
    }
    m_periodic = m_critical > 0 ? std::memcmp(nd, nd + m_period, size_t(m_critical)) == 0 : true;
    if (!m_periodic)
        m_period = std::max(m_critical, m - m_critical) + 1;
    for (qsizetype &shift : m_lastAt)
        shift = 0;
    for (qsizetype i = 0; i < m; ++i)
        m_lastAt[nd[i]] = i + 1;
}

const Needle::Borders &Needle::borders() const
{
    std::call_once(m_borders->made, [this] { prepareBorders(*m_borders); });
    return *m_borders;
}

void Needle::prepareBorders(Borders &out) const
{
    const qsizetype count = m_mode == Mode::FoldUnicode ? qsizetype(m_folded.size())
        : m_utf16                                       ? m_needle.size() / 2
                                                        : m_needle.size();
    auto build = [&](auto &borders, auto symbol) {
        using Border = typename std::decay_t<decltype(borders)>::value_type;
        borders.assign(size_t(count), 0);
        Border k = 0;
        for (qsizetype q = 1; q < count; ++q) {
            while (k > 0 && symbol(q) != symbol(k))
                k = borders[size_t(k - 1)];
            if (symbol(q) == symbol(k))
                ++k;
            borders[size_t(q)] = k;
        }
    };
    auto withSymbols = [&](auto &borders) {
        if (m_mode == Mode::FoldUnicode)
            build(borders, [this](qsizetype k) { return m_folded[size_t(k)]; });
        else if (m_utf16)
            build(borders, [this](qsizetype k) { return unitSymbol(k); });
        else
            build(borders, [this](qsizetype k) { return char32_t(static_cast<unsigned char>(m_needle[k])); });
    };
    if (count <= qsizetype(UINT32_MAX))
        withSymbols(out.shortBorders);
    else
        withSymbols(out.longBorders);
}

// One piece, longer than most: it is the loop every byte of every file goes
// through, and its parts (the probes, sixteen starts at once, the tail, the
// way out to Two-Way) share the state of one scan.
qsizetype Needle::findBytes(QByteArrayView haystack, qsizetype from, Scan &scan) const
{
    const auto *h = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *nd = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const qsizetype n = haystack.size();
    const qsizetype m = m_needle.size();
    // In UTF-16 a candidate start is a unit's first byte: every other byte.
    const qsizetype step = m_utf16 ? 2 : 1;
    if (m_utf16 && (from & 1))
        ++from;
    if (m == 0 || n - from < m)
        return -1;
    const qsizetype last = n - m; // the last start a match can have

    const bool fold = m_mode == Mode::FoldBytes;
    if (!fold && m == 1 && !m_utf16) {
        const void *hit = std::memchr(h + from, nd[0], size_t(n - from));
        return hit ? static_cast<const unsigned char *>(hit) - h : -1;
    }
    // The linear search: Two-Way on bytes, or Knuth, Morris and Pratt unit
    // by unit in UTF-16, where a match is as long as the needle.
    auto linear = [&](qsizetype at) {
        if (m_utf16) {
            qsizetype length = 0;
            return findUnicode(haystack, at, &length);
        }
        return fold ? findTwoWay<true>(haystack, at) : findTwoWay<false>(haystack, at);
    };
    if (scan.linear)
        return linear(from);

    // One table serves both encodings: an ASCII needle never meets a byte of
    // 0x80 and above that folds into ASCII, so the Latin-1 pairs do no harm.
    const FoldTable &table = latin1Fold;
    // How many bytes agree before the first difference, counted so that
    // content passing the probes again and again is noticed.
    auto agreeing = [&](qsizetype pos) {
        qsizetype j = 0;
        if (!fold) {
            for (; j + 8 <= m; j += 8) {
                quint64 a, b;
                std::memcpy(&a, h + pos + j, 8);
                std::memcpy(&b, nd + j, 8);
                if (a != b)
                    return j + (__builtin_ctzll(a ^ b) >> 3); // little-endian; elsewhere only the count is off
            }
            while (j < m && h[pos + j] == nd[j])
                ++j;
        } else {
            while (j < m && table[h[pos + j]] == nd[j])
                ++j;
        }
        return j;
    };
    // On ordinary text a full compare is rare and short. Content made of the
    // needle's own pieces ("aaa...ab" in "aaaa...") passes the probes at every
    // byte and costs up to the needle's length there: past a few compared
    // bytes per byte scanned, the rest of the content goes to Two-Way, which
    // is linear whatever the content.
    auto verify = [&](qsizetype pos) {
        const qsizetype agree = agreeing(pos);
        scan.compared += agree + 1;
        return agree == m;
    };
    auto tooCostly = [&](qsizetype pos) { return scan.compared > 3 * pos + 4096; };
    auto rest = [&](qsizetype pos) {
        scan.linear = true;
        return linear(pos);
    };

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
        // i stays even in UTF-16: the even bits are the units' starts.
        if (m_utf16)
            mask &= 0x5555u;
        while (mask) {
            const qsizetype pos = i + __builtin_ctz(mask);
            if (verify(pos))
                return pos;
            if (tooCostly(pos))
                return rest(pos + step);
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= last; i += step) {
        const unsigned char x = h[i + p1], y = h[i + p2];
        if ((x == a1 || x == b1) && (y == a2 || y == b2)) {
            if (verify(i))
                return i;
            if (tooCostly(i))
                return rest(i + step);
        }
    }
    return -1;
}

// Two-Way: compares the right half of the needle left to right, then the
// left half, and shifts by what the critical factorization allows; a
// periodic needle remembers how much of its period already matched. At most
// about two compares per byte of content, and no memory beyond the needle's.
template <bool Fold>
qsizetype Needle::findTwoWay(QByteArrayView haystack, qsizetype from) const
{
    const auto *h = reinterpret_cast<const unsigned char *>(haystack.data());
    const auto *nd = reinterpret_cast<const unsigned char *>(m_needle.constData());
    const qsizetype n = haystack.size();
    const qsizetype m = m_needle.size();
    auto at = [h](qsizetype k) { return Fold ? latin1Fold[h[k]] : h[k]; };
    const qsizetype critical = m_critical, period = m_period;
    qsizetype j = from;
    if (m_periodic) {
        qsizetype memory = 0;
        while (n - j >= m) {
            qsizetype shift = m - m_lastAt[at(j + m - 1)];
            if (shift > 0) {
                // Past a mismatch in the last byte, the period cannot match
                // again before the bytes already known to match end.
                if (memory && shift < period)
                    shift = m - period;
                memory = 0;
                j += shift;
                continue;
            }
            qsizetype i = std::max(critical, memory);
            while (i < m - 1 && nd[i] == at(i + j))
                ++i;
            if (i >= m - 1) {
                i = critical - 1;
                while (memory < i + 1 && nd[i] == at(i + j))
                    --i;
                if (i + 1 < memory + 1)
                    return j;
                j += period;
                memory = m - period;
            } else {
                j += i - critical + 1;
                memory = 0;
            }
        }
    } else {
        while (n - j >= m) {
            const qsizetype shift = m - m_lastAt[at(j + m - 1)];
            if (shift > 0) {
                j += shift;
                continue;
            }
            qsizetype i = critical;
            while (i < m - 1 && nd[i] == at(i + j))
                ++i;
            if (i >= m - 1) {
                i = critical - 1;
                while (i >= 0 && nd[i] == at(i + j))
                    --i;
                if (i < 0)
                    return j;
                j += period;
            } else {
                j += i - critical + 1;
            }
        }
    }
    return -1;
}

std::vector<Match> Needle::findAll(QByteArrayView haystack) const
{
    return findAll(haystack, m_checkFoldToAscii && holdsFoldToAsciiIn(haystack));
}

std::vector<Match> Needle::findAll(QByteArrayView haystack, bool foldsOntoAscii) const
{
    return findAll(haystack, foldsOntoAscii, 0);
}

std::vector<Match> Needle::findAll(QByteArrayView haystack, bool foldsOntoAscii, qsizetype from) const
{
    std::vector<Match> matches;
    if (m_needle.isEmpty())
        return matches;
    const bool unicode = searchesUnicode(foldsOntoAscii);
    Scan scan;
    for (;;) {
        qsizetype length = m_needle.size();
        const qsizetype pos = unicode ? findUnicode(haystack, from, &length) : findBytes(haystack, from, scan);
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
    if (searchesUnicode(m_checkFoldToAscii && holdsFoldToAsciiIn(haystack)))
        return findUnicode(haystack, 0, &length) >= 0;
    Scan scan;
    return findBytes(haystack, 0, scan) >= 0;
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

QByteArray substituteAll(QByteArrayView content, QByteArrayView find, QByteArrayView replacement, bool caseSensitive,
                         FileEncoding encoding)
{
    const Needle needle(find, caseSensitive, encoding);
    return substitute(content, needle.findAll(content), replacement);
}

} // namespace vexalo
