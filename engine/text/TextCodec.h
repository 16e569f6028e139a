// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace vexalo {

// A file that begins with a UTF-16 byte-order mark (FF FE little-endian, FE FF
// big-endian) and is well-formed UTF-16 after it is UTF-16 in that byte
// order. Any other file is UTF-8 when its bytes are valid UTF-8 (plain ASCII
// included), otherwise Latin-1, where every byte is one character and
// round-trips.
enum class FileEncoding { Utf8, Latin1, Utf16LE, Utf16BE };
inline constexpr FileEncoding allFileEncodings[] = {FileEncoding::Utf8, FileEncoding::Latin1, FileEncoding::Utf16LE,
                                                    FileEncoding::Utf16BE};
constexpr bool isUtf16(FileEncoding encoding)
{
    return encoding == FileEncoding::Utf16LE || encoding == FileEncoding::Utf16BE;
}

FileEncoding detectEncoding(QByteArrayView bytes);

struct TextFacts {
    FileEncoding encoding = FileEncoding::Utf8;
    // A UTF-8 or UTF-16 text holding U+017F or U+212A, the two characters
    // outside ASCII whose case folding is an ASCII letter.
    bool foldsOntoAscii = false;
};
// The encoding and what a case-insensitive search needs to know, in one pass.
TextFacts examineText(QByteArrayView bytes);

// The UTF-16 byte order a file's first bytes announce: FF FE or FE FF. FF FE
// 00 00 is the mark of UTF-32 little-endian and announces none.
std::optional<FileEncoding> utf16ByteOrder(QByteArrayView start);

// Whether bytes are well-formed UTF-16 in one byte order, fed in blocks of
// any size and split anywhere, so a reader in blocks can tell without holding
// the file: an even count of bytes, every high surrogate followed by a low
// one and no low surrogate without a high one before it.
class Utf16Check {
public:
    explicit Utf16Check(FileEncoding byteOrder)
        : m_bigEndian(byteOrder == FileEncoding::Utf16BE)
    {
    }
    void feed(QByteArrayView bytes);
    // The bytes fed so far, taken as a whole file.
    bool wellFormed() const { return !m_broken && m_pendingByte < 0 && !m_pendingHigh; }
    // Broken whatever may follow: a reader may stop feeding.
    bool broken() const { return m_broken; }
    bool foldsOntoAscii() const { return m_foldsOntoAscii; }
    FileEncoding byteOrder() const { return m_bigEndian ? FileEncoding::Utf16BE : FileEncoding::Utf16LE; }

private:
    void unit(char16_t u);
    bool m_bigEndian;
    bool m_broken = false;
    bool m_pendingHigh = false;
    bool m_foldsOntoAscii = false;
    int m_pendingByte = -1; // the first byte of a unit split between two blocks
};

// The byte-order mark the bytes begin with in this encoding: EF BB BF for
// UTF-8, FF FE or FE FF for UTF-16, none for Latin-1. decodeText() leaves it
// out of the text and encodeText() never writes one, so a caller that writes
// a whole file puts it back in front.
QByteArrayView byteOrderMark(QByteArrayView bytes, FileEncoding encoding);

// examineText for content read in blocks: fed every byte in order, it ends
// with the facts examineText gives for all of them together.
class TextExaminer {
public:
    void feed(QByteArrayView bytes);
    // The facts of the bytes so far, as if the content went on validly.
    TextFacts facts() const;
    // The facts of all the bytes fed; a character cut off at the end is
    // not UTF-8, a unit cut off not UTF-16.
    TextFacts finish();

private:
    void decideByteOrder(bool atEnd);
    bool m_invalid = false;
    bool m_foldsOntoAscii = false;
    unsigned char m_pending[4] = {};
    int m_pendingSize = 0; // the start of a character the next block ends
    // The first bytes, until they tell whether a UTF-16 mark begins the
    // content; then the check of the UTF-16 after it, if one does.
    QByteArray m_head;
    bool m_orderKnown = false;
    std::optional<Utf16Check> m_utf16;
};
QString encodingName(FileEncoding encoding);
QString decodeText(QByteArrayView bytes, FileEncoding encoding);
// Empty optional when the text holds a character the encoding cannot carry:
// for Latin-1 anything above U+00FF, for the others a lone surrogate.
std::optional<QByteArray> encodeText(const QString &text, FileEncoding encoding);

} // namespace vexalo
