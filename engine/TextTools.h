// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace vexalo {

// Removes trailing line breaks as the platform types them: whole CR LF pairs,
// and on LF platforms single LF characters too. A lone CR stays.
QString trimTrailingBreaks(QString text);

// How a file's lines end. CrLf when the file has at least one CR LF and every
// LF in it follows a CR; Lf for every other file: LF files, files that mix the
// two, and files without a line break. Read on the bytes of an encoding in
// which CR and LF are single bytes (UTF-8, Latin-1).
enum class LineBreaks { Lf, CrLf };
LineBreaks lineBreaksOf(QByteArrayView bytes);
// lineBreaksOf for content read in blocks, fed every byte in order.
class LineBreakExaminer {
public:
    void feed(QByteArrayView bytes);
    LineBreaks style() const { return m_crLf && !m_lf ? LineBreaks::CrLf : LineBreaks::Lf; }

private:
    bool m_crLf = false;
    bool m_lf = false; // an LF without a CR: Lf, whatever follows
    bool m_endsInCr = false;
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
