// SPDX-License-Identifier: MIT
#include "engine/files/FileNames.h"
#include "engine/files/FilePath.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vexalo;

// A name is opened by the bytes it was read as. Any conversion that is not
// exactly reversible makes the program work on a file other than the one the
// user picked, or on one file under several names.
class tst_FileNames : public QObject {
    Q_OBJECT

private slots:
    void decodeAndShow_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("index.htm") << QStringLiteral("index.htm");
        QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9.txt") << QStringLiteral("caf\u00e9.txt");
        QTest::newRow("four-byte utf-8") << QByteArray("\xf0\x9f\x98\x80.txt") << QStringLiteral("\U0001F600.txt");
        QTest::newRow("replacement character is a name of its own")
            << QByteArray("caf\xef\xbf\xbd.txt") << QStringLiteral("caf\ufffd.txt");
        QTest::newRow("latin-1 byte") << QByteArray("caf\xe9.txt") << QStringLiteral("caf\\xE9.txt");
        QTest::newRow("sequence cut short") << QByteArray("a\xe2\x82") << QStringLiteral("a\\xE2\\x82");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QStringLiteral("\\xC0\\xAF");
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf") << QStringLiteral("\\xE0\\x80\\xAF");
        // Were these decoded as the surrogate they spell, they would meet the
        // escape of the single byte E9 or of B3 A9.
        QTest::newRow("utf-8 spelling of a surrogate")
            << QByteArray("\xed\xb3\xa9") << QStringLiteral("\\xED\\xB3\\xA9");
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("\\xF4\\x90\\x80\\x80");
        QTest::newRow("lone continuation before valid") << QByteArray("\x80\xc3\xa9") << QStringLiteral("\\x80\u00e9");
        QTest::newRow("high bytes only") << QByteArray("\xff\xfe") << QStringLiteral("\\xFF\\xFE");
        // A name with a line break must not forge a second results line.
        QTest::newRow("line break forging a line")
            << QByteArray("x.txt:  failed: forged\ny.txt") << QStringLiteral("x.txt:  failed: forged\\ny.txt");
        QTest::newRow("CR, tab, other C0, DEL")
            << QByteArray("a\rb\tc\x01\x1b[2Jd\x7f") << QStringLiteral("a\\rb\\tc\\x01\\x1B[2Jd\\x7F");
        QTest::newRow("C1 control and line separators") << QByteArray("a\xc2\x85"
                                                                      "b\xe2\x80\xa8"
                                                                      "c\xe2\x80\xa9")
                                                        << QStringLiteral("a\\u0085b\\u2028c\\u2029");
    }

    void decodeAndShow()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString name = decodeFileName(bytes);
        QCOMPARE(encodeFileName(name), bytes);
        QCOMPARE(displayName(name), shown);
        // The path type converts the same way, and the settings store keeps
        // its bytes.
        const FilePath path = FilePath::fromBytes(bytes);
        QCOMPARE(path.toString(), name);
        QCOMPARE(FilePath::fromString(name), path);
        QCOMPARE(path.display(), shown);
        QCOMPARE(FilePath::fromSettingsValue(path.settingsValue()), path);
        // Valid UTF-8 reads as Qt reads it, so ordinary names are the same
        // QStrings everywhere else in the program.
        if (QString::fromUtf8(bytes).toUtf8() == bytes)
            QCOMPARE(name, QString::fromUtf8(bytes));
    }

    // Any byte string that can be a file name (no '/', no NUL) comes back
    // exactly; so no two names ever decode to one QString.
    void roundTripOfRandomNames()
    {
        QRandomGenerator random(20261209);
        const QByteArray pieces[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xef\xbf\xbd", "\xed\xb3\xa9",
                                     "\xe9",     "\xc3",         "\xe2\x82",         "\xf0\x9f",     "\x80",
                                     "a",        ".txt"};
        QSet<QString> seen;
        QSet<QByteArray> made;
        for (int round = 0; round < 20000; ++round) {
            QByteArray bytes;
            const int length = random.bounded(1, 24);
            while (bytes.size() < length) {
                if (random.bounded(2) == 0) {
                    bytes += pieces[random.bounded(int(std::size(pieces)))];
                } else {
                    char c;
                    do
                        c = char(random.bounded(1, 256));
                    while (c == '/');
                    bytes += c;
                }
            }
            const QString name = decodeFileName(bytes);
            QVERIFY2(encodeFileName(name) == bytes, bytes.toHex().constData());
            if (!made.contains(bytes)) {
                made.insert(bytes);
                QVERIFY2(!seen.contains(name), bytes.toHex().constData());
                seen.insert(name);
            }
        }
    }

    // Upper and Lower Case change the letters around bytes that are not
    // UTF-8 and keep those bytes; toUpper() alone turns them into U+FFFD.
    void caseChangeKeepsTheBytes()
    {
        const QString name = decodeFileName("caf\xe9-\xc3\xa9t\xc3\xa9\xff.txt");
        QCOMPARE(encodeFileName(changeCase(name, true)), QByteArray("CAF\xe9-\xc3\x89T\xc3\x89\xff.TXT"));
        QCOMPARE(encodeFileName(changeCase(changeCase(name, true), false)), encodeFileName(name));
    }

    // Names are put together as QStrings (folder, separator, name, ".old")
    // or as paths; the pieces keep their bytes in the whole, and a folder
    // that ends in '/' gets no second one.
    void joinedNamesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("joined");
        QTest::newRow("not UTF-8") << QByteArray("/tmp/d\xe9j\xc3\xa0") << QByteArray("\xf0\x9f\x98\x80\xe8")
                                   << QByteArray("/tmp/d\xe9j\xc3\xa0/\xf0\x9f\x98\x80\xe8");
        QTest::newRow("root") << QByteArray("/") << QByteArray("a.txt") << QByteArray("/a.txt");
        QTest::newRow("folder ending in a separator") << QByteArray("/tmp/") << QByteArray("a") << QByteArray("/tmp/a");
        QTest::newRow("no folder") << QByteArray() << QByteArray("a") << QByteArray("a");
    }
    void joinedNamesKeepTheirBytes()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, joined);
        const FilePath path = FilePath::fromBytes(folder) / FilePath::fromBytes(name);
        QCOMPARE(path.bytes(), joined);
        QCOMPARE(path.fileName().bytes(), name);
        QCOMPARE(path.withSuffix(".old").bytes(), joined + ".old");
        if (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
        QCOMPARE(path.folder().bytes(), folder.isEmpty() ? QByteArray(".") : folder);
        if (!folder.isEmpty() && !folder.endsWith('/')) {
            QCOMPARE(encodeFileName(decodeFileName(folder) + QLatin1Char('/') + decodeFileName(name)
                                    + QStringLiteral(".old")),
                     joined + ".old");
        }
    }
};

QTEST_GUILESS_MAIN(tst_FileNames)
#include "tst_filenames.moc"
