// SPDX-License-Identifier: MIT
#include "CommandLine.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"
#include "engine/text/RegexMatcher.h"
#include "engine/text/TextCodec.h"
#include "engine/text/TextTools.h"

#include <QCoreApplication>

#include <cerrno>
#include <unistd.h>

namespace vexalo::cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

enum class Opt {
    Find,
    With,
    FindFile,
    WithFile,
    Protect,
    Sync, // take a value
    CaseSensitive,
    Backup,
    Trim,
    DryRun,
    ExactBreaks,
    Quiet,
    Paths,
    NoProgress,
    Help,
    NoJournal,
    List,
    Regex,
};

struct OptionSpec {
    Opt opt;
    char shortName; // 0: long form only
    const char *longName;
    bool takesValue;
    bool replaceOnly;
};

constexpr OptionSpec options[] = {
    {Opt::Find, 'f', "find", true, true},
    {Opt::With, 'w', "with", true, true},
    {Opt::FindFile, 'F', "find-file", true, true},
    {Opt::WithFile, 'W', "with-file", true, true},
    {Opt::Protect, 'p', "protect", true, true},
    {Opt::Sync, 0, "sync", true, false},
    {Opt::CaseSensitive, 'c', "case-sensitive", false, true},
    {Opt::Backup, 'b', "backup", false, true},
    {Opt::Trim, 't', "trim", false, true},
    {Opt::DryRun, 'n', "dry-run", false, true},
    {Opt::ExactBreaks, 0, "exact-breaks", false, true},
    {Opt::Regex, 'e', "regex", false, true},
    {Opt::Quiet, 'q', "quiet", false, false},
    {Opt::Paths, 0, "paths", false, false},
    {Opt::NoProgress, 0, "no-progress", false, false},
    {Opt::Help, 'h', "help", false, false},
    {Opt::NoJournal, 0, "no-journal", false, true},
    {Opt::List, 'l', "list", false, false}, // undo's own
};

const OptionSpec *findLong(QStringView name)
{
    for (const OptionSpec &o : options) {
        if (name == QLatin1String(o.longName))
            return &o;
    }
    return nullptr;
}

const OptionSpec *findShort(QChar c)
{
    for (const OptionSpec &o : options) {
        if (o.shortName && c == QLatin1Char(o.shortName))
            return &o;
    }
    return nullptr;
}

QString spelled(const OptionSpec &o)
{
    return QStringLiteral("--") + QLatin1String(o.longName);
}

// A text file given for --find-file or --with-file is taken as the files
// themselves are: UTF-16 after a UTF-16 byte-order mark, UTF-8 when its bytes
// are valid UTF-8, otherwise Latin-1, so every byte of it counts, the last
// line break included (a byte-order mark is no part of the text).
QString textFromBytes(const QByteArray &bytes)
{
    return decodeText(bytes, detectEncoding(bytes));
}

// A text given on the command line follows the same rule, applied to the bytes
// of the argument: main() holds arguments as names, with the bytes that are
// not UTF-8 kept as escapes, and those bytes become Latin-1 characters here
// rather than replacement characters.
QString textFromArgument(const QString &argument)
{
    // An argument is no file and has no byte-order mark: bytes that would
    // read as one stay Latin-1 characters, as they always were.
    const QByteArray bytes = encodeFileName(argument);
    const FileEncoding encoding = detectEncoding(bytes);
    return decodeText(bytes, isUtf16(encoding) ? FileEncoding::Latin1 : encoding);
}

} // namespace

bool readTextFile(const QString &path, QByteArray *bytes, QString *reason)
{
    if (path == QLatin1String("-")) {
        bytes->clear();
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                *reason = IoStatus::fromErrno(errno).error;
                return false;
            }
            if (n == 0)
                return true;
            bytes->append(buffer, n);
        }
    }
    ReadResult read = readWholeFile(FilePath::fromString(path));
    if (!read.status.ok()) {
        *reason = read.status.error;
        return false;
    }
    *bytes = std::move(read.data);
    return true;
}

