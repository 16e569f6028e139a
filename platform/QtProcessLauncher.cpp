// SPDX-License-Identifier: MIT
#include "QtProcessLauncher.h"

#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isExecutableFile(const vexalo::FilePath &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

vexalo::FilePath resolveProgram(const vexalo::FilePath &program)
{
    if (program.bytes().contains('/'))
        return program;
    // Never the working folder: it is whatever folder the user browsed to.
    const vexalo::FilePath inProgramFolder = vexalo::FilePath::fromString(vexalo::runningProgramFolder()) / program;
    if (isExecutableFile(inProgramFolder))
        return inProgramFolder;
    return vexalo::FilePath::fromString(QStandardPaths::findExecutable(program.toString()));
}

// Whether QProcess, which names files by QString, can name this one.
bool isUtf8(const vexalo::FilePath &path)
{
    return path.toString().toUtf8() == path.bytes();
}

} // namespace

bool QtProcessLauncher::startDetached(const vexalo::FilePath &program, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const vexalo::FilePath path = resolveProgram(program);
    if (path.isEmpty())
        return fail(QCoreApplication::translate("QtProcessLauncher", "The program \"%1\" was not found.")
                        .arg(program.display()));

    QProcess process;
    // The program runs in its own folder, not in one the user browsed to.
    const vexalo::FilePath folder = path.folder();
    const vexalo::FilePath name = path.fileName();
    int heldFolder = -1;
    if (isUtf8(path)) {
        process.setProgram(path.toString());
        process.setWorkingDirectory(folder.toString());
    } else if (isUtf8(name)) {
        // A folder whose name is not UTF-8 is held open here and reached
        // through its descriptor's name, which is plain ASCII: the child
        // enters the folder itself and starts the program by a name relative
        // to it, so nothing depends on the descriptor once it runs.
        heldFolder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (heldFolder < 0)
            return fail(QStringLiteral("%1: %2").arg(folder.display(), QString::fromLocal8Bit(std::strerror(errno))));
        process.setWorkingDirectory(QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(heldFolder));
        process.setProgram(QStringLiteral("./") + name.toString());
    } else {
        // QProcess has no way to name it.
        return fail(QStringLiteral("%1: %2").arg(path.display(), QString::fromLocal8Bit(std::strerror(EILSEQ))));
    }
    const bool started = process.startDetached();
    if (heldFolder >= 0)
        ::close(heldFolder);
    if (!started)
        return fail(process.errorString());
    return true;
}
