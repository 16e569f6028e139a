// SPDX-License-Identifier: MIT
#pragma once

// What the writer is told and what it tells back, apart from the writer
// itself, so that the metadata copier can take them without needing the
// writer: the copier is used by the writer, never the other way round.

#include "engine/files/FilePath.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sys/stat.h>

namespace vexalo {

// An operation's outcome: empty error means success. The message is a
// sentence for the user, usually the system's reason (strerror).
struct IoStatus {
    int code = 0; // errno, or 0 for a reason of the program's own
    QString error;
    bool ok() const { return error.isEmpty(); }
    static IoStatus fromErrno(int err, const QString &what = {});
    static IoStatus failure(const QString &message) { return {0, message}; }
};

// The new content of a file as it is about to take the old one's place.
struct NewContent {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    QByteArray digest; // of every byte written (Digest)
};

// Where the file being replaced goes. With a folder and a name, the new
// content is named there (on the file's own file system) and swapped with
// the file in one step, so the old file ends under that name at the cost of
// the rename alone; otherwise the old file simply goes.
struct KeepDecision {
    int folder = -1;
    QByteArray name;
    bool swap() const { return folder >= 0 && !name.isEmpty(); }
};

// What decides, for the writer, whether the file it replaces is kept. The
// writer asks once, with the new content complete, just before the rename:
// whatever the keeper must note down (for Undo, before the old file can be
// lost) it does then. Afterwards it hears only of a swap that was made and
// took out the very file that was read (WriteOptions::expected); a swap that
// took out another file is undone and the write fails as changed, and where
// none could be made the file was renamed over.
class OldFileKeeper {
public:
    virtual ~OldFileKeeper() = default;
    virtual KeepDecision decide(const NewContent &content) = 0;
    virtual void swapped() {}
};

struct WriteOptions {
    bool syncData = true; // fsync before the rename, so a crash cannot leave a hole
    // When set, the file must still be the one that was read (same inode,
    // size and modification time) just before it is replaced.
    const struct stat *expected = nullptr;
    // Permission bits and owner for a file that does not exist yet.
    const struct stat *modeFrom = nullptr;
    // The file modeFrom was taken from (links followed): its ACL and extended
    // attributes go with its owner and permission bits.
    FilePath metadataFrom;
    // Take modeFrom's metadata even where a file exists under the name: a
    // backup is a copy of the original and must grant what the original
    // grants, whatever the older backup it replaces granted.
    bool alwaysModeFrom = false;
    // The name itself is replaced (a backup): a link there is replaced, never
    // followed, and the new file takes modeFrom's permission bits and owner.
    // A folder, device, pipe or socket of that name is left alone: a failure.
    bool replaceName = false;
    // Access and modification time of the new file, as for futimens(); none
    // given, it has the time it is written (Undo gives an old file's back).
    const struct timespec *times = nullptr;
    // The file being replaced as the caller holds it open (and locked), with
    // its status: a regular file under the very name given, no link. The
    // writer then looks nothing up by name before the check of expected, and
    // reads the attributes from this descriptor. Taken as modeFrom's file
    // too, where modeFrom is that file.
    int openFile = -1;
    const struct stat *openInfo = nullptr;
    // Whether a new file in the folder written to takes an ACL from it: the
    // writer then takes it away again from a file that had none. -1: not
    // known, looked after as if it did.
    int folderGivesAcl = -1;
    // Asked, once, where the file being replaced goes (see OldFileKeeper).
    // While one is set the writer digests every byte it writes.
    OldFileKeeper *keeper = nullptr;
};

} // namespace vexalo