ParseResult parseCommandLine(const QStringList &arguments, const TextFileReader &readText)
{
    ParseResult result;
    CliRequest &r = result.request;
    auto fail = [&](const QString &message) {
        result.error = message;
        return result;
    };

    if (arguments.isEmpty())
        return fail(tr("no command given; use replace, restore or undo"));

    const QString &first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        r.command = Command::Help;
        return result;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-V")) {
        r.command = Command::Version;
        return result;
    }
    if (first == QLatin1String("help")) {
        r.command = Command::Help;
        if (arguments.size() > 1)
            r.helpTopic = arguments.at(1);
        if (!r.helpTopic.isEmpty() && r.helpTopic != QLatin1String("replace") && r.helpTopic != QLatin1String("restore")
            && r.helpTopic != QLatin1String("undo"))
            return fail(tr("there is no command '%1'; use replace, restore or undo").arg(r.helpTopic));
        return result;
    }
    if (first == QLatin1String("replace")) {
        r.command = Command::Replace;
    } else if (first == QLatin1String("restore")) {
        r.command = Command::Restore;
    } else if (first == QLatin1String("undo")) {
        r.command = Command::Undo;
    } else if (first.startsWith(QLatin1Char('-'))) {
        return fail(tr("the command (replace, restore or undo) comes first, before %1").arg(first));
    } else {
        return fail(tr("unknown command '%1'; use replace, restore or undo").arg(first));
    }
    const bool replace = r.command == Command::Replace;
    const QString commandName = first;

    std::optional<QString> find, with, findFile, withFile;
    QList<Opt> seen;

    // Applies one option; value is used only by options that take one.
    auto apply = [&](const OptionSpec &o, const QString &value) -> QString {
        if ((o.replaceOnly && !replace) || (o.opt == Opt::List && r.command != Command::Undo))
            return tr("%1 has no option %2").arg(commandName, spelled(o));
        if (o.opt != Opt::Help && seen.contains(o.opt))
            return tr("%1 is given twice").arg(spelled(o));
        seen.append(o.opt);
        switch (o.opt) {
        case Opt::Find: find = value; break;
        case Opt::With: with = value; break;
        case Opt::FindFile: findFile = value; break;
        case Opt::WithFile: withFile = value; break;
        case Opt::Protect: r.protectedExtensions = value; break;
        case Opt::Sync:
            if (value == QLatin1String("end"))
                r.durability = Durability::AtEnd;
            else if (value == QLatin1String("each"))
                r.durability = Durability::EachFile;
            else
                return tr("--sync takes end or each, not '%1'").arg(value);
            break;
        case Opt::CaseSensitive: r.caseSensitive = true; break;
        case Opt::Backup: r.makeBackups = true; break;
        case Opt::Trim: r.trim = true; break;
        case Opt::DryRun: r.dryRun = true; break;
        case Opt::ExactBreaks: r.exactBreaks = true; break;
        case Opt::Regex: r.regex = true; break;
        case Opt::Quiet: r.quiet = true; break;
        case Opt::Paths: r.fullPaths = true; break;
        case Opt::NoProgress: r.noProgress = true; break;
        case Opt::NoJournal: r.noJournal = true; break;
        case Opt::List: r.list = true; break;
        case Opt::Help:
            r.command = Command::Help;
            r.helpTopic = commandName;
            break;
        }
        return {};
    };

    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            r.files.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            const QString name = arg.mid(2, eq < 0 ? -1 : eq - 2);
            const OptionSpec *o = findLong(name);
            if (!o)
                return fail(tr("unknown option --%1").arg(name));
            QString value;
            if (o->takesValue) {
                if (eq >= 0) {
                    value = arg.mid(eq + 1);
                } else {
                    // The next word is the value even when it begins with a
                    // dash: a find text such as "--x" is a text like any other.
                    if (i + 1 >= arguments.size())
                        return fail(tr("%1 needs a value").arg(spelled(*o)));
                    value = arguments.at(++i);
                }
            } else if (eq >= 0) {
                return fail(tr("%1 takes no value").arg(spelled(*o)));
            }
            if (const QString err = apply(*o, value); !err.isEmpty())
                return fail(err);
            continue;
        }
        // Short options, which may be bundled (-cbt); one that takes a value
        // takes the rest of the word, or the next word.
        for (qsizetype k = 1; k < arg.size(); ++k) {
            const OptionSpec *o = findShort(arg.at(k));
            if (!o)
                return fail(tr("unknown option -%1").arg(arg.at(k)));
            QString value;
            if (o->takesValue) {
                if (k + 1 < arg.size()) {
                    value = arg.mid(k + 1);
                } else {
                    if (i + 1 >= arguments.size())
                        return fail(tr("-%1 (%2) needs a value").arg(QChar::fromLatin1(o->shortName), spelled(*o)));
                    value = arguments.at(++i);
                }
                k = arg.size();
            }
            if (const QString err = apply(*o, value); !err.isEmpty())
                return fail(err);
        }
    }

    if (r.command == Command::Help)
        return result;

    if (replace) {
        if (find && findFile)
            return fail(tr("give the find text either with --find or with --find-file, not both"));
        if (with && withFile)
            return fail(tr("give the replacement either with --with or with --with-file, not both"));
        if (!find && !findFile)
            return fail(tr("no find text: give it with --find TEXT or --find-file FILE"));
        if (!with && !withFile)
            return fail(tr("no replacement: give it with --with TEXT or --with-file FILE "
                           "(--with '' deletes what is found)"));
        if (findFile && withFile && *findFile == QLatin1String("-") && *withFile == QLatin1String("-"))
            return fail(tr("standard input can give only one of the two texts"));
        auto load = [&](const QString &path, const char *option, QString *text) {
            QByteArray bytes;
            QString reason;
            if (!readText(path, &bytes, &reason)) {
                result.error = tr("cannot read %1 %2: %3").arg(QLatin1String(option), path, reason);
                return false;
            }
            *text = textFromBytes(bytes);
            return true;
        };
        if (findFile) {
            if (!load(*findFile, "--find-file", &r.findText))
                return result;
        } else {
            r.findText = textFromArgument(*find);
        }
        if (withFile) {
            if (!load(*withFile, "--with-file", &r.replaceText))
                return result;
        } else {
            r.replaceText = textFromArgument(*with);
        }
        if (r.regex) {
            // Said before any file is read: no run can go on without it.
            const RegexProgram program(r.trim ? trimTrailingBreaks(r.findText) : r.findText,
                                       r.trim ? trimTrailingBreaks(r.replaceText) : r.replaceText, r.caseSensitive);
            if (const std::optional<RegexError> &error = program.error()) {
                return fail(
                    error->inReplacement
                        ? tr("the replacement cannot be used (at offset %1): %2").arg(error->offset).arg(error->message)
                        : tr("the regular expression cannot be used (at offset %1): %2")
                              .arg(error->offset)
                              .arg(error->message));
            }
        }
    }

    if (r.command == Command::Undo) {
        // It takes back the last run as a whole, wherever its files are.
        if (!r.files.isEmpty())
            return fail(tr("undo takes no files: it takes back the last replace run as a whole"));
        return result;
    }
    if (r.files.isEmpty())
        return fail(tr("no files given to %1").arg(commandName));
    return result;
}

