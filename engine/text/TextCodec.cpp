// SPDX-License-Identifier: MIT
#include "engine/text/TextCodec.h"

#include <QChar>

#include <algorithm>
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
            extra = 1;
            min = 0x80;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            min = 0x800;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            min = 0x10000;
            cp = c & 0x07;
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

// A lone surrogate has no form in UTF-8 or UTF-16.
bool hasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<FileEncoding> utf16ByteOrder(QByteArrayView start)
{
    if (start.size() < 2)
        return std::nullopt;
    const auto b0 = static_cast<unsigned char>(start[0]);
    const auto b1 = static_cast<unsigned char>(start[1]);
    if (b0 == 0xFE && b1 == 0xFF)
        return FileEncoding::Utf16BE;
    if (b0 == 0xFF && b1 == 0xFE) {
        // UTF-32 little-endian begins the same way; as UTF-16 it would begin
        // with a NUL character, which no UTF-16 text does.
        if (start.size() >= 4 && start[2] == 0 && start[3] == 0)
            return std::nullopt;
        return FileEncoding::Utf16LE;
    }
    return std::nullopt;
}

void Utf16Check::unit(char16_t u)
{
    if (m_pendingHigh) {
        m_pendingHigh = false;
        if (!QChar::isLowSurrogate(u)) {
            m_broken = true;
            return;
        }
    } else if (QChar::isHighSurrogate(u)) {
        m_pendingHigh = true;
    } else if (QChar::isLowSurrogate(u)) {
        m_broken = true;
    } else if (u == 0x017F || u == 0x212A) {
        m_foldsOntoAscii = true;
    }
}

void Utf16Check::feed(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype n = bytes.size();
    if (m_broken || n == 0)
        return;
    if (m_pendingByte >= 0) {
        const unsigned first = unsigned(m_pendingByte);
        unit(char16_t(m_bigEndian ? (first << 8) | p[0] : first | (p[0] << 8)));
        m_pendingByte = -1;
        ++p;
        --n;
    }
    const int high = m_bigEndian ? 0 : 1; // where a unit's high byte is
    qsizetype i = 0;
    for (; i + 2 <= n && !m_broken; i += 2) {
        // Only a high byte of 0x01, 0x21 or 0xD8-0xDF asks for a closer look.
        const unsigned char h = p[i + high];
        if (h != 0x01 && h != 0x21 && (h & 0xF8) != 0xD8 && !m_pendingHigh)
            continue;
        unit(char16_t((h << 8) | p[i + 1 - high]));
    }
    if (!m_broken && i < n)
        m_pendingByte = p[i];
}

TextFacts examineText(QByteArrayView bytes)
{
    TextFacts facts;
    if (const std::optional<FileEncoding> order = utf16ByteOrder(bytes)) {
        Utf16Check check(*order);
        check.feed(bytes);
        if (check.wellFormed()) {
            facts.encoding = *order;
            facts.foldsOntoAscii = check.foldsOntoAscii();
            return facts;
        }
    }
    facts.encoding =
        isValidUtf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &facts.foldsOntoAscii)
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

void TextExaminer::decideByteOrder(bool atEnd)
{
    // Four bytes tell UTF-16 little-endian from UTF-32; fewer do at the end.
    if (m_orderKnown || (m_head.size() < 4 && !atEnd))
        return;
    m_orderKnown = true;
    if (const std::optional<FileEncoding> order = utf16ByteOrder(m_head)) {
        m_utf16.emplace(*order);
        m_utf16->feed(m_head);
    }
    m_head.clear();
}

void TextExaminer::feed(QByteArrayView bytes)
{
    if (!m_orderKnown) {
        const qsizetype take = std::min<qsizetype>(4 - m_head.size(), bytes.size());
        m_head += bytes.first(take);
        decideByteOrder(false);
        if (m_utf16)
            m_utf16->feed(bytes.sliced(take));
    } else if (m_utf16 && !m_utf16->broken()) {
        m_utf16->feed(bytes);
    }
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
    // Until the first four bytes are in, a UTF-16 mark counts as one.
    if (!m_orderKnown) {
        if (const std::optional<FileEncoding> order = utf16ByteOrder(m_head)) {
            facts.encoding = *order;
            return facts;
        }
    } else if (m_utf16 && !m_utf16->broken()) {
        facts.encoding = m_utf16->byteOrder();
        facts.foldsOntoAscii = m_utf16->foldsOntoAscii();
        return facts;
    }
    facts.encoding = m_invalid ? FileEncoding::Latin1 : FileEncoding::Utf8;
    facts.foldsOntoAscii = !m_invalid && m_foldsOntoAscii;
    return facts;
}

TextFacts TextExaminer::finish()
{
    decideByteOrder(true);
    if (m_pendingSize > 0)
        m_invalid = true;
    m_pendingSize = 0;
    if (m_utf16 && !m_utf16->wellFormed())
        m_utf16.reset();
    return facts();
}

FileEncoding detectEncoding(QByteArrayView bytes)
{
    return examineText(bytes).encoding;
}

QByteArrayView byteOrderMark(QByteArrayView bytes, FileEncoding encoding)
{
    QByteArrayView mark;
    switch (encoding) {
    case FileEncoding::Utf8: mark = QByteArrayView("\xEF\xBB\xBF", 3); break;
    case FileEncoding::Utf16LE: mark = QByteArrayView("\xFF\xFE", 2); break;
    case FileEncoding::Utf16BE: mark = QByteArrayView("\xFE\xFF", 2); break;
    case FileEncoding::Latin1: return {};
    }
    return bytes.startsWith(mark) ? bytes.first(mark.size()) : QByteArrayView();
}

QString encodingName(FileEncoding encoding)
{
    switch (encoding) {
    case FileEncoding::Utf8: return QStringLiteral("UTF-8");
    case FileEncoding::Latin1: return QStringLiteral("Latin-1");
    case FileEncoding::Utf16LE: return QStringLiteral("UTF-16LE");
    case FileEncoding::Utf16BE: return QStringLiteral("UTF-16BE");
    }
    return {};
}

QString decodeText(QByteArrayView bytes, FileEncoding encoding)
{
    if (encoding == FileEncoding::Latin1)
        return QString::fromLatin1(bytes);
    // fromUtf8() leaves out a byte-order mark by itself.
    if (encoding == FileEncoding::Utf8)
        return QString::fromUtf8(bytes);
    bytes = bytes.sliced(byteOrderMark(bytes, encoding).size());
    const bool bigEndian = encoding == FileEncoding::Utf16BE;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    QString text(bytes.size() / 2, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i + 2 <= bytes.size(); i += 2)
        *out++ = QChar(char16_t(bigEndian ? (p[i] << 8) | p[i + 1] : p[i] | (p[i + 1] << 8)));
    if (bytes.size() % 2) // not UTF-16 after all: the stray byte is not lost from sight
        text += QChar::ReplacementCharacter;
    return text;
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
    // A lone surrogate (pasted from a broken source) has no UTF-8 or UTF-16
    // form; writing a replacement character instead would change the text
    // silently.
    if (hasLoneSurrogate(text))
        return std::nullopt;
    if (encoding == FileEncoding::Utf8)
        return text.toUtf8();
    const bool bigEndian = encoding == FileEncoding::Utf16BE;
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *out++ = char(bigEndian ? u >> 8 : u & 0xFF);
        *out++ = char(bigEndian ? u & 0xFF : u >> 8);
    }
    return bytes;
}

} // namespace vexalo
