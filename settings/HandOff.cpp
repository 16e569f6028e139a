// SPDX-License-Identifier: MIT
#include "HandOff.h"

#include "engine/files/FileOps.h"
#include "ProgramInfo.h"

#include <QStringList>

#include <sys/stat.h>

// Every name here is a FilePath: a folder whose name is not UTF-8 must be the
// one written to, and these would quietly look up another.
#pragma GCC poison QFile QFileInfo QDir QSaveFile

namespace vexalo {

QByteArray versionText(qint64 programFileSize)
{
    return QByteArray::number(versionMajor) + '.' + QByteArray::number(versionMinor) + '.'
        + QByteArray::number(versionRevision) + '.' + QByteArray::number(programFileSize);
}

HandOffResult HandOff::write(const FilePath &folder)
{
    // The size of the file the updater would replace: a link's target.
    const FilePath program = folder / FilePath::fromString(programFileName());
    struct stat info {};
    if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {HandOffResult::Outcome::NoProgramFile, {}};

    const QByteArray version = versionText(qint64(info.st_size));
    const QByteArray title = programTitle().toLatin1();
    const QByteArray data = title + "\r\n" + title + "\r\n" + version;

    QStringList errors;
    const auto put = [&](QByteArrayView name, const QByteArray &bytes) {
        const FilePath path = folder / name;
        const IoStatus status = writeFileAtomically(path, bytes);
        if (!status.ok())
            errors << tr("%1 could not be written: %2").arg(path.display(), status.error);
    };
    put("fennick.dat", data);
    put("vexalo4.ver", version);

    if (errors.isEmpty())
        return {HandOffResult::Outcome::Written, {}};
    return {HandOffResult::Outcome::Failed, errors.join(QLatin1Char('\n'))};
}

} // namespace vexalo
