// SPDX-License-Identifier: MIT
#include "ui/frmMain/FileListModel.h"
#include "ui/frmMain/FilePattern.h"

#include <QtTest>

#include <unistd.h>

class TestFileList : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void patterns_data();
    void patterns();
    void listsRegularVisibleFilesSorted();
    void missingFolderKeepsTheList();
};

void TestFileList::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("ext, other case") << "*.htm"
                                     << "INDEX.HTM" << true;
    QTest::newRow("ext is whole") << "*.htm"
                                  << "index.html" << false;
    QTest::newRow("star-dot-star, no dot") << "*.*"
                                           << "README" << true;
    QTest::newRow("star-dot, no dot") << "*."
                                      << "README" << true;
    QTest::newRow("star-dot, with dot") << "*."
                                        << "a.txt" << false;
    QTest::newRow("question mark is one char") << "?.txt"
                                               << "ab.txt" << false;
    QTest::newRow("question mark") << "a?c.txt"
                                   << "abc.txt" << true;
    QTest::newRow("several patterns") << "*.txt; *.bat"
                                      << "run.BAT" << true;
    QTest::newRow("backtracking star") << "*a*b*c"
                                       << "xxaxxbxxbxc" << true;
    QTest::newRow("brackets are literal") << "[a].txt"
                                          << "a.txt" << false;
    QTest::newRow("empty lists all") << ""
                                     << "x" << true;
}

void TestFileList::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(FilePattern(pattern).matches(name), matches);
}

void TestFileList::listsRegularVisibleFilesSorted()
{
    QTemporaryDir dir;
    for (const char *name : {"b.htm", "A.htm", "a.htm", ".hidden.htm", "target.txt"}) {
        QFile file(dir.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.htm")));
    // A link to a file is listed; a dangling link is not.
    QVERIFY(::symlink("target.txt", QFile::encodeName(dir.filePath("link.htm")).constData()) == 0);
    QVERIFY(::symlink("nowhere", QFile::encodeName(dir.filePath("dangling.htm")).constData()) == 0);

    FileListModel model;
    model.setPattern(QStringLiteral("*.htm"));
    QString error;
    QVERIFY(model.setPath(dir.path(), &error));
    QCOMPARE(model.names(), (QStringList{"A.htm", "a.htm", "b.htm", "link.htm"}));
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.data(model.index(3)).toString(), QStringLiteral("link.htm"));

    QFile::remove(dir.filePath("b.htm"));
    model.refresh();
    QCOMPARE(model.names(), (QStringList{"A.htm", "a.htm", "link.htm"}));
}

void TestFileList::missingFolderKeepsTheList()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("a.htm"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    FileListModel model;
    model.setPattern(QStringLiteral("*.*"));
    QVERIFY(model.setPath(dir.path(), nullptr));
    QString error;
    QVERIFY(!model.setPath(dir.filePath("gone"), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(model.path(), dir.path());
    QCOMPARE(model.names(), QStringList{"a.htm"});
}

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
