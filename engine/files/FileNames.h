// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vexalo {

// File names on Linux are bytes, and not every name is valid UTF-8. A name is
// held as a QString in which each byte that is not part of valid UTF-8 stands
// as a lone surrogate, U+DC80 plus the byte. Valid UTF-8 never yields a lone
// surrogate, so two different names never meet in one QString, and encoding
// gives back exactly the bytes the name came from.
QString decodeFileName(QByteArrayView bytes);
QByteArray encodeFileName(QStringView name);

// What people read: each undecodable byte as \xHH, and each control
// character as \n, \r, \t, \xHH (other C0 controls and DEL) or \uHHHH (C1
// controls, U+2028, U+2029), so a name never breaks the line it is shown in.
// Never opened or passed on.
QString displayName(QStringView name);

// The name in upper or lower case. QString::toUpper() would turn each
// undecodable byte into U+FFFD, and so rename the file to another name; here
// those bytes stay as they are and only the text around them changes.
QString changeCase(QStringView name, bool toUpper);

// The folder of the running executable, read from the system by its bytes
// (QCoreApplication::applicationDirPath() is not, and would name another
// folder, so exception.txt beside the program would go unread).
QString runningProgramFolder();

} // namespace vexalo
