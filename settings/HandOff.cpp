// SPDX-License-Identifier: MIT
#include "HandOff.h"

#include "engine/files/FileOps.h"
#include "ProgramInfo.h"
#include "engine/text/TextTools.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace vexalo {

QByteArray versionText(qint64 programFileSize)
{
    return QByteArray::number(versionMajor) + '.' + QByteArray::number(versionMinor) + '.'
           + QByteArray::number(versionRevision) + '.' + QByteArray::number(programFileSize);
}

HandOffResult HandOff::write(const QString &folder)
{
    const QString program = joinPath(folder, programFileName());
    if (!isRegularFile(program))
        return {HandOffResult::Outcome::NoProgramFile, {}};

    // The size of the file the updater would replace: a link's target.
    const QByteArray version = versionText(QFileInfo(program).size());
    const QByteArray title = programTitle().toLatin1();
    const QByteArray data = title + "\r\n" + title + "\r\n" + version;

    QStringList errors;
    const auto put = [&](const QString &name, const QByteArray &bytes) {
        const QString path = joinPath(folder, name);
        const IoStatus status = writeFileAtomically(path, bytes);
        if (!status.ok())
            errors << tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), status.error);
    };
    put(QStringLiteral("fennick.dat"), data);
    put(QStringLiteral("vexalo4.ver"), version);

    if (errors.isEmpty())
        return {HandOffResult::Outcome::Written, {}};
    return {HandOffResult::Outcome::Failed, errors.join(QLatin1Char('\n'))};
}

} // namespace vexalo
