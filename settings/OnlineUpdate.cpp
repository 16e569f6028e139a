// SPDX-License-Identifier: MIT
#include "OnlineUpdate.h"

#include "ProgramInfo.h"
#include "engine/text/TextTools.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessLauncher.h"
#include "platform/Services.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace vexalo {

namespace {

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

IoStatus OnlineUpdate::putReplacementInPlace(const QString &folder)
{
    const QString replacement = joinPath(folder, replacementUpdaterFileName());
    const QString updater = joinPath(folder, updaterFileName());
    if (!isRegularFile(replacement))
        return {};

    // The old updater is deleted before the new one takes its name; when it
    // cannot be deleted because it is not there (or is a folder), nothing is
    // renamed, so the replacement keeps its name for the next attempt.
    std::error_code ec;
    const std::filesystem::file_status old = std::filesystem::symlink_status(fsPath(updater), ec);
    if (!std::filesystem::exists(old))
        return IoStatus::fromErrno(ENOENT, native(updater));
    if (std::filesystem::is_directory(old))
        return IoStatus::fromErrno(EISDIR, native(updater));

    // Renaming over the old updater deletes it and puts the new one in its
    // place in one step: no moment passes with neither of them there, and a
    // failure leaves both as they were.
    std::filesystem::rename(fsPath(replacement), fsPath(updater), ec);
    if (ec) {
        return IoStatus{ec.value(), tr("%1 could not be renamed to %2: %3")
                                        .arg(native(replacement), updaterFileName(),
                                             QString::fromLocal8Bit(ec.message()))};
    }
    return {};
}

UpdateResult OnlineUpdate::run(const QString &folder, const Services &services, QWidget *parent,
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
        if (!services.processes->startDetached(joinPath(folder, updaterFileName()), &error))
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
