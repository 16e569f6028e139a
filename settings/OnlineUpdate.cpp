// SPDX-License-Identifier: MIT
#include "OnlineUpdate.h"

#include "ProgramInfo.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessLauncher.h"
#include "platform/Services.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

// The updater's names are FilePaths: in a program folder whose name is not
// UTF-8 these would look up, rename and start another file.
#pragma GCC poison QFile QFileInfo QDir QSaveFile

namespace vexalo {

IoStatus OnlineUpdate::putReplacementInPlace(const FilePath &folder)
{
    const FilePath replacement = folder / FilePath::fromString(replacementUpdaterFileName());
    const FilePath updater = folder / FilePath::fromString(updaterFileName());
    if (!isRegularFile(replacement))
        return {};

    // The old updater is deleted before the new one takes its name; when it
    // cannot be deleted because it is not there (or is a folder), nothing is
    // renamed, so the replacement keeps its name for the next attempt.
    struct stat old {};
    if (::lstat(updater.c_str(), &old) != 0)
        return IoStatus::fromErrno(errno, updater.display());
    if (S_ISDIR(old.st_mode))
        return IoStatus::fromErrno(EISDIR, updater.display());

    // Renaming over the old updater deletes it and puts the new one in its
    // place in one step: no moment passes with neither of them there, and a
    // failure leaves both as they were.
    if (std::rename(replacement.c_str(), updater.c_str()) != 0) {
        const IoStatus failed = IoStatus::fromErrno(errno);
        return {failed.code,
                tr("%1 could not be renamed to %2: %3").arg(replacement.display(), updaterFileName(), failed.error)};
    }
    return {};
}

UpdateResult OnlineUpdate::run(const FilePath &folder, const Services &services, QWidget *parent,
                               const std::function<void()> &closeWindow)
{
    Q_ASSERT(services.messages && services.processes);

    MessageRequest question;
    question.text = tr("Vexalo will close to check for online updates!");
    question.title = tr("Online Update");
    question.buttons = MessageRequest::Buttons::OkCancel;
    question.icon = MessageRequest::Icon::Information;
    if (services.messages->show(parent, question) != MessageAnswer::Ok)
        return {UpdateResult::Outcome::Cancelled, {}};

    QString reason;
    const IoStatus placed = putReplacementInPlace(folder);
    if (!placed.ok()) {
        reason = placed.error;
    } else {
        // Started by its full name in the program folder, where the
        // replacement has just been put: never a program of the same name
        // that happens to lie in a folder the user browsed to.
        QString error;
        if (!services.processes->startDetached(folder / FilePath::fromString(updaterFileName()), &error))
            reason = tr("%1 could not be started: %2").arg(updaterFileName(), error);
    }

    if (!reason.isEmpty()) {
        // A step already done stays done: a renamed updater keeps its new name.
        MessageRequest failure;
        failure.text = tr("Error updating Vexalo.  Close all programs and try again!");
        failure.title = tr("Fennick");
        failure.buttons = MessageRequest::Buttons::Ok;
        failure.icon = MessageRequest::Icon::None;
        services.messages->show(parent, failure);
        return {UpdateResult::Outcome::Failed, reason};
    }

    if (closeWindow)
        closeWindow();
    return {UpdateResult::Outcome::Started, {}};
}

} // namespace vexalo
