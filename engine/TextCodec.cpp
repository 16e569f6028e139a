// SPDX-License-Identifier: MIT
#include "TextCodec.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexalo {

namespace {

bool isValidUtf8(const unsigned char *p, qsizetype n, bool *foldsOntoAscii)
{
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Plain ASCII is skipped 64 bytes at a time: the check runs over every
        // byte of every file, so it must cost far less than reading them.
        if (i + 64 <= n) {
            const auto *v = reinterpret_cast<const __m128i *>(p + i);
            const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                             _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
            if (_mm_movemask_epi8(any) == 0) {
                i += 64;
                continue;
            }
        }
#endif
        // Most text is ASCII: check eight bytes at a time.
        if (i + 8 <= n) {
            quint64 chunk;
            std::memcpy(&chunk, p + i, 8);
            if ((chunk & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t min;
        char32_t cp;
        if ((c & 0xE0) == 0xC0) {
            extra = 1; min = 0x80; cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2; min = 0x800; cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3; min = 0x10000; cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) // truncated sequence at the end
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char d = p[i + k];
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        // Long s and the Kelvin sign fold onto s and k: noted here, on the
        // one pass over every byte, so a search need not look for them again.
        if (cp == 0x017F || cp == 0x212A)
            *foldsOntoAscii = true;
        i += extra + 1;
    }
    return true;
}

} // namespace

TextFacts examineText(QByteArrayView bytes)
{
    TextFacts facts;
    facts.encoding = isValidUtf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                 &facts.foldsOntoAscii)
        ? FileEncoding::Utf8
        : FileEncoding::Latin1;
    if (facts.encoding == FileEncoding::Latin1)
        facts.foldsOntoAscii = false;
    return facts;
}

namespace {

// The bytes of the character a lead byte begins; 0 for one no character begins with.
int sequenceLength(unsigned char c)
{
    return (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
}

} // namespace

void TextExaminer::feed(QByteArrayView bytes)
{
    if (m_invalid)
        return;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    if (m_pendingSize > 0) {
        const int need = sequenceLength(m_pending[0]);
        while (m_pendingSize < need && i < n)
            m_pending[m_pendingSize++] = p[i++];
        if (m_pendingSize < need)
            return;
        m_pendingSize = 0;
        if (!isValidUtf8(m_pending, need, &m_foldsOntoAscii)) {
            m_invalid = true;
            return;
        }
    }
    // A character the block cuts off waits for the next block.
    qsizetype end = n;
    for (qsizetype j = n - 1; j >= i && j >= n - 3; --j) {
        if (p[j] < 0x80)
            break;
        if (p[j] >= 0xC0) {
            const int length = sequenceLength(p[j]);
            if (length > 0 && j + length > n)
                end = j;
            break;
        }
    }
    if (!isValidUtf8(p + i, end - i, &m_foldsOntoAscii)) {
        m_invalid = true;
        return;
    }
    m_pendingSize = int(n - end);
    std::memcpy(m_pending, p + end, size_t(m_pendingSize));
}

TextFacts TextExaminer::facts() const
{
    TextFacts facts;
    facts.encoding = m_invalid ? FileEncoding::Latin1 : FileEncoding::Utf8;
    facts.foldsOntoAscii = !m_invalid && m_foldsOntoAscii;
    return facts;
}

TextFacts TextExaminer::finish()
{
    if (m_pendingSize > 0)
        m_invalid = true;
    m_pendingSize = 0;
    return facts();
}

FileEncoding detectEncoding(QByteArrayView bytes)
{
    return examineText(bytes).encoding;
}

QString encodingName(FileEncoding encoding)
{
    return encoding == FileEncoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("Latin-1");
}

QString decodeText(QByteArrayView bytes, FileEncoding encoding)
{
    if (encoding == FileEncoding::Utf8)
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

std::optional<QByteArray> encodeText(const QString &text, FileEncoding encoding)
{
    if (encoding == FileEncoding::Latin1) {
        for (QChar c : text) {
            if (c.unicode() > 0xFF)
                return std::nullopt;
        }
        return text.toLatin1();
    }
    // A lone surrogate (pasted from a broken source) has no UTF-8 form; writing
    // a replacement character instead would change the text silently.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return std::nullopt;
            ++i;
        } else if (c.isLowSurrogate()) {
            return std::nullopt;
        }
    }
    return text.toUtf8();
}

} // namespace vexalo
