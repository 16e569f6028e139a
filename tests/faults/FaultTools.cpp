// SPDX-License-Identifier: MIT
#include "FaultTools.h"

#include "DriverRuns.h"

#include "engine/files/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

namespace faults {

void seedReplace(const QString &dir)
{
    writeFile(dir + "/first.txt", sampleBefore);
    writeFile(dir + "/first.txt.old", sampleOlderBackup);
    writeFile(dir + "/second.txt", "alpha");
}

QStringList temporaries(const QString &folder)
{
    QStringList out;
    for (const QString &name : allEntries(folder)) {
        if (name.startsWith(vexalo::temporaryPrefix()))
            out << name;
    }
    return out;
}

QStringList strangers(const QString &folder, const QStringList &expected)
{
    QStringList out;
    for (const QString &name : allEntries(folder)) {
        if (!expected.contains(name) && !name.startsWith(vexalo::temporaryPrefix()))
            out << name;
    }
    return out;
}

int chmodPath(const QString &path, unsigned mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode);
}

DriverRun runDriver(const QStringList &arguments, const Fault &fault, const QStringList &prefix)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"VXF_DIR", "VXF_CALL", "VXF_NTH", "VXF_ACTION", "VXF_ERRNO", "VXF_NO_TMPFILE",
                             "VXF_NO_RENAMEAT2", "VXF_TRACE", "VXF_CHANGE_PATH", "VXF_CHANGE_DATA", "VXF_CLOCK_SHIFT"})
        env.remove(QString::fromLatin1(name));
    if (!fault.dir.isEmpty()) {
        env.insert("LD_PRELOAD", QStringLiteral(VEXALO_FAULT_SHIM));
        env.insert("VXF_DIR", fault.dir);
        if (!fault.call.isEmpty())
            env.insert("VXF_CALL", fault.call);
        env.insert("VXF_NTH", QString::number(fault.nth));
        if (!fault.action.isEmpty())
            env.insert("VXF_ACTION", fault.action);
        if (fault.error)
            env.insert("VXF_ERRNO", QString::number(fault.error));
        if (fault.noTmpfile)
            env.insert("VXF_NO_TMPFILE", "1");
        if (fault.noRenameat2)
            env.insert("VXF_NO_RENAMEAT2", "1");
        if (fault.clockShift)
            env.insert("VXF_CLOCK_SHIFT", QString::number(fault.clockShift));
        if (!fault.tracePath.isEmpty())
            env.insert("VXF_TRACE", fault.tracePath);
        if (!fault.changePath.isEmpty()) {
            env.insert("VXF_CHANGE_PATH", fault.changePath);
            env.insert("VXF_CHANGE_DATA", QString::fromUtf8(fault.changeData));
        }
    }
    QProcess process;
    process.setProcessEnvironment(env);
    QStringList args = prefix;
    args << QStringLiteral(VEXALO_FAULT_DRIVER) << arguments;
    const QString program = args.takeFirst();
    process.start(program, args);
    DriverRun run;
    run.started = process.waitForStarted(10000);
    if (!run.started) {
        run.errors = process.errorString();
        return run;
    }
    // A run of a few files ends in milliseconds. One that hangs (a lock
    // never let go, a lost wake-up) fails the row with a message, rather
    // than pass as killed once QProcess ends it, or hold up the suite.
    constexpr int limit = 30;
    if (!process.waitForFinished(limit * 1000)) {
        process.kill();
        process.waitForFinished(5000);
        run.errors = QStringLiteral("the driver did not end within %1 s: %2").arg(limit).arg(arguments.join(' '));
        QTest::qFail(qPrintable(run.errors), __FILE__, __LINE__);
        return run;
    }
    run.killed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    run.lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

DriverRun runHere(const QStringList &arguments)
{
    const QString flags = arguments.value(arguments.value(0) == QLatin1String("replace")    ? 4
                                              : arguments.value(0) == QLatin1String("undo") ? 1
                                                                                            : 2);
    if (flags.contains('k') || flags.contains('p'))
        return runDriver(arguments);
    DriverRun run;
    run.started = true;
    run.exitCode = runEngineCommand(
        arguments, [&](const QString &line) { run.lines << line; },
        [&](const QString &message) { run.errors += message + QLatin1Char('\n'); });
    if (run.exitCode < 0)
        return runDriver(arguments);
    return run;
}

QStringList traceCalls(const QStringList &arguments, const QString &dir, bool noTmpfile)
{
    // The trace lives outside dir, so writing it is never one of the calls.
    QTemporaryFile trace;
    if (!trace.open())
        qFatal("cannot create a trace file");
    Fault fault;
    fault.dir = dir;
    fault.tracePath = trace.fileName();
    fault.noTmpfile = noTmpfile;
    runDriver(arguments, fault);
    QStringList calls;
    const QList<QByteArray> lines = readFile(trace.fileName()).split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            calls << QString::fromUtf8(line.mid(space + 1));
    }
    return calls;
}

QString describeCall(QString call, const QString &dir)
{
    if (call.endsWith(' ' + dir))
        call.replace(dir, "(folder)");
    call.replace(dir, "");
    call.replace(QRegularExpression(QStringLiteral("/#\\d+ \\(deleted\\)")), QStringLiteral("(unnamed)"));
    call.replace(QRegularExpression(QStringLiteral("\\.vexalo4-\\w+")), QStringLiteral(".vexalo4-*"));
    return call;
}

QString inMemoryTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return QStringLiteral("/dev/shm/vexalo-fault-XXXXXX");
    return QDir::tempPath() + QStringLiteral("/vexalo-fault-XXXXXX");
}

TmpfsMount::TmpfsMount(const QString &path, const QByteArray &options)
    : m_path(QFile::encodeName(path))
{
    if (::mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0) {
        m_ok = true;
    } else {
        m_error = QStringLiteral("cannot mount a tmpfs (%1); mounting needs root").arg(reasonOf(errno));
    }
}

TmpfsMount::~TmpfsMount()
{
    if (m_ok)
        ::umount2(m_path.constData(), MNT_DETACH);
}

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace faults
