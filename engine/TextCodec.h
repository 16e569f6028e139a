// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace vexalo {

// A file is UTF-8 when its bytes are valid UTF-8 (plain ASCII included),
// otherwise Latin-1, where every byte is one character and round-trips.
enum class FileEncoding { Utf8, Latin1 };

FileEncoding detectEncoding(QByteArrayView bytes);

struct TextFacts {
    FileEncoding encoding = FileEncoding::Utf8;
    // A UTF-8 text holding U+017F or U+212A, the two characters outside ASCII
    // whose case folding is an ASCII letter.
    bool foldsOntoAscii = false;
};
// The encoding and what a case-insensitive search needs to know, in one pass.
TextFacts examineText(QByteArrayView bytes);
// examineText for content read in blocks: fed every byte in order, it ends
// with the facts examineText gives for all of them together.
class TextExaminer {
public:
    void feed(QByteArrayView bytes);
    // The facts of the bytes so far, as if the content went on validly.
    TextFacts facts() const;
    // The facts of all the bytes fed; a character cut off at the end is
    // not UTF-8.
    TextFacts finish();

private:
    bool m_invalid = false;
    bool m_foldsOntoAscii = false;
    unsigned char m_pending[4] = {};
    int m_pendingSize = 0; // the start of a character the next block ends
};
QString encodingName(FileEncoding encoding);
QString decodeText(QByteArrayView bytes, FileEncoding encoding);
// Empty optional when the text holds a character the encoding cannot carry.
std::optional<QByteArray> encodeText(const QString &text, FileEncoding encoding);

} // namespace vexalo
