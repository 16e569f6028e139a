// SPDX-License-Identifier: MIT
// A small command-line front to the engine, so the fault tests can run the
// program's own writer, backup, restore and rename code in a process of its
// own: one they can kill, run with fewer privileges, or preload with the
// fault library. It prints one line per file as soon as that file is done.
//
//   vexalo-faultdriver replace FOLDER FIND REPLACE FLAGS NAME...
//       FLAGS: any of b (make backups), c (case sensitive), e (sync each
//       file), n (no syncing), p (four files in work at once), v (a preview,
//       which writes nothing), k (every file read in blocks of four bytes),
//       j (keeps the run in the journal for undo, $XDG_STATE_HOME/Vexalo/journal);
//       "-" for none
//   vexalo-faultdriver undo FLAGS             (takes back the last run)
//   vexalo-faultdriver restore FOLDER FLAGS NAME...
//   vexalo-faultdriver rename FOLDER FROM TO [FROM TO]...
//   vexalo-faultdriver write PATH TEXT        (writeFileAtomically, with sync)
//   vexalo-faultdriver list FOLDER            (the names a file list shows)
#include "DriverRuns.h"

#include "engine/files/FileOps.h"
#include "engine/runs/Runs.h"

#include <QDir>

#include <cstdio>
#include <cstring>

using namespace vexalo;

namespace {

void printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout); // a kill must not swallow lines already done
}

QStringList namesFrom(int argc, char **argv, int first)
{
    QStringList names;
    for (int i = first; i < argc; ++i)
        names << QString::fromLocal8Bit(argv[i]);
    return names;
}

int usage()
{
    std::fputs("usage: vexalo-faultdriver replace|restore|rename|write|list ...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    // FIND and REPLACE in UTF-8, names and folders in the locale's encoding.
    QStringList arguments = namesFrom(argc, argv, 1);
    if (command == QLatin1String("replace") && argc >= 5) {
        arguments[2] = QString::fromUtf8(argv[3]);
        arguments[3] = QString::fromUtf8(argv[4]);
    }
    const int ran = faults::runEngineCommand(arguments, printLine, [](const QString &message) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    });
    if (ran >= 0)
        return ran;
    if (command == QLatin1String("rename") && argc >= 5 && (argc - 3) % 2 == 0) {
        for (int i = 3; i + 1 < argc; i += 2) {
            const QString from = QString::fromLocal8Bit(argv[i]);
            const QString to = QString::fromLocal8Bit(argv[i + 1]);
            const IoStatus status = renameNoReplace(FilePath::fromBytes(argv[2]), FilePath::fromBytes(argv[i]),
                                                    FilePath::fromBytes(argv[i + 1]));
            printLine(status.ok() ? from + QStringLiteral(" -> ") + to
                                  : from + QStringLiteral(":  failed: ") + status.error);
        }
        return 0;
    }
    if (command == QLatin1String("write") && argc == 4) {
        const IoStatus status = writeFileAtomically(FilePath::fromBytes(argv[2]), QByteArray(argv[3]));
        printLine(status.ok() ? QStringLiteral("written") : QStringLiteral("failed: ") + status.error);
        return status.ok() ? 0 : 1;
    }
    if (command == QLatin1String("list")) {
        // The main window's file list hides names that begin with a dot.
        const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
        for (const QString &name : names)
            printLine(name);
        return 0;
    }
    return usage();
}
