// SPDX-License-Identifier: MIT
#pragma once

#include "CommandLine.h"

#include <QIODevice>
#include <QString>

#include <functional>

namespace vexalo::cli {

enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitStopped = 130 };

struct CliStreams {
    QIODevice *out = nullptr;
    QIODevice *err = nullptr;
    bool showProgress = false;  // err is a terminal and the output is not piped
    bool outIsTerminal = false; // each line is flushed at once
    std::function<bool()> stopRequested;
};

// The output's language, whatever the user's: English, with its plural forms
// ("1 file", "2 files") from vexalo_en.qm in translationsFolder, and numbers
// in plain digits, as scripts read them. Returns whether the forms were found;
// without them the lines read "1 files".
bool useEnglishOutput(const QString &translationsFolder);

// Runs a parsed request and returns the exit status. programFolder is where
// "exception.txt" is looked for.
int runRequest(const CliRequest &request, const QString &programFolder, CliStreams &streams);

// Parses and runs; a usage error is reported on err with status 2.
int runCommandLine(const QStringList &arguments, const QString &programFolder, CliStreams &streams,
                   const TextFileReader &readText = readTextFile);

} // namespace vexalo::cli
