// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/FilePath.h"
#include "engine/text/TextCodec.h"
#include "platform/MessageBoxes.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <functional>
#include <optional>
#include <sys/stat.h>

// What the viewer keeps of the file it shows, so that Save writes the text
// back in the file's own encoding and with the file's own line breaks.
struct LoadedText {
    QByteArray bytes; // as read
    vexalo::FileEncoding encoding = vexalo::FileEncoding::Utf8;
    QString lineBreak = QStringLiteral("\n");
    // The text box's raw text just after loading. The box splits lines at
    // CR LF, CR and LF alike and keeps them apart with U+2029, so when its
    // text is still this, the file's own bytes are what it shows.
    QString shownRaw;
    // The file as it was when read (or last saved): a Save that finds it
    // different asks before overwriting what another program wrote.
    std::optional<struct stat> onDisk;
};

// The viewer's Save: the box's text, exactly, nothing appended.
class ViewerSave {
    Q_DECLARE_TR_FUNCTIONS(ViewerSave)

public:
    // The file's most frequent line break ("\r\n", "\n" or "\r"); the
    // platform's "\n" for a file without any.
    static QString dominantLineBreak(QByteArrayView bytes, vexalo::FileEncoding encoding = vexalo::FileEncoding::Utf8);

    // The bytes for the box's raw text (lines apart by U+2029): the bytes as
    // loaded while the text is unedited, otherwise the lines joined with the
    // file's line break and encoded as the file was, behind the byte-order
    // mark it began with. Empty when the encoding cannot carry a character of
    // the text.
    static std::optional<QByteArray> bytesFor(const LoadedText &loaded, const QString &rawText);

    // Asked when the file was changed on disk since it was loaded; true
    // overwrites it. The default answer keeps the file.
    using ConfirmOverwrite = std::function<bool(const MessageRequest &question)>;

    // Writes the file safely (a temporary that replaces it) and returns the
    // message to show when that was not done; the file is then as it was.
    // A file changed by another program since it was loaded is overwritten
    // only when confirm says so; the check is made again just before the
    // file is replaced. After a save, loaded knows the file as written.
    static std::optional<MessageRequest> save(const vexalo::FilePath &path, LoadedText &loaded, const QString &rawText,
                                              const ConfirmOverwrite &confirm);
    static MessageRequest overwriteQuestion(const vexalo::FilePath &path);
};