QString versionText()
{
    return QStringLiteral("vexalo4-cli " VEXALO_VERSION "\n");
}

QString helpText(const QString &topic)
{
    const QString replaceHelp = tr("vexalo4-cli replace --find TEXT --with TEXT [options] FILE...\n"
                                   "  Replaces every occurrence of TEXT in each FILE, left to right, matches never\n"
                                   "  overlapping. A file without the text is not touched. Prints one line per file:\n"
                                   "  \"name:  replaced\", \"name:  not found\", \"name:  protected file\" or\n"
                                   "  \"name:  failed: reason\".\n"
                                   "\n"
                                   "  -f, --find TEXT        the text to find (may begin with a dash)\n"
                                   "  -w, --with TEXT        the text to put in its place ('' deletes it)\n"
                                   "  -F, --find-file FILE   take the find text from FILE, byte for byte, line breaks\n"
                                   "                         and the last one included ('-' reads standard input);\n"
                                   "                         its line breaks follow each file's, see --exact-breaks\n"
                                   "  -W, --with-file FILE   take the replacement from FILE, byte for byte\n"
                                   "  -e, --regex            TEXT is a regular expression (Perl's syntax, PCRE2):\n"
                                   "                         ^ and $ match at every line, . any character but LF;\n"
                                   "                         the replacement takes groups as $1, ${1}, ${name},\n"
                                   "                         and $$ for a dollar sign. A pattern or group that is\n"
                                   "                         not valid stops the run before any file is read\n"
                                   "                         (exit status 2). A --find-file's last line break\n"
                                   "                         is part of the pattern unless --trim is given\n"
                                   "  -c, --case-sensitive   match case exactly (the default ignores case)\n"
                                   "  -b, --backup           keep the old content of each file the text is found in\n"
                                   "                         as NAME.old (a NAME.old that is a link is replaced,\n"
                                   "                         never followed)\n"
                                   "  -t, --trim             remove line breaks from the end of both texts first\n"
                                   "  -n, --dry-run          write nothing: print per file how many matches it has\n"
                                   "                         (\"name:  3 matches\"), or why a replace would fail\n"
                                   "                         on it, then a summary; with -q only the summary\n"
                                   "      --exact-breaks     match and write the texts' line breaks exactly as\n"
                                   "                         given (LF or CR LF), not in each file's own style\n"
                                   "  -p, --protect TEXT     the protected-extension list to use instead of the\n"
                                   "                         first line of exception.txt (beside the program, else\n"
                                   "                         in ~/.config/Vexalo, else in /etc/xdg/Vexalo) or the\n"
                                   "                         default \".exe .dll .ocx .xls .jpg .gif .bmp .mp3\";\n"
                                   "                         --protect '' protects nothing\n"
                                   "      --no-journal       keep nothing for undo (see vexalo4-cli undo); a\n"
                                   "                         --dry-run never keeps anything\n"
                                   "  A file the journal cannot keep is still replaced; its line then reads\n"
                                   "  \"name:  replaced (cannot be undone: reason)\".\n");
    const QString restoreHelp = tr("vexalo4-cli restore FILE...\n"
                                   "  Puts each FILE's backup (FILE.old) back and deletes the backup. Only a FILE.old\n"
                                   "  that is a regular file counts, never a link. Prints \"name:  restored\",\n"
                                   "  \"name:  not restored\" (no backup) or \"name:  failed: reason\".\n");
    const QString undoHelp = tr("vexalo4-cli undo [--list]\n"
                                "  Takes back the last replace run (of the window or of vexalo4-cli), even one\n"
                                "  without backups: each file the run rewrote gets its old content and\n"
                                "  modification time back (owner, permissions, ACL and attributes stay as\n"
                                "  they are now), but only while it still holds exactly what the run wrote.\n"
                                "  A file changed, renamed, replaced or deleted since keeps what it has.\n"
                                "  Prints \"name:  restored\" or \"name:  failed: reason\" per file; undo\n"
                                "  a second time and it says there is no run to undo (exit status 1).\n"
                                "  The last run is the one begun last; undo refuses while a run goes on.\n"
                                "  The journal keeps the last 20 runs within 1 GiB or 5% of the free space of\n"
                                "  its file system, whichever is less, in $XDG_STATE_HOME/Vexalo/journal\n"
                                "  (~/.local/state/Vexalo/journal); a run over files on another file system\n"
                                "  keeps them at its top, in .vexalo-journal-UID (UID: your user number).\n"
                                "  -l, --list             list the runs in the journal, newest first: number,\n"
                                "                         time, how many files are kept, and folder, and\n"
                                "                         below it the journal folder that keeps the run\n");
    const QString common = tr("Options of every command:\n"
                              "  -q, --quiet            print only the lines of files that failed\n"
                              "      --paths            name each file as given rather than by its plain name\n"
                              "      --no-progress      no progress line on the terminal\n"
                              "      --sync end|each    end (default): one sync of the disks written to before\n"
                              "                         the last line is printed; each: every file is synced\n"
                              "                         as it is written (slower)\n"
                              "  -h, --help             this help\n");
    const QString tail = tr("Files may be in any folders; each is processed in its own folder, in the order\n"
                            "given. Texts are matched in each file's encoding: UTF-16 in its byte order when\n"
                            "it begins with a UTF-16 byte-order mark and is well-formed UTF-16, else UTF-8\n"
                            "when its bytes are valid UTF-8, otherwise Latin-1; a byte-order mark stays.\n"
                            "A line break in a text (LF or CR LF) is matched and written as CR LF in a file\n"
                            "whose line breaks are all CR LF, as LF in any other file (LF, mixed or none);\n"
                            "the file's other line breaks never change. A file is never left half-written:\n"
                            "new content goes to a temporary file that replaces it whole. Two runs on the\n"
                            "same files wait for each other file by file and lose no change; a file another\n"
                            "program changes while it is worked on is left as that program wrote it and\n"
                            "reported as failed.\n"
                            "\n"
                            "Exit status: 0 when every file succeeded (not found and not restored count as\n"
                            "success), 1 when any file failed or the output could not be written, 2 for a\n"
                            "mistake on the command line or an exception.txt that cannot be read.\n");

    if (topic == QLatin1String("replace"))
        return tr("Usage:\n") + replaceHelp + QLatin1Char('\n') + common;
    if (topic == QLatin1String("restore"))
        return tr("Usage:\n") + restoreHelp + QLatin1Char('\n') + common;
    if (topic == QLatin1String("undo"))
        return tr("Usage:\n") + undoHelp + QLatin1Char('\n') + common;
    return tr("Vexalo 4 on the command line: finds a text in files and replaces it.\n\nUsage:\n") + replaceHelp
        + QLatin1Char('\n') + restoreHelp + QLatin1Char('\n') + undoHelp + QLatin1Char('\n') + common
        + QLatin1Char('\n') + tail
        + tr("\nExamples:\n"
             "  vexalo4-cli replace -f 'colour' -w 'color' -b *.txt\n"
             "  vexalo4-cli replace -F old-footer.html -W new-footer.html site/*.html site/*/*.html\n"
             "  vexalo4-cli restore *.txt\n"
             "  vexalo4-cli undo\n"
             "\nvexalo4-cli --version prints the version.\n");
}

} // namespace vexalo::cli
