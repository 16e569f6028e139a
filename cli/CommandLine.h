// SPDX-License-Identifier: MIT
#pragma once

#include "engine/runs/Runs.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vexalo::cli {

enum class Command { Replace, Restore, Undo, Help, Version };

struct CliRequest {
    Command command = Command::Help;
    QString findText;
    QString replaceText;
    bool caseSensitive = false;
    bool makeBackups = false;
    bool trim = false;
    bool dryRun = false;      // only what a replace would do; nothing is written
    bool exactBreaks = false; // the texts' line breaks as given, not the file's
    bool regex = false;       // the find text is a regular expression
    bool noJournal = false;   // replace: keep nothing for undo
    bool list = false;        // undo: only list the runs the journal holds
    // Given with --protect; otherwise the program folder's list is used.
    std::optional<QString> protectedExtensions;
    QStringList files;      // as given, in order
    bool quiet = false;     // only the lines of files that failed
    bool fullPaths = false; // each line names the file as given, not by its plain name
    bool noProgress = false;
    Durability durability = Durability::AtEnd;
    QString helpTopic; // for Help: the command asked about, or empty
};

struct ParseResult {
    CliRequest request;
    QString error; // a usage error, said for the user; empty when the line is sound
    bool ok() const { return error.isEmpty(); }
};

// Reads the bytes of a text given with --find-file or --with-file ("-" is
// standard input); returns false and a reason when it cannot.
using TextFileReader = std::function<bool(const QString &path, QByteArray *bytes, QString *reason)>;

// arguments excludes the program name.
ParseResult parseCommandLine(const QStringList &arguments, const TextFileReader &readTextFile);

// The reader main() uses: real files through the engine, "-" from standard input.
bool readTextFile(const QString &path, QByteArray *bytes, QString *reason);

QString helpText(const QString &topic = {});
QString versionText();

} // namespace vexalo::cli
