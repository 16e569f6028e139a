// SPDX-License-Identifier: MIT
#pragma once

#include "tests/common/TestFiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the fault tests share: real files, the engine driver run as a child
// process with the fault library preloaded, and small mounts of their own.
namespace faults {

using testfiles::allEntries;
using testfiles::readFile;
using testfiles::writeFile;
// Entries that are neither the given names nor the writer's hidden
// temporaries: files a user would take for theirs.
QStringList strangers(const QString &folder, const QStringList &expected);
// The writer's hidden temporaries in a folder.
QStringList temporaries(const QString &folder);
int chmodPath(const QString &path, unsigned mode);

// One fault for the preloaded library (see faultshim.cpp for the meanings).
struct Fault {
    QString dir;  // only calls under this folder count
    QString call; // empty: no fault, "*": any call
    int nth = 0;
    QString action; // fail, kill-before, kill-after, change, overwrite, truncate, remove, short
    int error = 0;  // 0: the library's default
    bool noTmpfile = false;
    bool noRenameat2 = false;
    qint64 clockShift = 0; // seconds added to the wall clock the process reads
    QString tracePath;
    QString changePath;
    QByteArray changeData;
};

struct DriverRun {
    bool started = false;
    bool killed = false; // ended by a signal, not by returning
    int exitCode = -1;
    QStringList lines; // what the driver printed, one line per file
    QString errors;
};

// Runs vexalo-faultdriver with the arguments; prefix (setpriv ...) goes in front.
DriverRun runDriver(const QStringList &arguments, const Fault &fault = {}, const QStringList &prefix = {});
// The same run as runDriver's without a fault, made in this process: a
// replace, undo or restore that only sets up a row or checks what a faulted
// run left, where starting a process was most of the row's time. Runs that
// read in blocks or work on several files at once (flags k, p) change the
// engine's settings for the whole process, and are made by the driver.
DriverRun runHere(const QStringList &arguments);
// The calls a run makes under dir, as "call path" in order: what a fault can hit.
QStringList traceCalls(const QStringList &arguments, const QString &dir, bool noTmpfile = false);

// A traced call made readable and stable for a row name: the folder and the
// temporary's random name are left out ("write (unnamed)", "rename /a.txt").
QString describeCall(QString call, const QString &dir);

// A template for QTemporaryDir in memory (/dev/shm) where there is one, else
// in the usual place: for the tests that kill or fail the driver at each of
// its calls, hundreds of small runs whose syncs and folder updates on a
// busy disk were most of their time. A kill -9 loses nothing the page cache
// holds, on a disk or not, and every call is made and counted the same in
// memory, so each such row still hits and checks what it did. Keep large
// files elsewhere: a container's /dev/shm may hold 64 MiB.
QString inMemoryTemplate();

// A tmpfs of the given size over path, unmounted when this goes away.
class TmpfsMount {
public:
    TmpfsMount(const QString &path, const QByteArray &options);
    ~TmpfsMount();
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

private:
    QByteArray m_path;
    bool m_ok = false;
    QString m_error;
};

// The sample the fault tests run on: first.txt holds "alpha" twice and an
// older backup, second.txt holds "alpha"; a run replaces alpha with omega.
inline const QByteArray sampleBefore = "alpha beta alpha\n";
inline const QByteArray sampleAfter = "omega beta omega\n";
inline const QByteArray sampleOlderBackup = "an older backup\n";
void seedReplace(const QString &dir);

// The system's message for an error number, as the engine reports it.
QString reasonOf(int error);

} // namespace faults
