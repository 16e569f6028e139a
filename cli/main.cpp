// SPDX-License-Identifier: MIT
#include "CliRun.h"
#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void interruptHandler(int)
{
    interrupted = 1;
}

bool isPipe(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexalo4-cli"));
    // share/vexalo4/translations beside bin/, in the build tree as installed.
    vexalo::cli::useEnglishOutput(
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vexalo4/translations")));

    // The first Ctrl-C stops the run between two files, so the files done so
    // far are reported and synced; a second one ends the program at once
    // (which still leaves every file whole: each is replaced by a rename).
    struct sigaction action {};
    action.sa_handler = interruptHandler;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);

    vexalo::cli::CliStreams streams;
    streams.out = &out;
    streams.err = &err;
    streams.outIsTerminal = ::isatty(STDOUT_FILENO);
    streams.showProgress = ::isatty(STDERR_FILENO) && !isPipe(STDOUT_FILENO);
    streams.stopRequested = [] { return interrupted != 0; };

    // From argv itself: QCoreApplication::arguments() turns bytes that are not
    // valid UTF-8 into U+FFFD, and a file name would then name another file.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << vexalo::decodeFileName(argv[i]);
    const int status = vexalo::cli::runCommandLine(arguments, vexalo::runningProgramFolder(), streams);
    out.flush();
    err.flush();
    return status;
}
