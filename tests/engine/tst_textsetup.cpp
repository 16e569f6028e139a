// SPDX-License-Identifier: MIT
#include "engine/files/ProtectedList.h"
#include "engine/text/TextTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
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
        QTest::newRow("missing file: the default")
            << false << QByteArray() << ".exe .dll .ocx .xls .jpg .gif .bmp .mp3";
        QTest::newRow("empty file protects nothing") << true << QByteArray() << "";
        QTest::newRow("first line up to CR") << true << QByteArray(".txt .htm\r\n.exe\r\n") << ".txt .htm";
        QTest::newRow("empty first line") << true << QByteArray("\r\n.exe .dll\r\n") << "";
        QTest::newRow("LF alone belongs to the line") << true << QByteArray(".txt\n.htm\n") << ".txt\n.htm\n";
        QTest::newRow("taken unchanged, blanks and capitals too")
            << true << QByteArray("  .EXE .Dll \rrest") << "  .EXE .Dll ";
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
        const ProtectedList list = loadProtectedListFrom({dir.filePath("exception.txt")});
        QCOMPARE(list.extensions, expected);
        QVERIFY(list.ok());
        QCOMPARE(list.file, present ? dir.filePath("exception.txt") : QString());
    }

    void listThatIsNotARegularFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("exception.txt"));
        const ProtectedList list = loadProtectedListFrom({dir.filePath("exception.txt")});
        QCOMPARE(list.extensions, defaultProtectedExtensions());
        QVERIFY(list.ok());
    }

    // The program folder first, then the user's configuration folder, then
    // the system's; the first place holding a list file decides, and a
    // folder or a link to nothing of that name is no list.
    void lookUpOrder_data()
    {
        QTest::addColumn<QString>("places"); // per place: f file, d folder, l link to nothing, - nothing
        QTest::addColumn<int>("used");       // -1: the default list
        QTest::newRow("all three: the program folder's") << "fff" << 0;
        QTest::newRow("user and system: the user's") << "-ff" << 1;
        QTest::newRow("system only") << "--f" << 2;
        QTest::newRow("none: the default") << "---" << -1;
        QTest::newRow("a folder named so is passed over") << "d-f" << 2;
        QTest::newRow("a link to nothing is passed over") << "lf-" << 1;
    }
    void lookUpOrder()
    {
        QFETCH(QString, places);
        QFETCH(int, used);
        QTemporaryDir dir;
        QStringList files;
        for (int i = 0; i < 3; ++i) {
            const QString folder = dir.filePath(QString::number(i));
            QVERIFY(QDir().mkpath(folder));
            const QString file = folder + "/exception.txt";
            files << file;
            if (places[i] == 'f')
                writeFile(file, ".p" + QByteArray::number(i) + "\r\n.other\r\n");
            else if (places[i] == 'd')
                QVERIFY(QDir().mkdir(file));
            else if (places[i] == 'l')
                QVERIFY(QFile::link(folder + "/gone.txt", file));
        }
        const ProtectedList list = loadProtectedListFrom(files);
        QVERIFY2(list.ok(), qPrintable(list.error));
        QCOMPARE(list.extensions, used < 0 ? defaultProtectedExtensions() : ".p" + QString::number(used));
        QCOMPARE(list.file, used < 0 ? QString() : files[used]);
    }

    // A list that is there but cannot be read is the user's protection all
    // the same: it is reported, naming the file and the reason, never
    // replaced by the default or by a list further down the order. (As root,
    // tst_faults_protectedlist makes the file unreadable to another user.)
    void unreadableListIsAnError_data()
    {
        QTest::addColumn<bool>("folderUnsearchable");
        QTest::newRow("file may not be read") << false;
        QTest::newRow("its folder may not be searched") << true;
    }
    void unreadableListIsAnError()
    {
        QFETCH(bool, folderUnsearchable);
        if (::geteuid() == 0)
            QSKIP("root reads any file; needs an ordinary user to make exception.txt unreadable");
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("program")) && QDir().mkpath(dir.filePath("user")));
        const QString file = dir.filePath("program/exception.txt");
        writeFile(file, ".txt .cfg\r\n");
        writeFile(dir.filePath("user/exception.txt"), ".doc\r\n");
        const QString locked = folderUnsearchable ? dir.filePath("program") : file;
        QFile::setPermissions(locked, QFileDevice::Permissions());
        const ProtectedList list = loadProtectedListFrom({file, dir.filePath("user/exception.txt")});
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!list.ok());
        QCOMPARE(list.file, file);
        QVERIFY2(list.error.contains(file) && list.error.contains(QString::fromLocal8Bit(strerror(EACCES))),
                 qPrintable(list.error));
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
        QTest::newRow("x.html with .html listed") << "x.html"
                                                  << ".html" << true;
        // Compared without regard to case on both sides: a list in capitals
        // protects what it names (it used to match nothing at all).
        QTest::newRow("upper-case entry protects a.exe") << "a.exe"
                                                         << ".EXE" << true;
        QTest::newRow("upper-case entry protects photo.JPG") << "photo.JPG"
                                                             << ".JPG .EXE" << true;
        QTest::newRow("mixed-case entry, mixed-case name") << "Clip.Mp3"
                                                           << ".mP3" << true;
        QTest::newRow("Latin-1 letters, entry in capitals") << u"x.CAFÉ"_qs << u".CAFÉ"_qs << true;
        QTest::newRow("Latin-1 letters, name in capitals") << u"x.CAFÉ"_qs << u".café"_qs << true;
        QTest::newRow("Latin-1 letters, list in capitals") << u"x.café"_qs << u".CAFÉ"_qs << true;
        QTest::newRow("upper-case list still tells extensions apart") << "a.txt"
                                                                      << ".EXE .JPG" << false;
        QTest::newRow("b.HTM with .txt .htm") << "b.HTM"
                                              << ".txt .htm" << true;
        QTest::newRow("exe no longer protected by own list") << "a.exe"
                                                             << ".txt .htm" << false;
        QTest::newRow("across the blank between entries") << "zip.t .h"
                                                          << ".txt .htm" << true;
        QTest::newRow("empty list protects nothing") << "a.exe"
                                                     << "" << false;
        // The last four characters, dot included, are what is looked for.
        QTest::newRow("logo_jpg without a dot") << "logo_jpg" << def << false;
        QTest::newRow("entries without dots protect no a.txt") << "a.txt"
                                                               << "txt htm" << false;
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
        QTest::newRow("two CR LF pairs") << "abc\r\n\r\n"
                                         << "abc";
        QTest::newRow("LF line breaks of this platform") << "abc\n\n"
                                                         << "abc";
        QTest::newRow("mixed") << "abc\n\r\n"
                               << "abc";
        QTest::newRow("lone CR stays") << "abc\r"
                                       << "abc\r";
        QTest::newRow("blanks stay") << "abc \n"
                                     << "abc ";
        QTest::newRow("inner breaks stay") << "a\r\nb"
                                           << "a\r\nb";
        QTest::newRow("only breaks") << "\n\r\n"
                                     << "";
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
