// SPDX-License-Identifier: MIT
// The German translation is complete and is what a German desktop sees: a
// string added to the sources without a translation fails here, and so does
// a window that comes up in English under LANG=de_DE.UTF-8.
#include "tests/ui/FakeServices.h"
#include "engine/runs/Runs.h"
#include "ui/common/KeyboardAccess.h"
#include "ui/common/Translations.h"
#include "ui/frmMain/frmMain.h"
#include "ui/frmViewer/frmViewer.h"
#include "ui/help/frmAbout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QDir>
#include <QDirIterator>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTranslator>
#include <QXmlStreamReader>

#include <sys/xattr.h>

namespace {

const QString sourceDir = QStringLiteral(VEXALO_SOURCE_DIR);
const QString germanTs = sourceDir + QStringLiteral("/translations/vexalo_de.ts");

struct Message {
    QString context;
    QString source;
    QStringList translations; // one, or one per plural form
    bool unfinished = false;
};

QList<Message> readTs(const QString &path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            current = Message{context, {}, {}, false};
        } else if (name == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            const auto type = xml.attributes().value(QLatin1String("type"));
            current.unfinished = !type.isEmpty(); // unfinished, vanished or obsolete
            QString text;
            QStringList forms;
            while (!(xml.isEndElement() && xml.name() == QLatin1String("translation")) && !xml.atEnd()) {
                xml.readNext();
                if (xml.isCharacters())
                    text += xml.text();
                else if (xml.isStartElement() && xml.name() == QLatin1String("numerusform"))
                    forms << xml.readElementText();
            }
            current.translations = forms.isEmpty() ? QStringList{text} : forms;
            messages << current;
        }
    }
    return messages;
}

QString germanFor(const QString &context, const QString &source)
{
    for (const Message &m : readTs(germanTs)) {
        if (m.context == context && m.source == source)
            return m.translations.value(0);
    }
    return {};
}

// Every access key of one window that another control or menu title of the
// window shares, and every one a menu's items share; with the captions that
// have none in missing.
QStringList clashesIn(QWidget *window, QStringList *missing)
{
    QStringList clashes;
    auto claim = [&](QHash<QChar, QString> &scope, const QString &caption, const QString &who) {
        const QChar key = keyboard::accessKeyOf(caption);
        if (key.isNull()) {
            missing->append(who + QStringLiteral(" \"") + caption + QLatin1Char('"'));
            return;
        }
        if (scope.contains(key))
            clashes << QStringLiteral("%1: %2 and %3")
                           .arg(key, scope.value(key), who + QStringLiteral(" \"") + caption + QLatin1Char('"'));
        else
            scope.insert(key, who + QStringLiteral(" \"") + caption + QLatin1Char('"'));
        qInfo().noquote() << QStringLiteral("Alt+%1: %2").arg(key.toUpper(), scope.value(key));
    };
    QHash<QChar, QString> windowKeys;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->text().isEmpty() && button->isVisibleTo(window))
            claim(windowKeys, button->text(), button->objectName());
    }
    if (auto *main = qobject_cast<QMainWindow *>(window)) {
        for (QAction *title : main->menuBar()->actions())
            claim(windowKeys, title->text(), QStringLiteral("menu"));
    }
    for (QMenu *menu : window->findChildren<QMenu *>()) {
        QHash<QChar, QString> items;
        for (QAction *item : menu->actions()) {
            // Only a menu whose items have keys at all must keep them apart.
            if (!item->isSeparator() && !keyboard::accessKeyOf(item->text()).isNull())
                claim(items, item->text(), menu->objectName());
        }
    }
    return clashes;
}

