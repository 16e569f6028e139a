// SPDX-License-Identifier: MIT
// The German translation is complete and is what a German desktop sees: a
// string added to the sources without a translation fails here, and so does
// a window that comes up in English under LANG=de_DE.UTF-8.
#include "tests/ui/FakeServices.h"
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
#include <QXmlStreamReader>

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

} // namespace

class tst_Translations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everySourceStringHasAGermanTranslation();
    void placeholdersSurviveTranslation();
    void windowsShowGermanUnderAGermanLocale();
    void programAnswersInGerman();
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
    const QString description =
        germanFor(QStringLiteral("main"), QStringLiteral("Finds a text in a set of files and replaces it, in one "
                                                         "batch, in a window.\nvexalo4-cli does the same on the "
                                                         "command line."));
    QVERIFY(!description.isEmpty());
    QVERIFY2(help.contains(description), qPrintable(help));
    // And Qt's description of --help, from Qt's own German translation.
    QVERIFY2(!help.contains(QStringLiteral("Displays help on commandline options.")), qPrintable(help));
}

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
