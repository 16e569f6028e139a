// SPDX-License-Identifier: MIT
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "tests/common/TestFiles.h"
#include "ui/common/Twips.h"
#include "ui/frmViewer/ViewerLayout.h"
#include "ui/frmViewer/ViewerSave.h"
#include "ui/frmViewer/frmViewer.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringConverter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QLocale>
#include <QTest>

#include <memory>

namespace {

class FakeMessageBoxes : public MessageBoxes {
public:
    QList<MessageRequest> shown;
    QList<MessageAnswer> answers; // OK once it runs dry
    MessageAnswer show(QWidget *, const MessageRequest &request) override
    {
        shown.append(request);
        return answers.isEmpty() ? MessageAnswer::Ok : answers.takeFirst();
    }
};

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// QTest::keyClicks knows ASCII only; this types any character as a key press
// that carries it, as a keyboard layout with that key would.
void typeText(QWidget *widget, const QString &text)
{
    // A character outside the BMP is one key press of two UTF-16 units.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype units = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, units), Qt::NoModifier);
        i += units - 1;
    }
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class tst_Viewer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unchangedSaveKeepsTheBytes_data();
    void unchangedSaveKeepsTheBytes();
    void lineBreakOfTheFile_data();
    void lineBreakOfTheFile();
    void editedSaveKeepsEncodingAndLineBreaks_data();
    void editedSaveKeepsEncodingAndLineBreaks();
    void emptyTextSavesAnEmptyFile();
    void failingSaveKeepsFileAndTexts_data();
    void failingSaveKeepsFileAndTexts();
    void characterOutsideTheEncodingIsRefused();
    void changedOnDiskAsksBeforeOverwriting_data();
    void changedOnDiskAsksBeforeOverwriting();
    void reloadShowsTheNewContent();
    void largeFileIsRefused_data();
    void largeFileIsRefused();
    void windowGoesOnWhileLoading();
    void closesWithoutAQuestion();
    void savesFromTheKeyboard();
    void resizeRule_data();
    void resizeRule();
    void textBoxFollowsTheWindow();

private:
    frmViewer *openViewer();
    void save();

    std::unique_ptr<QTemporaryDir> m_dir;
    FakeMessageBoxes m_messages;
    QPointer<frmViewer> m_viewer;
};

void tst_Viewer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void tst_Viewer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messages.shown.clear();
    m_messages.answers.clear();
}

void tst_Viewer::cleanup()
{
    delete m_viewer;
    m_dir.reset();
}

frmViewer *tst_Viewer::openViewer()
{
    m_viewer = new frmViewer(Services{&m_messages, nullptr, nullptr, nullptr});
    m_viewer->show();
    return m_viewer;
}

void tst_Viewer::save()
{
    QTest::mouseClick(m_viewer->findChild<QPushButton *>(QStringLiteral("cmdSave")), Qt::LeftButton);
}

void tst_Viewer::unchangedSaveKeepsTheBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("utf-8, lf") << QByteArray("h\xC3\xA9llo\nw\xE2\x82\xACrld\n");
    QTest::newRow("utf-8, cr lf") << QByteArray("<p>\r\n  caf\xC3\xA9\r\n</p>\r\n");
    QTest::newRow("latin-1, cr lf") << QByteArray("caf\xE9\r\nna\xEFve\r\n");
    QTest::newRow("latin-1, lf, no final break") << QByteArray("\xC0 la\n\xBFqu\xE9?");
    QTest::newRow("no final break") << QByteArray("one\r\ntwo");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("only breaks") << QByteArray("\r\n\r\n");
    // The text box cannot show these apart from an ordinary line break or blank.
    QTest::newRow("mixed and lone cr") << QByteArray("a\r\nb\nc\rd");
    QTest::newRow("no-break space, latin-1") << QByteArray("a\xA0"
                                                           "b\r\n");
    QTest::newRow("no-break space, utf-8") << QByteArray("a\xC2\xA0"
                                                         "b\n");
    QTest::newRow("paragraph separators, utf-8") << QByteArray("a\xE2\x80\xA8"
                                                               "b\xE2\x80\xA9"
                                                               "c\n");
    QTest::newRow("nul byte") << QByteArray("a\0b\n", 4);
    const QString text = u"caf\u00E9\r\n\U0001F600 \u20AC\r\n"_qs;
    QTest::newRow("utf-16le, cr lf, mark")
        << QByteArray(QStringEncoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom)(text));
    QTest::newRow("utf-16be, cr lf, mark")
        << QByteArray(QStringEncoder(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom)(text));
    QTest::newRow("utf-8, mark") << QByteArray("\xEF\xBB\xBFh\xC3\xA9llo\n");
}