// The translators of the program and of Qt, as a desktop in that language
// gets them.
void useLanguage(QLocale::Language language)
{
    for (QTranslator *translator : qApp->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QLocale::setDefault(QLocale(language));
    QVERIFY(translations::install(qApp, QLocale(language)));
}

// The translation contexts the program asks for: tr() of a class with
// Q_OBJECT takes the class's name, Q_DECLARE_TR_FUNCTIONS names its own, and
// translate() and QT_TRANSLATE_NOOP name theirs.
QSet<QString> contextsAskedFor()
{
    static const QRegularExpression named(
        QStringLiteral("(?:translate|QT_TRANSLATE_NOOP)\\(\\s*\"([^\"]+)\"|Q_DECLARE_TR_FUNCTIONS\\((\\w+)\\)"));
    static const QRegularExpression qobjectClass(
        QStringLiteral("class\\s+(\\w+)[^;{]*\\{\\s*(?:public:\\s*)?Q_OBJECT"));
    static const QRegularExpression enclosing(QStringLiteral("namespace\\s+([\\w:]+)\\s*\\{"));
    QSet<QString> contexts;
    for (const QString &layer : {QStringLiteral("ui"), QStringLiteral("settings"), QStringLiteral("platform"),
                                 QStringLiteral("engine"), QStringLiteral("app")}) {
        QDirIterator it(sourceDir + QLatin1Char('/') + layer, {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            for (auto m = named.globalMatch(text); m.hasNext();) {
                const auto match = m.next();
                contexts.insert(match.captured(1).isEmpty() ? match.captured(2) : match.captured(1));
            }
            const auto space = enclosing.match(text);
            for (auto m = qobjectClass.globalMatch(text); m.hasNext();) {
                const auto match = m.next();
                contexts.insert(match.captured(1));
                if (space.hasMatch() && space.capturedStart() < match.capturedStart())
                    contexts.insert(space.captured(1) + QStringLiteral("::") + match.captured(1));
            }
        }
    }
    return contexts;
}

} // namespace

class tst_Translations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everySourceStringHasAGermanTranslation();
    void placeholdersSurviveTranslation();
    void windowsShowGermanUnderAGermanLocale();
    void programAnswersInGerman();
    void compiledTranslationsAnswerWhatTheProgramAsks();
    void accessKeysDoNotClash_data();
    void accessKeysDoNotClash();
    void countsInTheLanguagesOwnForms_data();
    void countsInTheLanguagesOwnForms();
    void metadataFailureInGerman();
};

void tst_Translations::initTestCase()
{
    QCOMPARE(QLocale::system().language(), QLocale::German);
    QVERIFY2(translations::install(qApp), qPrintable(translations::folder()));
}

void tst_Translations::everySourceStringHasAGermanTranslation()
{
    // Scan today's sources into a copy of the committed file, as
    // `make translations` would: what it adds or drops is what is missing.
    QTemporaryDir dir;
    const QString scanned = dir.filePath(QStringLiteral("vexalo_de.ts"));
    QVERIFY(QFile::copy(germanTs, scanned));
    QProcess lupdate;
    lupdate.setWorkingDirectory(sourceDir);
    lupdate.start(QStringLiteral(VEXALO_LUPDATE),
                  {QStringLiteral("-I"), QStringLiteral("."), QStringLiteral("-no-obsolete"),
                   QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("ui"),
                   QStringLiteral("settings"), QStringLiteral("platform"), QStringLiteral("engine"),
                   QStringLiteral("app"), QStringLiteral("-ts"), scanned});
    QVERIFY(lupdate.waitForFinished(120000));
    QCOMPARE(lupdate.exitCode(), 0);

    const QList<Message> committed = readTs(germanTs);
    const QList<Message> current = readTs(scanned);
    QVERIFY(current.size() > 50);
    QStringList untranslated;
    for (const Message &m : current) {
        if (m.unfinished || m.translations.isEmpty() || m.translations.contains(QString()))
            untranslated << m.context + QStringLiteral(": ") + m.source;
    }
    QVERIFY2(untranslated.isEmpty(),
             qPrintable(QStringLiteral("not translated to German (run `make translations`, then translate "
                                       "translations/vexalo_de.ts):\n")
                        + untranslated.join(QLatin1Char('\n'))));
    // Strings that left the sources leave the file too, or it grows stale.
    QCOMPARE(current.size(), committed.size());
}

