// SPDX-License-Identifier: MIT
// The journal's own writes under fault: each system call on the journal
// fails, or the run is killed right before or after it, and so is Undo. A
// journal that fails never stops or spoils a run; whatever was left behind,
// Undo puts back only files whose record is whole and that still hold what
// the run wrote, so no file ever ends up anything but its old or its new
// content.
#include "FaultTools.h"

#include "engine/journal/Journal.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

using namespace faults;
using vexalo::Journal;
using vexalo::JournalEntry;

namespace {

const QStringList names{"first.txt", "second.txt"};
const QByteArray secondBefore = "alpha";
const QByteArray secondAfter = "omega";

// A folder for the files and one for the journal, side by side; the driver
// inherits the journal's place through XDG_STATE_HOME.
struct Place {
    QTemporaryDir root{inMemoryTemplate()};
    QString data = root.filePath("data");
    QString state = root.filePath("state");
    Place()
    {
        QDir().mkpath(data);
        QDir().mkpath(state);
        writeFile(data + "/first.txt", sampleBefore);
        writeFile(data + "/second.txt", secondBefore);
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    }
    bool isBefore(const QString &name) const
    {
        return readFile(data + '/' + name) == (name == "first.txt" ? sampleBefore : secondBefore);
    }
    bool isAfter(const QString &name) const
    {
        return readFile(data + '/' + name) == (name == "first.txt" ? sampleAfter : secondAfter);
    }
};

QStringList replaceArgs(const QString &data, const QString &flags, const QStringList &files = names)
{
    return QStringList{"replace", data, "alpha", "omega", flags} + files;
}

// The undo line of a file, or nothing.
QString lineOf(const QStringList &lines, const QString &name)
{
    for (const QString &line : lines) {
        if (line.contains('/' + name + ":  "))
            return line;
    }
    return {};
}

// Rows for every call a run or an undo makes under the journal's folder;
// "one file" traces one file's whole keep-swap-record sequence, on the
// files' side as much as on the journal's.
// Whether some file in the journal holds these bytes.
bool keptIn(const QString &state, const QByteArray &bytes)
{
    QDirIterator it(state, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (readFile(it.next()) == bytes)
            return true;
    }
    return false;
}

// flagSets: the runs traced, each file synced (e) or not.
void journalRows(const QString &command, const QStringList &flagSets = {"j", "je"})
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("call");
    for (const QString &flags : flagSets) {
        Place place;
        QStringList calls;
        if (command == "replace") {
            calls = traceCalls(replaceArgs(place.data, flags), place.state);
        } else if (command == "one file") {
            calls = traceCalls(replaceArgs(place.data, flags, {"first.txt"}), place.root.path());
        } else {
            runHere(replaceArgs(place.data, flags));
            calls = traceCalls({"undo", flags}, place.root.path());
        }
        if (calls.size() < 4)
            qFatal("the trace saw only %d calls: is the fault library preloaded?", int(calls.size()));
        for (int i = 0; i < calls.size(); ++i) {
            QTest::addRow("%s %s #%d %s", qPrintable(command), qPrintable(flags), i + 1,
                          qPrintable(describeCall(calls[i], command == "replace" ? place.state : place.root.path())))
                << flags << i + 1 << calls[i].section(' ', 0, 0);
        }
    }
}

} // namespace

