// SPDX-License-Identifier: MIT
#include "ProtectedList.h"
#include "TextTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace vexalo;

class tst_TextSetup : public QObject {
    Q_OBJECT

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }

private slots:
    void loadingTheList_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing file: the default") << false << QByteArray()
                                                  << ".exe .dll .ocx .xls .jpg .gif .bmp .mp3";
        QTest::newRow("empty file protects nothing") << true << QByteArray() << "";
        QTest::newRow("first line up to CR") << true << QByteArray(".txt .htm\r\n.exe\r\n") << ".txt .htm";
        QTest::newRow("empty first line") << true << QByteArray("\r\n.exe .dll\r\n") << "";
        QTest::newRow("LF alone belongs to the line") << true << QByteArray(".txt\n.htm\n") << ".txt\n.htm\n";
        QTest::newRow("taken unchanged, blanks and capitals too") << true << QByteArray("  .EXE .Dll \rrest")
                                                                  << "  .EXE .Dll ";
        QTest::newRow("UTF-8 like the file names") << true << QByteArray(".caf\xC3\xA9\r\n") << u".caf\u00E9"_qs;
    }
    void loadingTheList()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        if (present)
            writeFile(dir.filePath("exception.txt"), content);
        QCOMPARE(loadProtectedExtensions(dir.path()), expected);
    }

    void listThatIsNotARegularFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("exception.txt"));
        QCOMPARE(loadProtectedExtensions(dir.path()), defaultProtectedExtensions());
    }

    void unreadableListFallsBackToDefault()
    {
        if (::geteuid() == 0)
            QSKIP("root reads any file; needs an ordinary user to make exception.txt unreadable");
        QTemporaryDir dir;
        writeFile(dir.filePath("exception.txt"), "");
        QFile::setPermissions(dir.filePath("exception.txt"), QFileDevice::Permissions());
        QCOMPARE(loadProtectedExtensions(dir.path()), defaultProtectedExtensions());
    }

    void protectedTest_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("isProtected");
        const QString def = defaultProtectedExtensions();
        QTest::newRow("Page.EXE under the default") << "Page.EXE" << def << true;
        QTest::newRow("PHOTO.JPG lower-cased tail") << "PHOTO.JPG" << def << true;
        QTest::newRow("notes.txt") << "notes.txt" << def << false;
        QTest::newRow("x.js") << "x.js" << def << false;
        QTest::newRow("short name exe searched whole") << "exe" << def << true;
        QTest::newRow("short name mp3") << "mp3" << def << true;
        QTest::newRow("x.html not under the default") << "x.html" << def << false;
        QTest::newRow("y.jpeg not under the default") << "y.jpeg" << def << false;
        QTest::newRow("x.html with .html listed") << "x.html" << ".html" << true;
        QTest::newRow("upper-case entry never matches") << "a.exe" << ".EXE" << false;
        QTest::newRow("b.HTM with .txt .htm") << "b.HTM" << ".txt .htm" << true;
        QTest::newRow("exe no longer protected by own list") << "a.exe" << ".txt .htm" << false;
        QTest::newRow("across the blank between entries") << "zip.t .h" << ".txt .htm" << true;
        QTest::newRow("empty list protects nothing") << "a.exe" << "" << false;
        // The last four characters, dot included, are what is looked for.
        QTest::newRow("logo_jpg without a dot") << "logo_jpg" << def << false;
        QTest::newRow("entries without dots protect no a.txt") << "a.txt" << "txt htm" << false;
    }
    void protectedTest()
    {
        QFETCH(QString, name);
        QFETCH(QString, list);
        QFETCH(bool, isProtected);
        QCOMPARE(vexalo::isProtected(name, list), isProtected);
    }

    void trimming_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two CR LF pairs") << "abc\r\n\r\n" << "abc";
        QTest::newRow("LF line breaks of this platform") << "abc\n\n" << "abc";
        QTest::newRow("mixed") << "abc\n\r\n" << "abc";
        QTest::newRow("lone CR stays") << "abc\r" << "abc\r";
        QTest::newRow("blanks stay") << "abc \n" << "abc ";
        QTest::newRow("inner breaks stay") << "a\r\nb" << "a\r\nb";
        QTest::newRow("only breaks") << "\n\r\n" << "";
    }
    void trimming()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(trimTrailingBreaks(text), expected);
    }

    void folderHistory()
    {
        QStringList history = {"/1", "/2", "/3", "/4", "/5"};
        recordFolder(history, "/6");
        QCOMPARE(history, QStringList({"/6", "/1", "/2", "/3", "/4"}));
        // The same folder twice is recorded twice: no de-duplication.
        recordFolder(history, "/A");
        recordFolder(history, "/A");
        QCOMPARE(history, QStringList({"/A", "/A", "/6", "/1", "/2"}));
        QStringList empty;
        recordFolder(empty, "/x");
        QCOMPARE(empty.size(), 5);
        QCOMPARE(empty.first(), "/x");
    }

    void joiningPaths()
    {
        QCOMPARE(joinPath("/", "a.txt"), "/a.txt");
        QCOMPARE(joinPath("/home/u", "a.txt"), "/home/u/a.txt");
        QCOMPARE(joinPath("/home/u/", "a.txt"), "/home/u/a.txt");
    }
};

QTEST_GUILESS_MAIN(tst_TextSetup)
#include "tst_textsetup.moc"
