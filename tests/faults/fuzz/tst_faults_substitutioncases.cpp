// SPDX-License-Identifier: MIT
// The fuzz target's check, run on fixed inputs with the ordinary tests: the
// seeds, the cases that guard the tricky parts of the search, and every input
// the fuzzer has ever failed on.
#include "SubstitutionCheck.h"

#include <QDir>
#include <QTest>

using namespace vexalo::check;

class tst_FaultsSubstitutionCases : public QObject {
    Q_OBJECT

private slots:
    void knownCases_data()
    {
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("replace");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("caseSensitive");
        // Matches never overlap and resume after the match.
        QTest::newRow("overlap") << QByteArray("aa") << QByteArray("b") << QByteArray("aaaaa") << true;
        // The vector scan looks at sixteen starts at once: matches at the
        // edges of a block and in the tail after the last full block.
        QTest::newRow("block edges") << QByteArray("xy") << QByteArray("Z")
                                     << QByteArray(15, '.') + "xy" + QByteArray(14, '.') + "xyxy" + QByteArray(3, '.')
                                     << true;
        QTest::newRow("needle longer than content")
            << QByteArray("abcdef") << QByteArray("z") << QByteArray("abc") << false;
        // Characters that fold onto ASCII letters send an ASCII needle down
        // the Unicode path.
        QTest::newRow("long s and kelvin")
            << QByteArray("sk") << QByteArray("!") << QByteArray("\xC5\xBF\xE2\x84\xAA sK") << false;
        // A match whose folded form has a different length in bytes.
        QTest::newRow("kelvin for k") << QByteArray("k") << QByteArray("kk") << QByteArray("\xE2\x84\xAA!") << false;
        // Latin-1 pairs; the multiplication and division signs are not a pair.
        QTest::newRow("latin-1 pairs") << QByteArray("\xC3\xA9\xC3\x97") << QByteArray("e")
                                       << QByteArray("\xC9\xD7 \xE9\xF7 \xE9\xD7") << false;
        // The find text cannot be written in a Latin-1 file: no match.
        QTest::newRow("not representable")
            << QByteArray("\xE2\x82\xAC") << QByteArray("E") << QByteArray("price \xA4 5") << false;
        // A replacement that does not fit the file's encoding writes nothing.
        QTest::newRow("replacement not representable")
            << QByteArray("a") << QByteArray("\xE2\x82\xAC") << QByteArray("a\xFF") << false;
        QTest::newRow("empty find") << QByteArray() << QByteArray("x") << QByteArray("abc") << false;
        QTest::newRow("empty content") << QByteArray("a") << QByteArray("b") << QByteArray() << false;
        QTest::newRow("delete every match") << QByteArray("ab") << QByteArray() << QByteArray("abABab") << false;
        QTest::newRow("nul bytes") << QByteArray("\0b", 2) << QByteArray("c") << QByteArray("a\0b\0B", 5) << false;
        // UTF-16 after its mark: matches at units only, the find text
        // given in UTF-8 and written in the file's byte order.
        QTest::newRow("utf-16le, odd offset")
            << QByteArray("A") << QByteArray("\xC3\xA9") << QByteArray("\xFF\xFE\x20\x41\x00\x20\x41\x00", 8) << true;
        QTest::newRow("utf-16be, kelvin and pair") << QByteArray("k\xF0\x90\x90\xA8") << QByteArray("!")
                                                   << QByteArray("\xFE\xFF\x21\x2A\xD8\x01\xDC\x00\x00K", 10) << false;
        QTest::newRow("utf-16le, broken: latin-1") << QByteArray("A") << QByteArray("B")
                                                   << QByteArray("\xFF\xFE\x00\xD8"
                                                                 "A\0",
                                                                 6)
                                                   << false;
    }

    void knownCases()
    {
        QFETCH(QByteArray, find);
        QFETCH(QByteArray, replace);
        QFETCH(QByteArray, content);
        QFETCH(bool, caseSensitive);
        for (const bool cs : {caseSensitive, !caseSensitive}) {
            const QString problem = checkSubstitution({find, replace, content, cs});
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // The seeds and every input the fuzzer ever failed on, from the files
    // kept next to the fuzz target.
    void fuzzerInputs_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *folder : {"seeds", "crashes"}) {
            const QDir dir(QStringLiteral(VEXALO_FUZZ_DIR "/") + folder);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
                if (name != QLatin1String("README"))
                    QTest::addRow("%s/%s", folder, qPrintable(name)) << dir.filePath(name);
            }
        }
    }

    void fuzzerInputs()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString problem = checkSubstitution(caseFromBytes(file.readAll()));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // The case format round-trips, so a case written here is one the
    // fuzzer reads the same way.
    void caseFormat()
    {
        const SubstitutionCase c{"find", "replace", "some content", true};
        const SubstitutionCase back = caseFromBytes(bytesFromCase(c));
        QCOMPARE(back.find, c.find);
        QCOMPARE(back.replace, c.replace);
        QCOMPARE(back.content, c.content);
        QCOMPARE(back.caseSensitive, c.caseSensitive);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsSubstitutionCases)
#include "tst_faults_substitutioncases.moc"
