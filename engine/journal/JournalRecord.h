// SPDX-License-Identifier: MIT
#pragma once

// The journal's record format: one line per record, "kind key=value ...",
// then a checksum over the line. Each kind's fields are named in one place
// (eachField), which both the writer and the reader go through, so the two
// cannot drift apart. A reader skips keys it does not know (a later version
// may add some) and reports, never drops, a line it cannot read.

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <set>
#include <sys/types.h>

namespace vexalo::journal {

inline constexpr int formatVersion = 2;

struct Record {
    enum class Kind {
        Header,    // the run: its number, folder and start
        Keep,      // a file about to be replaced, and where its old content is kept
        Unkept,    // a file replaced whose old content could not be kept
        Back,      // a file Undo put back
        Withdrawn, // a file recorded, then not replaced after all
    };
    Kind kind = Kind::Header;

    // Header
    qint64 version = formatVersion;
    qint64 run = 0;
    QByteArray folder;
    qint64 startedMs = 0;

    // Files
    qint64 file = 0;
    QByteArray path;
    QByteArray kept; // the kept file's name in the entry's folder: "l..." the old file itself, "c..." a copy
    dev_t origDev = 0;
    ino_t origIno = 0;
    qint64 origSize = 0;
    qint64 origMtimeSec = 0;
    qint64 origMtimeNsec = 0;
    dev_t newDev = 0;
    ino_t newIno = 0;
    qint64 newSize = 0;
    QByteArray digest;
    QString reason; // Unkept: why

    bool keptIsOldFile() const { return kept.startsWith('l'); }
};

// The record as one whole line, its checksum and line end included.
QByteArray recordLine(const Record &record);

// A line that could not be read, and why (for people).
struct Damage {
    int line = 0;
    QString why;
};

// A manifest as read back.
struct Manifest {
    bool readable = false; // a header of this format was read
    QString unreadable;    // why not, when not
    Record header;
    std::map<qint64, Record> files; // Keep and Unkept records by their file number
    std::set<qint64> back;
    std::set<qint64> withdrawn;
    QList<Damage> damaged;
    bool cutShort = false; // the last line has no end: the run was stopped while writing it
    bool noLine = true;    // not even the first line was finished

    // Files recorded, neither put back nor withdrawn.
    int pending(bool keptOnly) const;
    qint64 keptBytes() const;
};

Manifest parseManifest(const QByteArray &bytes);

} // namespace vexalo::journal
