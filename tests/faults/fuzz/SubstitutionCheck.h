// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vexalo::check {

// One case as the fuzzer feeds it: the first byte holds the flags (bit 0:
// case sensitive), the next two the lengths of the find and the replace text;
// the rest is the find text, the replace text and the file's content.
struct SubstitutionCase {
    QByteArray find;    // as the user typed it, in UTF-8 (Latin-1 when not valid UTF-8)
    QByteArray replace; // the same
    QByteArray content; // the file's bytes
    bool caseSensitive = false;
};

SubstitutionCase caseFromBytes(QByteArrayView data);
// The inverse, for find and replace texts shorter than 32 bytes.
QByteArray bytesFromCase(const SubstitutionCase &c);

// Runs the engine's search and substitution as a Replace run would (texts
// encoded in the file's encoding) and compares them with a plain reference
// and with the properties every substitution has. Empty when all hold,
// otherwise what went wrong.
QString checkSubstitution(const SubstitutionCase &c);

} // namespace vexalo::check
