// SPDX-License-Identifier: MIT
#pragma once

// What the writer is told and what it tells back, apart from the writer
// itself, so that the metadata copier can take them without needing the
// writer: the copier is used by the writer, never the other way round.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
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

struct WriteOptions {
    bool syncData = true;  // fsync before the rename, so a crash cannot leave a hole
    // When set, the file must still be the one that was read (same inode,
    // size and modification time) just before it is replaced.
    const struct stat *expected = nullptr;
    // Permission bits and owner for a file that does not exist yet.
    const struct stat *modeFrom = nullptr;
    // The file modeFrom was taken from (links followed): its ACL and extended
    // attributes go with its owner and permission bits.
    QString metadataFrom;
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
    // Handed every byte of the new content, in order, as it goes to the
    // temporary, before the rename (a digest of what lands). A writer that
    // is given up (a failure, or a file that is done again from its start)
    // never renames, so what it handed on never lands.
    std::function<void(QByteArrayView)> written;
    // Called once the file is known unchanged (the check of expected), just
    // before the rename, with the device and inode of the new content; a
    // failure leaves the file as it was.
    std::function<IoStatus(dev_t device, ino_t inode)> beforeRename;
    // Keeps the file being replaced rather than letting it go, at no cost
    // beyond the rename: the new content is named keepName in the open
    // folder keepFolder (on the file's own file system) and swapped with the
    // file in one step, so that the old file ends under keepName. Where the
    // two cannot be swapped, keepFailed is called just before a plain rename
    // lets the old file go (it may still keep it by other means).
    int keepFolder = -1;
    QByteArray keepName;
    std::function<void()> keepFailed;
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
};

} // namespace vexalo
