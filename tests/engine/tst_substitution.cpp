// SPDX-License-Identifier: MIT
#include "Substitution.h"
#include "TextCodec.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vexalo;

namespace {

// The obvious way to do it, one position at a time: what the fast search must
// agree with.
QByteArray referenceBytes(const QByteArray &hay, const QByteArray &find, const QByteArray &with, bool caseSensitive,
                          bool latin1)
{
    auto fold = [&](unsigned char c) -> unsigned char {
        if (caseSensitive)
            return c;
        if (c >= 'A' && c <= 'Z')
            return c + 32;
        if (latin1 && c >= 0xC0 && c <= 0xDE && c != 0xD7)
            return c + 32;
        return c;
    };
    if (find.isEmpty())
        return hay;
    QByteArray out;
    qsizetype i = 0;
    while (i < hay.size()) {
        bool match = i + find.size() <= hay.size();
        for (qsizetype j = 0; match && j < find.size(); ++j)
            match = fold(uchar(hay[i + j])) == fold(uchar(find[j]));
        if (match) {
            out += with;
            i += find.size();
        } else {
            out += hay[i++];
        }
    }
    return out;
}

// Code point by code point with Qt's simple case folding.
QString referenceUnicode(const QString &hay, const QString &find, const QString &with)
{
    const QList<uint> h = hay.toUcs4();
    const QList<uint> f = find.toUcs4();
    if (f.isEmpty())
        return hay;
    QList<uint> out;
    qsizetype i = 0;
    while (i < h.size()) {
        bool match = i + f.size() <= h.size();
        for (qsizetype j = 0; match && j < f.size(); ++j)
            match = QChar::toCaseFolded(char32_t(h[i + j])) == QChar::toCaseFolded(char32_t(f[j]));
        if (match) {
            out += with.toUcs4();
            i += f.size();
        } else {
            out += h[i++];
        }
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(out.constData()), out.size());
}

QByteArray randomBytes(QRandomGenerator &rng, const QByteArray &alphabet, int maxLength)
{
    const int length = rng.bounded(maxLength + 1);
    QByteArray s;
    for (int i = 0; i < length; ++i)
        s += alphabet[rng.bounded(int(alphabet.size()))];
    return s;
}

} // namespace

