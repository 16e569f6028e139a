// SPDX-License-Identifier: MIT
// A preview makes every check a Replace makes, up to the point where it would
// make the backup, and adds those the writes themselves would fail on.

#include "engine/files/FileOps.h"
#include "engine/runs/RunSteps.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace vexalo {

namespace {

// A new file can be made in the folder: said as the writes themselves would
// say it when it cannot.
std::optional<QString> folderRefuses(const FilePath &folder)
{
    if (::access(folder.c_str(), W_OK | X_OK) == 0)
        return std::nullopt;
    return IoStatus::fromErrno(
               errno,
               QCoreApplication::translate("FileOps", "the folder \"%1\" cannot be written").arg(folder.display()))
        .error;
}

} // namespace

FileResult previewOf(const ReplaceJob &job, const FilePath &name, const FilePath &path, qsizetype matches, bool binary)
{
    const FilePath backupPath = path.withSuffix(".old");
    // The backup goes through a new file beside the name. (The rewrite's
    // folder, beside the file a link leads to, checkWritable has seen to
    // before a preview gets here.)
    if (job.makeBackups) {
        if (const std::optional<QString> refused = folderRefuses(backupPath.folder()))
            return failed(name, backupFailedReason(*refused));
    }
    if (job.makeBackups) {
        if (const IoStatus refused = checkBackupName(backupPath); !refused.ok())
            return failed(name, backupFailedReason(refused.error));
    }
    FileResult result{name, Outcome::Matched, {}};
    result.matches = matches;
    result.binary = binary;
    return result;
}

QString previewSummary(const QList<FileResult> &results)
{
    qsizetype matches = 0;
    qsizetype changing = 0;
    qsizetype failures = 0;
    for (const FileResult &r : results) {
        if (r.outcome == Outcome::Matched) {
            matches += r.matches;
            // A file the lines say has "0 matches" (an empty text to find) is no file with matches.
            if (r.matches > 0)
                ++changing;
        } else if (r.outcome == Outcome::Failed) {
            ++failures;
        }
    }
    // Each count with its own plural form, written as the default locale
    // writes numbers (vexalo4-cli keeps the C locale's plain digits).
    return tr("Preview: %1, %2, %3, %4; nothing was written")
        .arg(QCoreApplication::translate("vexalo", "%Ln files", nullptr, int(results.size())),
             QCoreApplication::translate("vexalo", "%Ln with matches", nullptr, int(changing)),
             QCoreApplication::translate("vexalo", "%Ln matches in all", nullptr, int(matches)),
             QCoreApplication::translate("vexalo", "%Ln would fail", nullptr, int(failures)));
}

} // namespace vexalo
