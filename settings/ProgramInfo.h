// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

namespace vexalo {

// The program title: the settings application name, the first two lines of
// the updater's hand-off file, and the title of message boxes that name none.
inline QString programTitle()
{
    return QStringLiteral("Vexalo4");
}

inline constexpr int versionMajor = 4;
inline constexpr int versionMinor = 1;
inline constexpr int versionRevision = 27;

// The executables the hand-off and the Online Update command deal with. They
// carry ".exe" only where the system expects it.
#ifdef Q_OS_WIN
inline QString programFileName()
{
    return QStringLiteral("vexalo4.exe");
}
inline QString updaterFileName()
{
    return QStringLiteral("Fennick.exe");
}
inline QString replacementUpdaterFileName()
{
    return QStringLiteral("Update.exe");
}
#else
inline QString programFileName()
{
    return QStringLiteral("vexalo4");
}
inline QString updaterFileName()
{
    return QStringLiteral("Fennick");
}
inline QString replacementUpdaterFileName()
{
    return QStringLiteral("Update");
}
#endif

} // namespace vexalo