class tst_Substitution : public QObject {
    Q_OBJECT

private slots:
    void knownCases_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("two a in four a match twice") << QByteArray("aaaa") << QByteArray("aa") << QByteArray("b") << true
                                                     << QByteArray("bb");
        QTest::newRow("three a leave the last") << QByteArray("aaa") << QByteArray("aa") << QByteArray("b") << true
                                                << QByteArray("ba");
        QTest::newRow("inserted text is not searched again")
            << QByteArray("xax") << QByteArray("a") << QByteArray("aa") << true << QByteArray("xaax");
        QTest::newRow("matches at both ends") << QByteArray("abXab") << QByteArray("ab") << QByteArray("-") << true
                                              << QByteArray("-X-");
        QTest::newRow("empty replacement deletes") << QByteArray("a.b.c") << QByteArray(".") << QByteArray() << true
                                                   << QByteArray("abc");
        QTest::newRow("empty find changes nothing") << QByteArray("abc") << QByteArray() << QByteArray("z") << false
                                                    << QByteArray("abc");
        QTest::newRow("case-insensitive keeps replacement as typed")
            << QByteArray("Hello HELLO hello") << QByteArray("hello") << QByteArray("Bye") << false
            << QByteArray("Bye Bye Bye");
        QTest::newRow("exact leaves other cases") << QByteArray("Hello HELLO") << QByteArray("hello")
                                                  << QByteArray("Bye") << true << QByteArray("Hello HELLO");
        QTest::newRow("CR LF is matched literally")
            << QByteArray("a\r\nb\nc\r\n") << QByteArray("\r\n") << QByteArray("|") << true << QByteArray("a|b\nc|");
        QTest::newRow("needle longer than content") << QByteArray("ab") << QByteArray("abc") << QByteArray("x")
                                                    << false << QByteArray("ab");
        QTest::newRow("NUL bytes are ordinary") << QByteArray("a\0b\0", 4) << QByteArray("\0", 1) << QByteArray("0")
                                                << true << QByteArray("a0b0");
        // A long content exercises the sixteen-at-a-time scan and its tail.
        QTest::newRow("long content, match in the tail")
            << (QByteArray(100, 'x') + "NeedLE") << QByteArray("needle") << QByteArray("!") << false
            << (QByteArray(100, 'x') + "!");
    }
    void knownCases()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, find);
        QFETCH(QByteArray, with);
        QFETCH(bool, caseSensitive);
        QFETCH(QByteArray, expected);
        QCOMPARE(substituteAll(content, find, with, caseSensitive, detectEncoding(content)), expected);
    }

    void randomAgainstReference_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("latin1");
        QTest::newRow("exact, ASCII") << true << false;
        QTest::newRow("case-insensitive, ASCII in UTF-8") << false << false;
        QTest::newRow("exact, Latin-1") << true << true;
        QTest::newRow("case-insensitive, Latin-1") << false << true;
    }
    void randomAgainstReference()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(bool, latin1);
        QRandomGenerator rng(20261208);
        // A small alphabet makes matches, near misses and overlapping
        // candidates common; long contents reach the block scan.
        const QByteArray alphabet = latin1 ? QByteArray("aAbB\xC9\xE9\xD7\xF7 ") : QByteArray("aAbBzZ\n ");
        for (int round = 0; round < 4000; ++round) {
            const QByteArray hay = randomBytes(rng, alphabet, round % 10 == 0 ? 300 : 40);
            const QByteArray find = randomBytes(rng, alphabet, 4);
            const QByteArray with = randomBytes(rng, alphabet, 3);
            const FileEncoding encoding = latin1 ? FileEncoding::Latin1 : FileEncoding::Utf8;
            const QByteArray got = substituteAll(hay, find, with, caseSensitive, encoding);
            const QByteArray want = referenceBytes(hay, find, with, caseSensitive, latin1);
            if (got != want) {
                qWarning() << "content" << hay.toHex() << "find" << find.toHex() << "with" << with.toHex();
                QCOMPARE(got.toHex(), want.toHex());
            }
        }
    }

    void randomUnicodeAgainstReference()
    {
        QRandomGenerator rng(4127);
        // Letters whose folding is not one byte to one byte: sharp s has no
        // simple fold, final sigma folds to sigma, the Kelvin sign and long s
        // fold onto ASCII letters, and so does the Angstrom sign onto a-ring.
        const QList<char32_t> alphabet = {U'a', U'A', U's', U'S', U'k', U'K', U'\u017F', U'\u212A', U'\u00DF',
                                          U'\u03A3', U'\u03C3', U'\u03C2', U'\u00E5', U'\u212B', U'\u00C5', U'x'};
        auto randomText = [&](int maxLength) {
            QString s;
            const int length = rng.bounded(maxLength + 1);
            for (int i = 0; i < length; ++i) {
                const char32_t c = alphabet[rng.bounded(int(alphabet.size()))];
                s += QString::fromUcs4(&c, 1);
            }
            return s;
        };
        for (int round = 0; round < 3000; ++round) {
            const QString hay = randomText(round % 10 == 0 ? 120 : 24);
            const QString find = randomText(3);
            const QString with = randomText(2);
            const QByteArray got
                = substituteAll(hay.toUtf8(), find.toUtf8(), with.toUtf8(), false, FileEncoding::Utf8);
            const QString want = referenceUnicode(hay, find, with);
            if (QString::fromUtf8(got) != want) {
                qWarning() << "content" << hay << "find" << find << "with" << with;
                QCOMPARE(QString::fromUtf8(got), want);
            }
        }
    }

    void asciiNeedleMeetsCharactersFoldingOntoAscii()
    {
        // "ſ" (long s) and "K" (Kelvin sign) fold to s and k: an ASCII needle
        // must find them too, though its search otherwise stays on bytes.
        const QByteArray content = QStringLiteral(u"mask \u212Aelvin \u017Fun").toUtf8();
        QCOMPARE(QString::fromUtf8(substituteAll(content, "k", "#", false, FileEncoding::Utf8)),
                 QStringLiteral(u"mas# #elvin \u017Fun"));
        QCOMPARE(QString::fromUtf8(substituteAll(content, "sun", "moon", false, FileEncoding::Utf8)),
                 QStringLiteral(u"mask \u212Aelvin moon"));
        QCOMPARE(substituteAll(content, "k", "#", true, FileEncoding::Utf8).count('#'), 1);
    }

    void foundTest()
    {
        const Needle empty("", false, FileEncoding::Utf8);
        QVERIFY(empty.occursIn("x"));
        QVERIFY(!empty.occursIn(""));
        const Needle word("word", false, FileEncoding::Utf8);
        QVERIFY(word.occursIn("a WoRd here"));
        QVERIFY(!word.occursIn("wor d"));
    }

    void encodingDetection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("ASCII") << QByteArray("plain text\r\n") << true;
        QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9") << true;
        QTest::newRow("Latin-1 e acute") << QByteArray("caf\xE9") << false;
        QTest::newRow("truncated sequence at end") << QByteArray("ab\xE2\x82") << false;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("four-byte emoji") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    }
    void encodingDetection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf8);
        QCOMPARE(detectEncoding(bytes) == FileEncoding::Utf8, utf8);
        // Whatever the encoding, decoding and encoding again gives the bytes back.
        const FileEncoding e = detectEncoding(bytes);
        QCOMPARE(encodeText(decodeText(bytes, e), e).value(), bytes);
    }

    void unrepresentableText()
    {
        QVERIFY(!encodeText(QStringLiteral(u"\u20AC"), FileEncoding::Latin1).has_value());
        QCOMPARE(encodeText(QStringLiteral(u"\u00E9"), FileEncoding::Latin1).value(), QByteArray("\xE9"));
        QVERIFY(!encodeText(QString(QChar(0xD800)), FileEncoding::Utf8).has_value());
    }
};

QTEST_GUILESS_MAIN(tst_Substitution)
#include "tst_substitution.moc"
