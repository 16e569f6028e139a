// SPDX-License-Identifier: MIT
#include "ui/frmViewer/ViewerSave.h"

#include "engine/FileNames.h"
#include "engine/FileOps.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

// QTextDocument's separator between two lines in its raw text.
constexpr QChar lineSeparator = QChar::ParagraphSeparator;

} // namespace

QString ViewerSave::dominantLineBreak(QByteArrayView bytes)
{
    qsizetype crlf = 0;
    qsizetype lf = 0;
    qsizetype cr = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        } else if (bytes[i] == '\n') {
            ++lf;
        }
    }
    // Ties go to the platform's own line break.
    if (crlf > lf && crlf >= cr)
        return QStringLiteral("\r\n");
    if (cr > lf && cr > crlf)
        return QStringLiteral("\r");
    return QStringLiteral("\n");
}

std::optional<QByteArray> ViewerSave::bytesFor(const LoadedText &loaded, const QString &rawText)
{
    // Unedited: the box cannot tell CR LF from LF, nor a U+2029 from a line
    // break, so only the bytes as read give a mixed file back unchanged.
    if (rawText == loaded.shownRaw)
        return loaded.bytes;
    QString text = rawText;
    text.replace(lineSeparator, loaded.lineBreak);
    return vexalo::encodeText(text, loaded.encoding);
}

std::optional<MessageRequest> ViewerSave::save(const QString &path, const LoadedText &loaded,
                                               const QString &rawText)
{
    const auto failure = [](const QString &text, MessageRequest::Icon icon) {
        return MessageRequest{text, QString(), MessageRequest::Buttons::Ok, icon};
    };
    if (path.isEmpty())
        return failure(tr("There is no file to save to: open a file from the file list first."),
                       MessageRequest::Icon::Exclamation);

    const QString shownPath = vexalo::displayName(path);
    const std::optional<QByteArray> bytes = bytesFor(loaded, rawText);
    if (!bytes) {
        // Writing a stand-in character would change the text behind the
        // user's back, so nothing is written.
        return failure(tr("%1 was not saved: the text holds characters that the file's encoding, %2, "
                          "cannot represent.")
                           .arg(shownPath, vexalo::encodingName(loaded.encoding)),
                       MessageRequest::Icon::Exclamation);
    }

    // A file marked read-only stays so, even for root, who could replace it.
    struct stat info {};
    if (::stat(vexalo::encodeFileName(path).constData(), &info) == 0 && S_ISREG(info.st_mode)) {
        const vexalo::IoStatus writable = vexalo::checkWritable(path, info);
        if (!writable.ok())
            return failure(tr("Could not save %1: %2.").arg(shownPath, writable.error),
                           MessageRequest::Icon::Critical);
    }
    const vexalo::IoStatus written = vexalo::writeFileAtomically(path, *bytes);
    if (!written.ok())
        return failure(tr("Could not save %1: %2.").arg(shownPath, written.error), MessageRequest::Icon::Critical);
    return std::nullopt;
}
