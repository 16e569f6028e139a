// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace vexalo {

// A file's name as the file system knows it: bytes, not always UTF-8. What
// opens, renames or starts a file takes one of these, never a QString, so a
// name typed or shown as text reaches the disk only through fromString(),
// the program's one conversion (see decodeFileName), and a QString cannot be
// handed to a call that takes a path by mistake: there is no implicit
// conversion either way.
class FilePath {
public:
    FilePath() = default;

    // Bytes the system gave (argv, readdir, readlink, getcwd), kept exactly.
    static FilePath fromBytes(QByteArrayView bytes) { return FilePath(bytes.toByteArray()); }
    // A name held as text (typed by the user, listed in a window): bytes that
    // are not UTF-8 stand in it as lone surrogates and come back as they were.
    static FilePath fromString(QStringView name);
    // Names held as text (a window's list, say), each converted once.
    static QList<FilePath> fromStrings(const QStringList &names);
    // As the settings store keeps a folder (see settingsValue()).
    static FilePath fromSettingsValue(const QVariant &value);

    const QByteArray &bytes() const { return m_bytes; }
    // For the system calls; always NUL-terminated.
    const char *c_str() const { return m_bytes.constData(); }
    // The text form the windows and lists hold; fromString() gives it back exactly.
    QString toString() const;
    // What people read: bytes that are not UTF-8 as \xHH. Never opened.
    QString display() const;
    // Text when the name is valid UTF-8; its bytes otherwise, which the
    // store keeps exactly where text would come back as another name.
    QVariant settingsValue() const;

    bool isEmpty() const { return m_bytes.isEmpty(); }
    bool isAbsolute() const { return m_bytes.startsWith('/'); }

    // folder / name, with one '/' between them however the folder ends; an
    // empty folder gives the name alone.
    FilePath operator/(const FilePath &name) const;
    FilePath operator/(QByteArrayView name) const { return *this / fromBytes(name); }
    // The name with bytes appended (a backup's ".old").
    FilePath withSuffix(QByteArrayView suffix) const { return FilePath(QByteArray(m_bytes).append(suffix)); }
    // The folder that holds it: "/" for a name at the root, "." for a bare name.
    FilePath folder() const;
    // The last part of the name, after its final '/'.
    FilePath fileName() const;

    friend bool operator==(const FilePath &a, const FilePath &b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const FilePath &a, const FilePath &b) { return a.m_bytes != b.m_bytes; }

private:
    explicit FilePath(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    QByteArray m_bytes;
};

} // namespace vexalo
