// SPDX-License-Identifier: MIT
#include "ui/frmViewer/ViewerSave.h"

#include "engine/files/FileOps.h"

#include <sys/stat.h>

// The file's name is a FilePath throughout: through these, a name that is not
// UTF-8 would be looked up as another file, and a change made to it on disk
// would go unseen.
#pragma GCC poison QFile QFileInfo QDir QSaveFile

namespace {

// QTextDocument's separator between two lines in its raw text.
constexpr QChar lineSeparator = QChar::ParagraphSeparator;

// The same file with the same content as far as stat can tell.
bool sameVersion(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

namespace {

// Counted on the characters, so that UTF-16 is read by its units.
template <typename Text>
QString mostFrequentBreak(const Text &bytes)
{
    qsizetype crlf = 0;
    qsizetype lf = 0;
    qsizetype cr = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == u'\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == u'\n') {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        } else if (bytes[i] == u'\n') {
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

} // namespace

QString ViewerSave::dominantLineBreak(QByteArrayView bytes, vexalo::FileEncoding encoding)
{
    if (vexalo::isUtf16(encoding))
        return mostFrequentBreak(vexalo::decodeText(bytes, encoding));
    return mostFrequentBreak(bytes);
}

std::optional<QByteArray> ViewerSave::bytesFor(const LoadedText &loaded, const QString &rawText)
{
    // Unedited: the box cannot tell CR LF from LF, nor a U+2029 from a line
    // break, so only the bytes as read give a mixed file back unchanged.
    if (rawText == loaded.shownRaw)
        return loaded.bytes;
    QString text = rawText;
    text.replace(lineSeparator, loaded.lineBreak);
    const std::optional<QByteArray> encoded = vexalo::encodeText(text, loaded.encoding);
    if (!encoded)
        return std::nullopt;
    // The box never shows the mark, and the file keeps it.
    return vexalo::byteOrderMark(loaded.bytes, loaded.encoding).toByteArray() + *encoded;
}

MessageRequest ViewerSave::overwriteQuestion(const vexalo::FilePath &path)
{
    MessageRequest question;
    question.text = tr("%1 was changed on disk after it was opened here, perhaps by another program.\n\n"
                       "OK overwrites that change with the text shown here; Cancel leaves the file as it is. "
                       "The text shown here stays either way.")
                        .arg(path.display());
    question.buttons = MessageRequest::Buttons::OkCancel;
    question.icon = MessageRequest::Icon::Exclamation;
    question.cancelIsDefault = true;
    return question;
}

std::optional<MessageRequest> ViewerSave::save(const vexalo::FilePath &path, LoadedText &loaded, const QString &rawText,
                                               const ConfirmOverwrite &confirm)
{
    const auto failure = [](const QString &text, MessageRequest::Icon icon) {
        MessageRequest request;
        request.text = text;
        request.icon = icon;
        return request;
    };
    if (path.isEmpty())
        return failure(tr("There is no file to save to: open a file from the file list first."),
                       MessageRequest::Icon::Exclamation);

    const QString shownPath = path.display();
    const std::optional<QByteArray> bytes = bytesFor(loaded, rawText);
    if (!bytes) {
        // Writing a stand-in character would change the text behind the
        // user's back, so nothing is written.
        return failure(tr("%1 was not saved: the text holds characters that the file's encoding, %2, "
                          "cannot represent.")
                           .arg(shownPath, vexalo::encodingName(loaded.encoding)),
                       MessageRequest::Icon::Exclamation);
    }

    // Changed on disk since it was loaded (a file that is gone loses nothing
    // by being written again).
    const auto changedOnDisk = [&] {
        struct stat now {};
        return loaded.onDisk && ::stat(path.c_str(), &now) == 0 && !sameVersion(now, *loaded.onDisk);
    };
    bool overwrite = false;
    if (changedOnDisk()) {
        if (!confirm || !confirm(overwriteQuestion(path)))
            return std::nullopt;
        overwrite = true;
    }

    // A file marked read-only stays so, even for root, who could replace it.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const vexalo::IoStatus writable = vexalo::checkWritable(path, info);
        if (!writable.ok())
            return failure(tr("Could not save %1: %2.").arg(shownPath, writable.error), MessageRequest::Icon::Critical);
    }
    vexalo::WriteOptions options;
    if (!overwrite && loaded.onDisk && ::stat(path.c_str(), &info) == 0)
        options.expected = &*loaded.onDisk;
    vexalo::IoStatus written = vexalo::writeFileAtomically(path, *bytes, options);
    if (!written.ok() && options.expected && changedOnDisk()) {
        // Changed while the text was being written out.
        if (!confirm || !confirm(overwriteQuestion(path)))
            return std::nullopt;
        written = vexalo::writeFileAtomically(path, *bytes);
    }
    if (!written.ok())
        return failure(tr("Could not save %1: %2.").arg(shownPath, written.error), MessageRequest::Icon::Critical);
    struct stat saved {};
    if (::stat(path.c_str(), &saved) == 0)
        loaded.onDisk = saved;
    else
        loaded.onDisk.reset();
    return std::nullopt;
}