// The old design appended CR LF on every Save, so a file grew by two bytes
// each time it was opened and saved.
void tst_Viewer::unchangedSaveKeepsTheBytes()
{
    QFETCH(QByteArray, bytes);
    const QString path = m_dir->filePath(QStringLiteral("page.htm"));
    QVERIFY(writeBytes(path, bytes));

    frmViewer *viewer = openViewer();
    QString error;
    QVERIFY2(viewer->loadFile(vexalo::FilePath::fromString(path), &error), qPrintable(error));
    save();
    QCOMPARE(readBytes(path), bytes);
    save();
    QCOMPARE(readBytes(path), bytes);
    QVERIFY(m_messages.shown.isEmpty());
    // No temporary is left beside the file.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("page.htm")});
}

void tst_Viewer::lineBreakOfTheFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("lineBreak");
    QTest::addColumn<QByteArray>("edited");

    QTest::newRow("none") << QByteArray("abc") << "\n" << QByteArray("abc");
    QTest::newRow("lf") << QByteArray("a\nb\n") << "\n" << QByteArray("a\nb\n");
    QTest::newRow("cr lf, latin-1") << QByteArray("\xE0\r\nb\r\n") << "\r\n" << QByteArray("\xE0\r\nb\r\n");
    QTest::newRow("cr") << QByteArray("a\rb\r") << "\r" << QByteArray("a\rb\r");
    // Once edited, a mixed file takes its most frequent line break throughout.
    QTest::newRow("mostly cr lf") << QByteArray("a\r\nb\r\nc\nd") << "\r\n" << QByteArray("a\r\nb\r\nc\r\nd");
    QTest::newRow("tie goes to lf") << QByteArray("a\r\nb\n") << "\n" << QByteArray("a\nb\n");
}

void tst_Viewer::lineBreakOfTheFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, lineBreak);
    QFETCH(QByteArray, edited);
    QCOMPARE(ViewerSave::dominantLineBreak(bytes), lineBreak);

    // Written from the box's text (as after an edit), a file whose lines all
    // end alike comes out with the same line breaks, in the same encoding.
    const vexalo::FileEncoding encoding = vexalo::detectEncoding(bytes);
    QString raw = vexalo::decodeText(bytes, encoding);
    raw.replace(QStringLiteral("\r\n"), QString(QChar::ParagraphSeparator));
    raw.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
    raw.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
    const LoadedText loaded{bytes, encoding, lineBreak, QStringLiteral("not what the box shows")};
    const std::optional<QByteArray> written = ViewerSave::bytesFor(loaded, raw);
    QVERIFY(written);
    QCOMPARE(*written, edited);
}

void tst_Viewer::editedSaveKeepsEncodingAndLineBreaks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<vexalo::FileEncoding>("encoding");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("edited");
    QTest::newRow("latin-1") << QByteArray("caf\xE9\r\nbar") << vexalo::FileEncoding::Latin1 << u"Zo\u00EB"_qs
                             << QByteArray("caf\xE9\r\nbar\r\nZo\xEB");
    // The shown text has no byte-order mark; the saved file keeps it. The
    // expected bytes are Qt's own UTF-16 and UTF-8.
    const QString before = u"caf\u00E9\r\nbar"_qs;
    const QString after = before + u"\r\nZo\u00EB \U0001F600"_qs;
    for (const auto order : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encoder(order, QStringConverter::Flag::WriteBom);
        const QByteArray bytes = encoder(before);
        QStringEncoder again(order, QStringConverter::Flag::WriteBom);
        QTest::newRow(order == QStringConverter::Utf16LE ? "utf-16le" : "utf-16be")
            << bytes
            << (order == QStringConverter::Utf16LE ? vexalo::FileEncoding::Utf16LE : vexalo::FileEncoding::Utf16BE)
            << u"Zo\u00EB \U0001F600"_qs << QByteArray(again(after));
    }
    QTest::newRow("utf-8 with its mark") << QByteArray("\xEF\xBB\xBF") + before.toUtf8() << vexalo::FileEncoding::Utf8
                                         << u"Zo\u00EB \U0001F600"_qs << QByteArray("\xEF\xBB\xBF") + after.toUtf8();
}

