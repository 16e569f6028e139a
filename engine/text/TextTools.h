// SPDX-License-Identifier: MIT
#pragma once

#include "engine/text/TextCodec.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace vexalo {

// Removes trailing line breaks as the platform types them: whole CR LF pairs,
// and on LF platforms single LF characters too. A lone CR stays.
QString trimTrailingBreaks(QString text);

// How a file's lines end. CrLf when the file has at least one CR LF and every
// LF in it follows a CR; Lf for every other file: LF files, files that mix the
// two, and files without a line break. In UTF-16, CR and LF are code units
// in the encoding's byte order, at even offsets from the start of the bytes.
enum class LineBreaks { Lf, CrLf };
LineBreaks lineBreaksOf(QByteArrayView bytes, FileEncoding encoding);
// lineBreaksOf for content read in blocks, fed every byte in order; it
// follows the rule both on bytes and, for content that begins with a UTF-16
// mark, on the units of that byte order, so the style can be asked for the
// encoding found in the end.
class LineBreakExaminer {
public:
    void feed(QByteArrayView bytes);
    LineBreaks style(FileEncoding encoding) const;

private:
    void feedUnits(QByteArrayView bytes);
    bool m_crLf = false;
    bool m_lf = false; // an LF without a CR: Lf, whatever follows
    bool m_endsInCr = false;
    // The same on UTF-16 units, when the first two bytes are a mark.
    QByteArray m_head;
    bool m_units = false;
    bool m_bigEndian = false;
    int m_pendingByte = -1;
    bool m_unitCrLf = false;
    bool m_unitLf = false;
    bool m_unitEndsInCr = false;
};

// The text with each line break (LF, or a CR LF pair) written as the style
// writes it. A lone CR is not a line break and stays.
QString withLineBreaks(const QString &text, LineBreaks style);

// The five-entry folder history, newest first: everything moves back one
// place, the oldest drops off, the new folder goes first. No de-duplication.
void recordFolder(QStringList &history, const QString &folder);

// Joins a folder and a plain name without doubling the separator.
QString joinPath(const QString &folder, const QString &name);

} // namespace vexalo
