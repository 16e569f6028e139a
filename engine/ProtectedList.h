// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace vexalo {

QString defaultProtectedExtensions();

// The first line (up to the first CR) of "exception.txt" in folder; the
// default when there is no such regular file, or when it exists but cannot
// be read (protecting too much is safer than protecting nothing).
QString loadProtectedExtensions(const QString &folder);

// The last four characters of the name, lower-cased, searched anywhere in the
// list as it stands.
bool isProtected(const QString &name, const QString &protectedExtensions);

} // namespace vexalo