void tst_Viewer::editedSaveKeepsEncodingAndLineBreaks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(vexalo::FileEncoding, encoding);
    QFETCH(QString, typed);
    QFETCH(QByteArray, edited);
    const QString path = m_dir->filePath(QStringLiteral("menu.txt"));
    QVERIFY(writeBytes(path, bytes));

    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    QCOMPARE(viewer->encoding(), encoding);
    QPlainTextEdit *box = viewer->findChild<QPlainTextEdit *>(QStringLiteral("txtViewer"));
    QCOMPARE(box->toPlainText(), QStringLiteral(u"caf\u00E9\nbar"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Return);
    typeText(box, typed);
    save();

    QVERIFY(m_messages.shown.isEmpty());
    QCOMPARE(readBytes(path).toHex(' '), edited.toHex(' '));
    QCOMPARE(viewer->findChild<QLineEdit *>(QStringLiteral("txtSave"))->text(), path);
}

// The old design wrote CR LF for an empty text box.
void tst_Viewer::emptyTextSavesAnEmptyFile()
{
    const QString path = m_dir->filePath(QStringLiteral("notes.txt"));
    QVERIFY(writeBytes(path, "something\r\n"));

    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    QPlainTextEdit *box = viewer->txtViewer;
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QVERIFY(box->toPlainText().isEmpty());
    save();

    QVERIFY(m_messages.shown.isEmpty());
    QCOMPARE(QFileInfo(path).size(), 0);
}

void tst_Viewer::failingSaveKeepsFileAndTexts_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("folder gone") << "folder gone";
    QTest::newRow("nothing loaded") << "nothing loaded";
}

void tst_Viewer::failingSaveKeepsFileAndTexts()
{
    QFETCH(QString, failure);
    const QString folder = m_dir->filePath(QStringLiteral("site"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/index.htm");
    const QByteArray bytes("<html>\n</html>\n");
    QVERIFY(writeBytes(path, bytes));

    frmViewer *viewer = openViewer();
    if (failure != QLatin1String("nothing loaded"))
        QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    viewer->txtViewer->setFocus();
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("edited "));
    const QString shownText = viewer->txtViewer->toPlainText();
    const QString shownPath = viewer->txtSave->text();

    if (failure == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    else if (failure == QLatin1String("folder gone"))
        QVERIFY(QDir(folder).removeRecursively());
    save();

    QCOMPARE(m_messages.shown.size(), 1);
    const MessageRequest &message = m_messages.shown.first();
    if (failure == QLatin1String("nothing loaded")) {
        QVERIFY2(message.text.contains(QStringLiteral("no file")), qPrintable(message.text));
    } else {
        // Names the file and gives the reason.
        QVERIFY2(message.text.contains(QDir::toNativeSeparators(path)), qPrintable(message.text));
        QVERIFY2(message.text.contains(failure == QLatin1String("read-only") ? QStringLiteral("read-only")
                                                                             : QStringLiteral("No such file")),
                 qPrintable(message.text));
    }
    QCOMPARE(viewer->txtViewer->toPlainText(), shownText);
    QCOMPARE(viewer->txtSave->text(), shownPath);
    if (failure == QLatin1String("read-only")) {
        QCOMPARE(readBytes(path), bytes);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("index.htm")});
    } else if (failure == QLatin1String("folder gone")) {
        QVERIFY(!QFileInfo::exists(folder));
    }
}

