// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/WriteOptions.h"

#include <QByteArray>
#include <QString>

namespace vexalo {

// The backup a file already has, kept under a second, hidden name while a run
// makes the new backup and rewrites the file. The new backup may replace the
// older one only once the file's own rewrite is committed: a file that ends
// up not rewritten (another program changed it meanwhile, say) keeps the
// older backup, which is put back when this goes away without keep().
// Costs a hard link where the file system has them, a rename where not.
class OlderBackup {
public:
    OlderBackup() = default;
    OlderBackup(OlderBackup &&other) noexcept;
    OlderBackup &operator=(OlderBackup &&other) noexcept;
    OlderBackup(const OlderBackup &) = delete;
    OlderBackup &operator=(const OlderBackup &) = delete;
    ~OlderBackup();

    // Sets aside whatever has the backup's name (a regular file or a link);
    // nothing there, nothing to do. A failure names the reason, and leaves
    // the name as it was.
    static IoStatus setAside(const FilePath &backupPath, OlderBackup *older);
    // The file's rewrite is committed (or was not needed): the new backup
    // stays, and the older one goes.
    void keep();

private:
    void putBack();
    QByteArray m_backup;  // the backup's name
    QByteArray m_aside;   // the older backup's second name; empty: none
    bool m_moved = false; // renamed rather than linked: the name is empty until the new backup lands
};

} // namespace vexalo