class tst_FaultsJournal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Each test points XDG_STATE_HOME at its own folder; this keeps the
        // one ctest gave back in place afterwards.
        m_state = qgetenv("XDG_STATE_HOME");
    }

    void cleanup() { qputenv("XDG_STATE_HOME", m_state); }

    // A failing journal call never stops the run; a file whose line does not
    // say it cannot be undone, in a run that reported no journal problem,
    // comes back whole.
    void journalCallFails_data() { journalRows("replace"); }

    void journalCallFails()
    {
        QFETCH(QString, flags);
        QFETCH(int, nth);
        Place place;
        Fault fault;
        fault.dir = place.state;
        fault.call = "*";
        fault.nth = nth;
        const DriverRun run = runDriver(replaceArgs(place.data, flags), fault);
        QVERIFY(!run.killed);
        QCOMPARE(run.lines.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(run.lines[i].startsWith(names[i] + ":  replaced"), qPrintable(run.lines[i]));
            QVERIFY(place.isAfter(names[i]));
        }
        const bool journalFailed = !run.errors.isEmpty();
        // The journal's last sync failing leaves Undo working, but not after
        // a crash: the run says so.
        QFETCH(QString, call);
        if (flags == "j" && (call == "fdatasync" || call == "fsync"))
            QVERIFY2(run.errors.contains("could not be saved to the disk"), qPrintable(run.errors));

        const DriverRun undo = runHere({"undo", "-"});
        for (int i = 0; i < 2; ++i) {
            const QString line = lineOf(undo.lines, names[i]);
            const bool promised = !journalFailed && !run.lines[i].contains("cannot be undone");
            if (promised)
                QVERIFY2(line.endsWith(":  restored"), qPrintable(run.errors + undo.lines.join('\n')));
            QVERIFY2(line.endsWith(":  restored") ? place.isBefore(names[i]) : place.isAfter(names[i]),
                     qPrintable(line));
        }
        QCOMPARE(strangers(place.data, names), QStringList());
    }

    // Killed at every journal call of a run: Undo puts back only what the
    // run completed and recorded whole.
    // A run with each file synced makes every call of one without, in the
    // same order, and a sync of each file and of the journal's folder
    // between them (the trace shows it): a kill -9 at any call of the one
    // without leaves what the kill at the same call of this one leaves,
    // since a sync changes nothing a kill can lose.
    void runKilled_data() { journalRows("replace", {"je"}); }

    void runKilled()
    {
        QFETCH(QString, flags);
        QFETCH(int, nth);
        for (const char *action : {"kill-before", "kill-after"}) {
            Place place;
            Fault fault;
            fault.dir = place.state;
            fault.call = "*";
            fault.nth = nth;
            fault.action = action;
            const DriverRun run = runDriver(replaceArgs(place.data, flags), fault);
            QVERIFY2(run.killed, action);
            const DriverRun undo = runHere({"undo", "-"});
            for (const QString &name : names) {
                const QString line = lineOf(undo.lines, name);
                QVERIFY2(place.isBefore(name) || place.isAfter(name), qPrintable(name));
                if (line.endsWith(":  restored"))
                    QVERIFY2(place.isBefore(name), qPrintable(line));
            }
        }
    }

    // kill -9 at each step of one file's keep, swap and record: whatever
    // the step, the record Undo needs was written before the file was
    // replaced, so Undo puts the file back. A file changed after such a
    // run is left as it is, and the old content the journal kept of it
    // stays there, listed, for a later Undo.
    // Traced with each file synced (each record written) and without (the
    // records copied into the manifest's mapped room, where a kill finds
    // them, with zeros after them that Undo reads past).
    void oneFileKilledAtEachStep_data() { journalRows("one file"); }

    void oneFileKilledAtEachStep()
    {
        QFETCH(QString, flags);
        QFETCH(int, nth);
        for (const char *action : {"kill-before", "kill-after"}) {
            Place place;
            Fault fault;
            fault.dir = place.root.path();
            fault.call = "*";
            fault.nth = nth;
            fault.action = action;
            const DriverRun run = runDriver(replaceArgs(place.data, flags, {"first.txt"}), fault);
            QVERIFY2(run.killed, action);
            QVERIFY(place.isBefore("first.txt") || place.isAfter("first.txt"));
            if (place.isAfter("first.txt")) {
                writeFile(place.data + "/first.txt", sampleAfter + "a later line\n");
                const DriverRun refused = runHere({"undo", "-"});
                QVERIFY2(lineOf(refused.lines, "first.txt").contains(":  failed: it was changed since the run"),
                         qPrintable(refused.lines.join('\n')));
                QVERIFY2(keptIn(place.state, sampleBefore), action);
                const QList<JournalEntry> entries = Journal().entries();
                QVERIFY(!entries.isEmpty());
                QCOMPARE(entries.first().files, 1);
                writeFile(place.data + "/first.txt", sampleAfter);
            }
            const DriverRun undo = runHere({"undo", "-"});
            const QString line = lineOf(undo.lines, "first.txt");
            QVERIFY2(place.isBefore("first.txt"), qPrintable(QString(action) + ' ' + undo.lines.join('\n')));
            QVERIFY2(line.isEmpty() || line.endsWith(":  restored"), qPrintable(line));
            QCOMPARE(strangers(place.data, names), QStringList());
        }
    }

    // Runs are ordered by their number, never by the clock: a run made with
    // the clock set back a day is still the last run, and Undo takes it
    // back, and only it.
    void clockSetBack()
    {
        Place place;
        QVERIFY(!runDriver(replaceArgs(place.data, "j", {"first.txt"})).killed);
        Fault back;
        back.dir = place.root.path();
        back.clockShift = -86400;
        QVERIFY(!runDriver(replaceArgs(place.data, "j", {"second.txt"}), back).killed);
        const QList<JournalEntry> entries = Journal().entries();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].run, 2);
        QVERIFY2(entries[0].time < entries[1].time.addSecs(-3600), "the clock shim did not set the clock back");
        const DriverRun undo = runDriver({"undo", "-"});
        QCOMPARE(undo.lines.size(), 1);
        QVERIFY2(lineOf(undo.lines, "second.txt").endsWith(":  restored"), qPrintable(undo.lines.join('\n')));
        QVERIFY(place.isBefore("second.txt"));
        QVERIFY(place.isAfter("first.txt"));
        const DriverRun again = runDriver({"undo", "-"});
        QVERIFY2(again.lines.join('\n').contains("undone already"), qPrintable(again.lines.join('\n')));
        QVERIFY(place.isAfter("first.txt"));
    }

    // kill -9 in the middle of a run over many files, four in work at once:
    // every file is old or new, and each file Undo names as restored is old.
    void manyFilesKilledMidway()
    {
        Place place;
        QStringList files;
        for (int i = 0; i < 60; ++i) {
            files << QStringLiteral("m%1.txt").arg(i, 2, 10, QLatin1Char('0'));
            writeFile(place.data + '/' + files.last(), "alpha " + QByteArray::number(i));
        }
        Fault fault;
        fault.dir = place.data;
        fault.call = "rename";
        fault.nth = 30; // about half of the files, their records made
        fault.action = "kill-before";
        const DriverRun run = runDriver(replaceArgs(place.data, "jp", files), fault);
        QVERIFY(run.killed);
        const DriverRun undo = runDriver({"undo", "-"});
        int restored = 0;
        for (int i = 0; i < files.size(); ++i) {
            const QByteArray content = readFile(place.data + '/' + files[i]);
            const bool before = content == "alpha " + QByteArray::number(i);
            QVERIFY2(before || content == "omega " + QByteArray::number(i), content.constData());
            if (lineOf(undo.lines, files[i]).endsWith(":  restored")) {
                QVERIFY(before);
                ++restored;
            }
        }
        QVERIFY2(restored >= 20, qPrintable(undo.lines.join('\n')));
    }

    // Where the file system cannot swap two files, the old file is kept by a
    // link made just before a plain rename; and where another program changes
    // the file at the moment of the swap, the run sees it in what the swap
    // took out, swaps back, and says so: the other program's content stays in
    // place, and the run's is nowhere.
    void withoutSwapAndAfterARace()
    {
        {
            Place place;
            Fault fault;
            fault.dir = place.root.path();
            fault.noRenameat2 = true;
            const DriverRun run = runDriver(replaceArgs(place.data, "j"), fault);
            QCOMPARE(run.lines, QStringList({"first.txt:  replaced", "second.txt:  replaced"}));
            const DriverRun undo = runDriver({"undo", "-"});
            for (const QString &name : names) {
                QVERIFY2(lineOf(undo.lines, name).endsWith(":  restored"), qPrintable(undo.lines.join('\n')));
                QVERIFY(place.isBefore(name));
            }
        }
        {
            Place place;
            Fault fault;
            fault.dir = place.data;
            fault.call = "rename";
            fault.nth = 1;
            fault.action = "change";
            fault.changePath = place.data + "/first.txt";
            fault.changeData = " and a late line\n";
            const DriverRun run = runDriver(replaceArgs(place.data, "j", {"first.txt"}), fault);
            QCOMPARE(run.lines.size(), 1);
            QVERIFY2(run.lines[0].startsWith("first.txt:  failed: it was changed by another program"),
                     qPrintable(run.lines[0]));
            QCOMPARE(readFile(place.data + "/first.txt"), sampleBefore + fault.changeData);
            QVERIFY(!keptIn(place.state, sampleAfter));
            QCOMPARE(allEntries(place.data), QStringList({"first.txt", "second.txt"}));
        }
    }

    // Undo itself failing or killed at each of its calls (on the files and
    // on the journal): a file is old or new, never anything else, and a
    // second undo takes back what the first left.
    void undoFailsOrIsKilled_data() { journalRows("undo"); }

    void undoFailsOrIsKilled()
    {
        QFETCH(QString, flags);
        QFETCH(int, nth);
        for (const char *action : {"fail", "kill-before", "kill-after"}) {
            Place place;
            runHere(replaceArgs(place.data, flags));
            QVERIFY(place.isAfter("first.txt") && place.isAfter("second.txt"));
            Fault fault;
            fault.dir = place.root.path();
            fault.call = "*";
            fault.nth = nth;
            fault.action = action;
            runDriver({"undo", flags}, fault);
            for (const QString &name : names)
                QVERIFY2(place.isBefore(name) || place.isAfter(name), qPrintable(name + ' ' + action));
            runHere({"undo", flags});
            for (const QString &name : names)
                QVERIFY2(place.isBefore(name), qPrintable(name + ' ' + action));
            QCOMPARE(strangers(place.data, names), QStringList());
        }
    }

private:
    QByteArray m_state;
};

QTEST_GUILESS_MAIN(tst_FaultsJournal)
#include "tst_faults_journal.moc"