void tst_Viewer::characterOutsideTheEncodingIsRefused()
{
    const QString path = m_dir->filePath(QStringLiteral("price.txt"));
    const QByteArray bytes("Preis: 5 \xA4\n"); // Latin-1
    QVERIFY(writeBytes(path, bytes));

    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    viewer->txtViewer->setFocus();
    QTest::keyClick(viewer->txtViewer, Qt::Key_End, Qt::ControlModifier);
    typeText(viewer->txtViewer, QStringLiteral("\u20AC"));
    const QString shownText = viewer->txtViewer->toPlainText();
    save();

    QCOMPARE(m_messages.shown.size(), 1);
    const QString text = m_messages.shown.first().text;
    QVERIFY2(text.contains(QDir::toNativeSeparators(path)) && text.contains(QStringLiteral("Latin-1")),
             qPrintable(text));
    QCOMPARE(readBytes(path), bytes);
    QCOMPARE(viewer->txtViewer->toPlainText(), shownText);
}

void tst_Viewer::changedOnDiskAsksBeforeOverwriting_data()
{
    QTest::addColumn<QByteArray>("folderName"); // below the test folder; empty for the test folder itself
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<bool>("changeOnDisk");
    QTest::addColumn<int>("answerValue");
    // A name that is not UTF-8, looked up as another name, would seem gone,
    // and the change on disk would be overwritten without a question.
    const std::pair<QByteArray, QByteArray> names[] = {{"", "notes.txt"}, {"pr\xE9g", "caf\xE9.txt"}};
    for (const auto &[folder, file] : names) {
        const QByteArray tag = folder.isEmpty() ? QByteArray() : QByteArray("names not UTF-8, ");
        QTest::newRow(tag + "changed, kept") << folder << file << true << int(MessageAnswer::Cancel);
        QTest::newRow(tag + "changed, overwritten") << folder << file << true << int(MessageAnswer::Ok);
        QTest::newRow(tag + "unchanged, no question") << folder << file << false << int(MessageAnswer::Cancel);
    }
}

// Another program writes the file after the viewer loaded it: Save asks
// (Cancel is the default) and overwrites only on OK; the viewer keeps its
// text either way. A second Save after an overwrite asks no more.
void tst_Viewer::changedOnDiskAsksBeforeOverwriting()
{
    QFETCH(QByteArray, folderName);
    QFETCH(QByteArray, fileName);
    QFETCH(bool, changeOnDisk);
    QFETCH(int, answerValue);
    const auto answer = MessageAnswer(answerValue);
    QByteArray folder = QFile::encodeName(m_dir->path());
    if (!folderName.isEmpty()) {
        folder += '/' + folderName;
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
    }
    const testfiles::RawTreeRemover remover{folderName.isEmpty() ? QByteArray() : folder};
    const vexalo::FilePath path = vexalo::FilePath::fromBytes(folder + '/' + fileName);
    testfiles::writeRawFile(path.bytes(), "first\n");
    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(path, nullptr));
    viewer->txtViewer->setFocus();
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("mine "));
    const QString shownText = viewer->txtViewer->toPlainText();
    const QByteArray theirs("theirs, a longer text\n");
    if (changeOnDisk)
        testfiles::writeRawFile(path.bytes(), theirs);

    m_messages.answers = {answer};
    save();
    QCOMPARE(viewer->txtViewer->toPlainText(), shownText);
    if (!changeOnDisk) {
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(testfiles::readRawFile(path.bytes()), QByteArray("mine first\n"));
        return;
    }
    QCOMPARE(m_messages.shown.size(), 1);
    const MessageRequest &question = m_messages.shown.first();
    QVERIFY2(question.text.contains(path.display()), qPrintable(question.text));
    QCOMPARE(question.buttons, MessageRequest::Buttons::OkCancel);
    QVERIFY(question.cancelIsDefault);
    QCOMPARE(testfiles::readRawFile(path.bytes()), answer == MessageAnswer::Ok ? QByteArray("mine first\n") : theirs);
    QCOMPARE(testfiles::rawEntries(folder), QByteArrayList{fileName});

    save(); // asks again only while the change on disk is still not overwritten
    QCOMPARE(m_messages.shown.size(), answer == MessageAnswer::Ok ? 1 : 2);
}

// A Replace or Restore run reloads the viewer; a later Save must write what
// the reload showed, not the bytes of the first load.
void tst_Viewer::reloadShowsTheNewContent()
{
    const QString path = m_dir->filePath(QStringLiteral("a.htm"));
    QVERIFY(writeBytes(path, "old\r\n"));
    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("unsaved "));

    const QByteArray replaced("new\r\nlines\xA0\r\n"); // now Latin-1
    QVERIFY(writeBytes(path, replaced));
    QString error;
    QVERIFY2(viewer->reload(&error), qPrintable(error));
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("new\nlines \n"));
    QCOMPARE(viewer->encoding(), vexalo::FileEncoding::Latin1);

    save();
    QCOMPARE(readBytes(path), replaced);
    QVERIFY(m_messages.shown.isEmpty());
}