void tst_Translations::placeholdersSurviveTranslation()
{
    // A translation that drops %1 shows a message without its file name.
    static const QRegularExpression placeholder(QStringLiteral("%(\\d|n)"));
    for (const Message &m : readTs(germanTs)) {
        QStringList wanted;
        for (auto it = placeholder.globalMatch(m.source); it.hasNext();)
            wanted << it.next().captured();
        wanted.sort();
        for (const QString &translation : m.translations) {
            QStringList found;
            for (auto it = placeholder.globalMatch(translation); it.hasNext();)
                found << it.next().captured();
            found.sort();
            QVERIFY2(found == wanted, qPrintable(m.source + QStringLiteral(" -> ") + translation));
        }
    }
}

void tst_Translations::windowsShowGermanUnderAGermanLocale()
{
    QTemporaryDir dir;
    FakeServices fakes;
    fakes.places.program = dir.path();
    fakes.places.working = dir.path();
    frmMain window(fakes.services());
    window.useSettingsFile(dir.filePath(QStringLiteral("store.conf")));
    window.startUp();
    window.show();

    // The access keys are marked in the captions after they are translated
    // (each language may underline its own letter), so a caption is compared
    // and measured as it is read: without the marks.
    const auto read = [](QString caption) { return caption.remove(QLatin1Char('&')); };
    // The captions a user reads first, each as the German file has it.
    const QList<std::pair<QString, QString>> shown = {
        {read(window.cmdReplace->text()), QStringLiteral("Replace")},
        {read(window.cmdRestore->text()), QStringLiteral("Restore")},
        {window.Label1->text(), QStringLiteral("Replace This:")},
        {window.Label2->text(), QStringLiteral("With This:")},
        {window.lblFolders->text(), QStringLiteral("Last Folder:")},
        {read(window.chkBackup->text()), QStringLiteral("Create Backups")},
        {read(window.mnuHelp->title()), QStringLiteral("Help")},
    };
    for (const auto &[text, english] : shown) {
        QVERIFY2(text != english, qPrintable(english + QStringLiteral(" is shown in English")));
        QCOMPARE(text, read(germanFor(QStringLiteral("frmMain"), english)));
    }
    // No button or label of the window is left in English.
    const QList<Message> german = readTs(germanTs);
    for (QWidget *w : window.findChildren<QWidget *>()) {
        QString text;
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            text = read(button->text());
        else if (auto *label = qobject_cast<QLabel *>(w))
            text = label->text();
        for (const Message &m : german) {
            if (!text.isEmpty() && read(m.source) == text && read(m.translations.value(0)) != text)
                QFAIL(qPrintable(w->objectName() + QStringLiteral(" shows English: ") + text));
        }
    }

    // German runs longer than English, and the window's buttons have the
    // sizes they always had: a caption must fit inside its button.
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        const int needed = button->fontMetrics().horizontalAdvance(read(button->text()));
        QVERIFY2(needed + 4 <= button->contentsRect().width(),
                 qPrintable(QStringLiteral("\"%1\" does not fit %2 (%3 of %4 pixels)")
                                .arg(button->text(), button->objectName())
                                .arg(needed)
                                .arg(button->contentsRect().width())));
    }

    // German wordings that fit at the window's own size: "Sicherungen
    // anlegen" and "Letzter Ordner:" were once shrunk to about 7 pixels.
    const qreal normal = window.centralWidget()->font().pointSizeF();
    for (QWidget *captioned :
         std::initializer_list<QWidget *>{window.lblPattern, window.Label1, window.Label2, window.Label3,
                                          window.lblFolders, window.chkBackup, window.chkCaseSensitive, window.chkTrim})
        QVERIFY2(captioned->font().pointSizeF() == normal,
                 qPrintable(captioned->objectName() + QStringLiteral(" is shrunk")));
    QCOMPARE(read(window.cmdExit->text()), QStringLiteral("Beenden"));

    frmViewer viewer(fakes.services());
    QCOMPARE(viewer.windowTitle(), germanFor(QStringLiteral("frmViewer"), QStringLiteral("Viewer")));
    frmAbout about;
    QCOMPARE(about.windowTitle(), germanFor(QStringLiteral("frmAbout"), QStringLiteral("About Vexalo")));

    // Qt's own dialogs (message box buttons, file dialogs) speak German too.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
}

