// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/FilePath.h"

#include <QString>
#include <QStringList>

namespace vexalo {

QString defaultProtectedExtensions();

// Where "exception.txt" is looked for, in this order: the program folder, the
// user's configuration folder ($XDG_CONFIG_HOME/Vexalo, ~/.config/Vexalo when
// that is not set) and the system's (/etc/xdg/Vexalo). An installed program's
// folder is not the user's to write; the other two make the list settable.
QStringList protectedListFiles(const QString &programFolder);

struct ProtectedList {
    QString extensions; // the list in force
    QString file;       // the "exception.txt" it came from; empty for the default
    // Set when a list file exists but cannot be read: the list it holds is
    // the user's protection, so no Replace run may start without it.
    // Names the file and the reason.
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// The first of files that exists (a regular file or a link to one; folders
// and special files do not count) gives the list: its first line, up to the
// first CR. When none exists, the default list.
ProtectedList loadProtectedListFrom(const QStringList &files);
// The same over protectedListFiles(programFolder).
ProtectedList loadProtectedList(const QString &programFolder);

// The last four characters of the name searched anywhere in the list as it
// stands, without regard to case (ASCII, Latin-1 and other letters alike).
bool isProtected(const QString &name, const QString &protectedExtensions);
// The same for a name as bytes.
bool isProtected(const FilePath &name, const QString &protectedExtensions);

} // namespace vexalo