// Files past the limit are refused by their size, before any is read (the
// files here are sparse: no disk and, if read, gigabytes of memory), and the
// viewer keeps what it showed.
void tst_Viewer::largeFileIsRefused_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte over") << frmViewer::maxViewedSize + 1;
    QTest::newRow("200 MB") << qint64(200) * 1000 * 1000;
    QTest::newRow("3 GiB") << (qint64(3) << 30);
}

void tst_Viewer::largeFileIsRefused()
{
    QFETCH(qint64, size);
    const QString small = m_dir->filePath(QStringLiteral("small.txt"));
    QVERIFY(writeBytes(small, "shown\n"));
    const QString big = m_dir->filePath(QStringLiteral("big.log"));
    QFile file(big);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    file.close();

    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(small), nullptr));
    QString error;
    QVERIFY(!viewer->loadFile(vexalo::FilePath::fromString(big), &error));
    const QLocale locale;
    QVERIFY2(error.contains(locale.formattedDataSize(size))
                 && error.contains(locale.formattedDataSize(frmViewer::maxViewedSize)),
             qPrintable(error));
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("shown\n"));
    QCOMPARE(viewer->txtSave->text(), small);
    QVERIFY(!QApplication::overrideCursor());
}

// The largest file the viewer takes is read and decoded while the program's
// events go on, under a busy cursor.
void tst_Viewer::windowGoesOnWhileLoading()
{
    const QString path = m_dir->filePath(QStringLiteral("limit.txt"));
    QByteArray bytes;
    bytes.reserve(frmViewer::maxViewedSize);
    const QByteArray line("caf\xc3\xa9 line of text that fills the file up to the limit\n");
    while (bytes.size() + line.size() <= frmViewer::maxViewedSize)
        bytes += line;
    bytes += QByteArray(frmViewer::maxViewedSize - bytes.size(), 'x');
    QCOMPARE(bytes.size(), frmViewer::maxViewedSize);
    QVERIFY(writeBytes(path, bytes));

    frmViewer *viewer = openViewer();
    int ticks = 0;
    bool busy = false;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        ++ticks;
        busy = busy || (QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    });
    tick.start(0);
    QString error;
    QVERIFY2(viewer->loadFile(vexalo::FilePath::fromString(path), &error), qPrintable(error));
    tick.stop();
    QVERIFY(ticks > 0);
    QVERIFY(busy);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(viewer->encoding(), vexalo::FileEncoding::Utf8);
    QCOMPARE(viewer->txtViewer->document()->characterCount() - 1, QString::fromUtf8(bytes).size());
    QCOMPARE(viewer->txtSave->text(), path);
}

void tst_Viewer::closesWithoutAQuestion()
{
    const QString path = m_dir->filePath(QStringLiteral("a.htm"));
    QVERIFY(writeBytes(path, "text\n"));
    frmViewer *viewer = openViewer();
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("unsaved "));

    QVERIFY(viewer->close());
    QTRY_VERIFY(m_viewer.isNull());
    QVERIFY(m_messages.shown.isEmpty());
    QCOMPARE(readBytes(path), QByteArray("text\n"));
}