void tst_Translations::programAnswersInGerman()
{
    // The program itself, started by a German desktop, finds its translations
    // from where it was built (or installed) and loads them.
    QProcess program;
    program.start(QStringLiteral(VEXALO_GUI_PATH), {QStringLiteral("--help")});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    const QString help = QString::fromUtf8(program.readAllStandardOutput());
    const QString description = germanFor(QStringLiteral("main"),
                                          QStringLiteral("Finds a text in a set of files and replaces it, in one "
                                                         "batch, in a window.\nvexalo4-cli does the same on the "
                                                         "command line."));
    QVERIFY(!description.isEmpty());
    QVERIFY2(help.contains(description), qPrintable(help));
    // And Qt's description of --help, from Qt's own German translation.
    QVERIFY2(!help.contains(QStringLiteral("Displays help on commandline options.")), qPrintable(help));
}

// A context the sources never ask for is a translation nobody sees: the
// metadata copier's messages once sat under "vexalo::FileMetadata" while the
// program asked for "FileMetadata". Checked against the .qm files the
// program loads, not only the .ts.
void tst_Translations::compiledTranslationsAnswerWhatTheProgramAsks()
{
    const QSet<QString> asked = contextsAskedFor();
    QVERIFY(asked.contains(QStringLiteral("frmMain")) && asked.contains(QStringLiteral("FileMetadata")));
    QTranslator compiled;
    QVERIFY(compiled.load(QStringLiteral("vexalo_de"), translations::folder()));
    QStringList wrong;
    for (const Message &m : readTs(germanTs)) {
        if (!asked.contains(m.context))
            wrong << QStringLiteral("context %1 is never asked for: %2").arg(m.context, m.source);
        const QString got = compiled.translate(qPrintable(m.context), qPrintable(m.source), nullptr,
                                               m.translations.size() > 1 ? 2 : -1);
        if (got.isEmpty() || !m.translations.contains(got))
            wrong << QStringLiteral("%1: \"%2\" not in the .qm as in the .ts").arg(m.context, m.source);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void tst_Translations::accessKeysDoNotClash_data()
{
    QTest::addColumn<QLocale::Language>("language");
    QTest::newRow("English") << QLocale::English;
    QTest::newRow("German") << QLocale::German;
}

// German "Ausführe&n" and "E&nde" once shared N, and Alt+N then Enter ended
// the program: in each shipped language, each window's keys are its own.
void tst_Translations::accessKeysDoNotClash()
{
    QFETCH(QLocale::Language, language);
    useLanguage(language);
    QTemporaryDir dir;
    FakeServices fakes;
    fakes.places.program = dir.path();
    fakes.places.working = dir.path();
    frmMain window(fakes.services());
    frmViewer viewer(fakes.services());
    frmAbout about;
    for (QWidget *shown : std::initializer_list<QWidget *>{&window, &viewer, &about}) {
        QStringList missing;
        const QStringList clashes = clashesIn(shown, &missing);
        QVERIFY2(clashes.isEmpty(),
                 qPrintable(shown->objectName() + QLatin1Char('\n') + clashes.join(QLatin1Char('\n'))));
        QVERIFY2(
            missing.isEmpty(),
            qPrintable(shown->objectName() + QStringLiteral(" has no key: ") + missing.join(QStringLiteral(", "))));
    }
    // The window's captions are this language's.
    QCOMPARE(QString(window.mnuHelp->title()).remove(QLatin1Char('&')),
             language == QLocale::German ? QStringLiteral("Hilfe") : QStringLiteral("Help"));
    useLanguage(QLocale::German);
}

void tst_Translations::countsInTheLanguagesOwnForms_data()
{
    QTest::addColumn<QLocale::Language>("language");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("stopped");
    QTest::newRow("English, one")
        << QLocale::English << 1 << "Preview: 1 file, 1 with matches, 1 match in all, 0 would fail; nothing was written"
        << "Stopped: 1 file was not processed.";
    QTest::newRow("English, thousands") << QLocale::English << 19221
                                        << "Preview: 19,221 files, 19,221 with matches, 19,221 matches in all, 0 would "
                                           "fail; nothing was written"
                                        << "Stopped: 19,221 files were not processed.";
    QTest::newRow("German, one") << QLocale::German << 1
                                 << "Vorschau: 1 Datei, 1 mit Treffern, 1 Treffer insgesamt, 0 würden scheitern; "
                                    "nichts wurde geschrieben"
                                 << "Angehalten: 1 Datei wurde nicht bearbeitet.";
    QTest::newRow("German, thousands") << QLocale::German << 19221
                                       << "Vorschau: 19.221 Dateien, 19.221 mit Treffern, 19.221 Treffer insgesamt, 0 "
                                          "würden scheitern; nichts wurde geschrieben"
                                       << "Angehalten: 19.221 Dateien wurden nicht bearbeitet.";
}

// "1 files", "5 file(s)" and "19221" once: each count takes the language's
// plural form and its way of writing numbers.
void tst_Translations::countsInTheLanguagesOwnForms()
{
    QFETCH(QLocale::Language, language);
    QFETCH(int, files);
    QFETCH(QString, summary);
    QFETCH(QString, stopped);
    useLanguage(language);
    vexalo::FileResult matched;
    matched.outcome = vexalo::Outcome::Matched;
    matched.matches = 1;
    const QList<vexalo::FileResult> results(files, matched);
    QCOMPARE(vexalo::previewSummary(results), summary);
    QCOMPARE(QCoreApplication::translate("frmMain", "Stopped: %Ln files were not processed.", nullptr, files), stopped);
    useLanguage(QLocale::German);
}

// The metadata copier's failures reach the German window in German. The
// fault shim is preloaded for this test and makes every fsetxattr under
// VXF_DIR fail, so a file's extended attribute cannot be kept there.
void tst_Translations::metadataFailureInGerman()
{
    const QString folder = qEnvironmentVariable("VXF_DIR");
    if (folder.isEmpty() || !qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral("faultshim")))
        QSKIP("the fault shim is not preloaded");
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/a.htm");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("alpha") == 5);
    file.close();
    if (::setxattr(QFile::encodeName(path).constData(), "user.vexalo", "1", 1, 0) != 0)
        QSKIP("this file system keeps no user attributes");

    QTemporaryDir program;
    FakeServices fakes;
    fakes.places.program = program.path();
    fakes.places.working = program.path();
    frmMain window(fakes.services());
    window.useSettingsFile(program.filePath(QStringLiteral("store.conf")));
    window.startUp();
    window.show();
    QVERIFY(window.setDir1Path(folder, nullptr));
    QTest::mouseClick(window.cmdSelectAll, Qt::LeftButton);
    window.txtFindString->setPlainText(QStringLiteral("alpha"));
    window.txtReplaceString->setPlainText(QStringLiteral("omega"));
    QTest::mouseClick(window.cmdReplace, Qt::LeftButton);

    const QString german =
        germanFor(QStringLiteral("FileMetadata"), QStringLiteral("its extended attribute %1 could not be kept"));
    QVERIFY(!german.isEmpty());
    const QString line = window.txtResults->toPlainText();
    QVERIFY2(line.startsWith(QStringLiteral("a.htm:  ")) && line.contains(german.arg(QStringLiteral("user.vexalo"))),
             qPrintable(line));
    QFile kept(path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("alpha"));
}

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
