// SPDX-License-Identifier: MIT
#include "SubstitutionCheck.h"

#include "engine/text/Substitution.h"
#include "engine/text/TextCodec.h"

#include <QChar>
#include <QStringList>

#include <cstring>
#include <vector>

namespace vexalo::check {

namespace {

// The reference is written for plainness, not speed: one candidate start
// after another, no vector compares, no fast paths chosen by the needle.

unsigned char foldLatin1(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 32);
    return c;
}

struct CodePoint {
    char32_t value;
    qsizetype offset; // of its first byte
};

// Only called on valid UTF-8 (detectEncoding said so).
std::vector<CodePoint> decode(QByteArrayView bytes)
{
    std::vector<CodePoint> out;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const unsigned char c = p[i];
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t v = len == 1 ? c : c & (0xFF >> (len + 1));
        for (int k = 1; k < len && i + k < bytes.size(); ++k)
            v = (v << 6) | (p[i + k] & 0x3F);
        out.push_back({v, i});
        i += len;
    }
    out.push_back({0, bytes.size()}); // the end, for lengths
    return out;
}

// Only called on well-formed UTF-16 (detectEncoding said so), mark included.
std::vector<CodePoint> decodeUtf16(QByteArrayView bytes, bool bigEndian)
{
    std::vector<CodePoint> out;
    auto unit = [&](qsizetype i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return char16_t(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (qsizetype i = 0; i + 1 < bytes.size();) {
        const char16_t u = unit(i);
        if (QChar::isHighSurrogate(u) && i + 3 < bytes.size()) {
            out.push_back({QChar::surrogateToUcs4(u, unit(i + 2)), i});
            i += 4;
        } else {
            out.push_back({u, i});
            i += 2;
        }
    }
    out.push_back({0, bytes.size()});
    return out;
}

// step 2: UTF-16, where a match starts only at a unit.
std::vector<Match> referenceBytes(QByteArrayView content, QByteArrayView find, bool fold, qsizetype step = 1)
{
    std::vector<Match> out;
    const qsizetype n = content.size(), m = find.size();
    if (m == 0)
        return out;
    auto same = [&](unsigned char a, unsigned char b) { return fold ? foldLatin1(a) == foldLatin1(b) : a == b; };
    qsizetype i = 0;
    while (i + m <= n) {
        qsizetype k = 0;
        while (k < m && same(static_cast<unsigned char>(content[i + k]), static_cast<unsigned char>(find[k])))
            ++k;
        if (k == m) {
            out.push_back({i, m});
            i += m;
        } else {
            i += step;
        }
    }
    return out;
}

std::vector<Match> referenceUnicode(QByteArrayView content, QByteArrayView find, FileEncoding encoding)
{
    std::vector<Match> out;
    auto decoded = [&](QByteArrayView bytes) {
        return isUtf16(encoding) ? decodeUtf16(bytes, encoding == FileEncoding::Utf16BE) : decode(bytes);
    };
    const std::vector<CodePoint> text = decoded(content);
    std::vector<CodePoint> needle = decoded(find);
    needle.pop_back();
    if (needle.empty())
        return out;
    const size_t n = text.size() - 1, m = needle.size();
    size_t i = 0;
    while (i + m <= n) {
        size_t k = 0;
        while (k < m && QChar::toCaseFolded(text[i + k].value) == QChar::toCaseFolded(needle[k].value))
            ++k;
        if (k == m) {
            out.push_back({text[i].offset, text[i + m].offset - text[i].offset});
            i += m;
        } else {
            ++i;
        }
    }
    return out;
}

QString describe(const std::vector<Match> &matches)
{
    QStringList parts;
    for (const Match &m : matches)
        parts << QStringLiteral("%1+%2").arg(m.start).arg(m.length);
    return QLatin1Char('[') + parts.join(QLatin1Char(' ')) + QLatin1Char(']');
}

QString typedText(const QByteArray &bytes)
{
    return decodeText(bytes, detectEncoding(bytes));
}

} // namespace

SubstitutionCase caseFromBytes(QByteArrayView data)
{
    SubstitutionCase c;
    if (data.size() < 3)
        return c;
    c.caseSensitive = (static_cast<unsigned char>(data[0]) & 1) != 0;
    qsizetype rest = data.size() - 3;
    const qsizetype findLength = qMin<qsizetype>(static_cast<unsigned char>(data[1]) % 32, rest);
    rest -= findLength;
    const qsizetype replaceLength = qMin<qsizetype>(static_cast<unsigned char>(data[2]) % 32, rest);
    c.find = data.sliced(3, findLength).toByteArray();
    c.replace = data.sliced(3 + findLength, replaceLength).toByteArray();
    c.content = data.sliced(3 + findLength + replaceLength).toByteArray();
    return c;
}

QByteArray bytesFromCase(const SubstitutionCase &c)
{
    QByteArray out;
    out.append(char(c.caseSensitive ? 1 : 0));
    out.append(char(c.find.size()));
    out.append(char(c.replace.size()));
    return out + c.find + c.replace + c.content;
}

QString checkSubstitution(const SubstitutionCase &c)
{
    const FileEncoding encoding = detectEncoding(c.content);
    const std::optional<QByteArray> find = encodeText(typedText(c.find), encoding);
    if (!find)
        return {}; // the file cannot hold the text, so it does not occur: nothing to search
    const QByteArray replace = encodeText(typedText(c.replace), encoding).value_or(QByteArray());

    const Needle needle(*find, c.caseSensitive, encoding);
    const std::vector<Match> matches = needle.findAll(c.content);
    const std::vector<Match> expected = c.caseSensitive || find->isEmpty()
        ? referenceBytes(c.content, *find, false, isUtf16(encoding) ? 2 : 1)
        : encoding == FileEncoding::Latin1 ? referenceBytes(c.content, *find, true)
                                           : referenceUnicode(c.content, *find, encoding);

    bool same = matches.size() == expected.size();
    for (size_t i = 0; same && i < matches.size(); ++i)
        same = matches[i].start == expected[i].start && matches[i].length == expected[i].length;
    if (!same)
        return QStringLiteral("matches %1, reference %2").arg(describe(matches), describe(expected));

    // The found test agrees with the search; an empty find text is found in
    // any content that is not empty.
    const bool found = needle.occursIn(c.content);
    if (found != (find->isEmpty() ? !c.content.isEmpty() : !matches.empty()))
        return QStringLiteral("occursIn says %1 with %2 matches").arg(found).arg(matches.size());

    const QByteArray out = substitute(c.content, matches, replace);
    if (matches.empty() && out != c.content)
        return QStringLiteral("no match, yet the bytes changed");
    qsizetype expectedSize = c.content.size();
    for (const Match &m : matches)
        expectedSize += replace.size() - m.length;
    if (c.caseSensitive
        && expectedSize != c.content.size() + qsizetype(matches.size()) * (replace.size() - find->size()))
        return QStringLiteral("an exact match is not as long as the find text");
    if (out.size() != expectedSize)
        return QStringLiteral("output length %1, expected %2").arg(out.size()).arg(expectedSize);

    // Built again the plain way: the stretches between matches, in order.
    QByteArray rebuilt;
    qsizetype from = 0;
    for (const Match &m : matches) {
        rebuilt += QByteArrayView(c.content).sliced(from, m.start - from);
        rebuilt += replace;
        from = m.start + m.length;
    }
    rebuilt += QByteArrayView(c.content).sliced(from);
    if (out != rebuilt)
        return QStringLiteral("substituted bytes differ from the plain rebuild");
    if (substituteAll(c.content, *find, replace, c.caseSensitive, encoding) != out)
        return QStringLiteral("substituteAll differs from findAll and substitute");
    return {};
}

} // namespace vexalo::check