void tst_Viewer::savesFromTheKeyboard()
{
    const QString path = m_dir->filePath(QStringLiteral("a.htm"));
    QVERIFY(writeBytes(path, "text\n"));
    frmViewer *viewer = openViewer();
    viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer));
    QVERIFY(viewer->loadFile(vexalo::FilePath::fromString(path), nullptr));
    viewer->txtViewer->setFocus();
    viewer->txtViewer->moveCursor(QTextCursor::Start);
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("1 "));
    QTest::keyClick(viewer->txtViewer, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(readBytes(path), QByteArray("1 text\n"));

    // Enter on the focused Save button, as Space does.
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("2 "));
    viewer->cmdSave->setFocus();
    QTest::keyClick(viewer->cmdSave, Qt::Key_Return);
    QCOMPARE(readBytes(path), QByteArray("1 2 text\n"));
    QCOMPARE(QString(viewer->cmdSave->text()).remove(QLatin1Char('&')), QStringLiteral("Save"));
    QVERIFY(m_messages.shown.isEmpty());

    // Alt with a key the viewer has no use for edits nothing: Alt+H once
    // typed "h" (the main window's Help key, pressed in the wrong window).
    viewer->txtViewer->setFocus();
    for (const QKeyCombination &key :
         {Qt::ALT | Qt::Key_H, Qt::ALT | Qt::Key_N, Qt::ALT | Qt::Key_1, Qt::ALT | Qt::SHIFT | Qt::Key_K})
        QTest::keyClick(viewer->txtViewer, key.key(), key.keyboardModifiers());
    QCOMPARE(viewer->txtViewer->toPlainText(), QStringLiteral("1 2 text\n"));
    // Its own Alt+S still saves, and plain keys still type.
    QTest::keyClicks(viewer->txtViewer, QStringLiteral("h"));
    QTest::keyClick(viewer->txtViewer, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(readBytes(path), QByteArray("1 2 htext\n")); // an access key clicks after a short flash
}

void tst_Viewer::resizeRule_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::addColumn<float>("boxWidth");
    QTest::addColumn<float>("boxHeight");

    // The box starts at 6735 x 6015; a dimension at or below its bound keeps it.
    QTest::newRow("both at the bound") << 350.f << 1200.f << 6735.f << 6015.f;
    QTest::newRow("both below") << 100.f << 0.f << 6735.f << 6015.f;
    QTest::newRow("both just above") << 351.f << 1201.f << 1.f << 1.f;
    QTest::newRow("width only") << 351.f << 1200.f << 1.f << 6015.f;
    QTest::newRow("height only") << 350.f << 1201.f << 6735.f << 1.f;
    QTest::newRow("design size") << 7085.f << 7215.f << 6735.f << 6015.f;
    QTest::newRow("fractional") << 7085.5f << 7215.25f << 6735.5f << 6015.25f;
}

void tst_Viewer::resizeRule()
{
    QFETCH(float, width);
    QFETCH(float, height);
    QFETCH(float, boxWidth);
    QFETCH(float, boxHeight);
    const ViewerLayout::Size size = ViewerLayout::textBoxSize(width, height, {6735.f, 6015.f});
    QCOMPARE(size.width, boxWidth);
    QCOMPARE(size.height, boxHeight);
}

void tst_Viewer::textBoxFollowsTheWindow()
{
    frmViewer *viewer = openViewer();
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    const QRect saveButton = viewer->cmdSave->geometry();
    const QRect pathBox = viewer->txtSave->geometry();

    const auto expectedBox = [viewer] {
        const twips::WindowGeometry outer = twips::outerGeometry(viewer);
        return QSize(twips::toPixels(outer.width - 350), twips::toPixels(outer.height - 1200));
    };
    QCOMPARE(viewer->txtViewer->size(), expectedBox());
    const QRect before = viewer->txtViewer->geometry();

    // Wider and taller by the same amount: the margins on the right and at the
    // bottom stay, the button and the path box do not move.
    viewer->resize(viewer->width() + 100, viewer->height() + 60);
    QTRY_COMPARE(viewer->txtViewer->size(), before.size() + QSize(100, 60));
    QCOMPARE(viewer->txtViewer->pos(), QPoint(8, 40));
    QCOMPARE(viewer->width() - viewer->txtViewer->geometry().right(), 0 + viewer->width() - before.right() - 100);
    QCOMPARE(viewer->cmdSave->geometry(), saveButton);
    QCOMPARE(viewer->txtSave->geometry(), pathBox);

    // Smaller than the frame and margins: the box keeps its last size rather
    // than taking a negative one.
    const QSize last = viewer->txtViewer->size();
    viewer->resize(10, 10);
    QTRY_COMPARE(viewer->size(), QSize(10, 10));
    QVERIFY(twips::outerGeometry(viewer).width <= 350 && twips::outerGeometry(viewer).height <= 1200);
    QCOMPARE(viewer->txtViewer->size(), last);
}

QTEST_MAIN(tst_Viewer)
#include "tst_viewer.moc"
