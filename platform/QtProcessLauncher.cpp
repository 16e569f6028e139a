// SPDX-License-Identifier: MIT
#include "QtProcessLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString resolveProgram(const QString &program)
{
    if (program.contains(QLatin1Char('/')))
        return program;
    // Never the working folder: it is whatever folder the user browsed to.
    const QString inProgramFolder = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(program);
    if (isExecutableFile(inProgramFolder))
        return inProgramFolder;
    return QStandardPaths::findExecutable(program);
}

} // namespace

bool QtProcessLauncher::startDetached(const QString &program, QString *error)
{
    const QString path = resolveProgram(program);
    if (path.isEmpty()) {
        if (error)
            *error = QCoreApplication::translate("QtProcessLauncher", "The program \"%1\" was not found.").arg(program);
        return false;
    }
    QProcess process;
    process.setProgram(path);
    // The program runs in its own folder, not in one the user browsed to.
    process.setWorkingDirectory(QFileInfo(path).absolutePath());
    if (!process.startDetached()) {
        if (error)
            *error = process.errorString();
        return false;
    }
    return true;
}
