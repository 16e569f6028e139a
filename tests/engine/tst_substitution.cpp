// SPDX-License-Identifier: MIT
#include "engine/text/RegexMatcher.h"
#include "engine/text/SearchTexts.h"
#include "engine/text/StreamMatcher.h"
#include "engine/text/Substitution.h"
#include "engine/text/TextCodec.h"
#include "tests/common/TestFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QRandomGenerator>
#include <QStringConverter>
#include <QTest>

using namespace vexalo;

namespace {

// The obvious way to do it, one position at a time: what the fast search must
// agree with.
QByteArray referenceBytes(const QByteArray &hay, const QByteArray &find, const QByteArray &with, bool caseSensitive,
                          bool latin1)
{
    auto fold = [&](unsigned char c) -> char32_t {
        if (caseSensitive)
            return c;
        if (c >= 'A' && c <= 'Z')
            return c + 32;
        // Qt's own case data, not a copy of the engine's range of letters.
        if (latin1 && c >= 0x80)
            return char32_t(QChar::toCaseFolded(char32_t(c)));
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
QString referenceUnicode(const QString &hay, const QString &find, const QString &with, bool caseSensitive = false)
{
    auto folded = [&](uint c) { return caseSensitive ? char32_t(c) : QChar::toCaseFolded(char32_t(c)); };
    const QList<uint> h = hay.toUcs4();
    const QList<uint> f = find.toUcs4();
    if (f.isEmpty())
        return hay;
    QList<uint> out;
    qsizetype i = 0;
    while (i < h.size()) {
        bool match = i + f.size() <= h.size();
        for (qsizetype j = 0; match && j < f.size(); ++j)
            match = folded(h[i + j]) == folded(f[j]);
        if (match) {
            out += with.toUcs4();
            i += f.size();
        } else {
            out += h[i++];
        }
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(out.constData()), out.size());
}

// Text in an encoding the way Qt writes it, independent of the engine's own
// conversions; with mark, a UTF-16 byte-order mark goes first.
QByteArray encoded(const QString &text, FileEncoding encoding, bool mark = false)
{
    const QStringConverter::Encoding qt = encoding == FileEncoding::Utf16LE ? QStringConverter::Utf16LE
        : encoding == FileEncoding::Utf16BE                                 ? QStringConverter::Utf16BE
        : encoding == FileEncoding::Latin1                                  ? QStringConverter::Latin1
                                                                            : QStringConverter::Utf8;
    QStringEncoder encoder(qt, mark ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    return encoder(text);
}

QString decoded(const QByteArray &bytes, FileEncoding encoding)
{
    const QStringConverter::Encoding qt = encoding == FileEncoding::Utf16LE ? QStringConverter::Utf16LE
        : encoding == FileEncoding::Utf16BE                                 ? QStringConverter::Utf16BE
        : encoding == FileEncoding::Latin1                                  ? QStringConverter::Latin1
                                                                            : QStringConverter::Utf8;
    QStringDecoder decoder(qt);
    return decoder(bytes);
}

QByteArray le(const QString &text, bool mark = false)
{
    return encoded(text, FileEncoding::Utf16LE, mark);
}

QByteArray be(const QString &text, bool mark = false)
{
    return encoded(text, FileEncoding::Utf16BE, mark);
}

// A row's UTF-8 text, written as it reads.
QByteArray u8b(const char8_t *text)
{
    return QByteArray(reinterpret_cast<const char *>(text));
}

QByteArray randomBytes(QRandomGenerator &rng, const QByteArray &alphabet, int maxLength)
{
    const int length = rng.bounded(maxLength + 1);
    QByteArray s;
    for (int i = 0; i < length; ++i)
        s += alphabet[rng.bounded(int(alphabet.size()))];
    return s;
}

// Flips the case of some letters, the way the content of a real file mixes
// them: ASCII letters, and in Latin-1 the accented ones too.
QByteArray mixCase(QRandomGenerator &rng, QByteArray s, bool latin1)
{
    for (char &c : s) {
        const unsigned char u = uchar(c);
        const bool letter = (u | 0x20) >= 'a' && (u | 0x20) <= 'z';
        const bool accented = latin1 && u >= 0xC0 && u != 0xD7 && u != 0xF7 && u != 0xDF && u != 0xFF;
        if ((letter || accented) && rng.bounded(2))
            c = char(u ^ 0x20);
    }
    return s;
}

// A find text with a long border and content made of its own pieces: the
// kind of input on which comparing at every candidate goes quadratic. Most of
// the content repeats the word the needle is made of, so nearly every
// position starts a long partial match.
struct Periodic {
    QByteArray needle;
    QByteArray content;
};

Periodic periodicCase(QRandomGenerator &rng, const QByteArray &alphabet, bool mixCases, bool latin1)
{
    QByteArray word;
    while (word.isEmpty())
        word = randomBytes(rng, alphabet, 3);
    Periodic c;
    c.needle = word.repeated(5 + rng.bounded(40)) + word.left(rng.bounded(int(word.size()) + 1));
    if (rng.bounded(3))
        c.needle += alphabet[rng.bounded(int(alphabet.size()))]; // breaks the period at the end
    auto varied = [&](const QByteArray &s) { return mixCases ? mixCase(rng, s, latin1) : s; };
    // A long run of the word first: the probes let through nearly every
    // position there.
    c.content = varied(word.repeated(1000 + rng.bounded(2000)));
    const int pieces = 200 + rng.bounded(800);
    for (int i = 0; i < pieces; ++i) {
        const int r = rng.bounded(100);
        if (r < 85)
            c.content += varied(word);
        else if (r < 92)
            c.content += varied(c.needle);
        else
            c.content += alphabet[rng.bounded(int(alphabet.size()))];
    }
    return c;
}

// A pattern from a small grammar (literals, classes, groups, alternation,
// quantifiers, anchors, \b) over a small alphabet, so that matches, empty
// matches and near misses are all common; with a replacement that uses the
// groups the pattern has.
struct RegexCase {
    QString pattern;
    QString replacement;   // as typed: ${n}, $$
    QStringList perlParts; // "L<hex of UTF-8>" or "G<n>", for perl
    QString content;
};

class RegexGrammar {
public:
    RegexGrammar(QRandomGenerator &rng, const QString &alphabet)
        : m_rng(rng)
        , m_alphabet(alphabet)
    {
    }
    QString pattern()
    {
        m_groups = 0;
        m_unsteady.clear();
        return alternation(2);
    }
    // Group numbers a replacement may use: 0 and those perl agrees on.
    QList<int> steadyGroups() const
    {
        QList<int> groups;
        for (int g = 0; g <= m_groups; ++g) {
            if (!m_unsteady.contains(g))
                groups << g;
        }
        return groups;
    }
    QString text(int maxLength)
    {
        QString s;
        const int n = int(m_rng.bounded(maxLength + 1));
        for (int i = 0; i < n; ++i)
            s += letter();
        return s;
    }

private:
    QChar letter() { return m_alphabet.at(int(m_rng.bounded(int(m_alphabet.size())))); }
    QString literal()
    {
        const QChar c = letter();
        return c == QLatin1Char('-') ? QStringLiteral("\\-") : QString(c);
    }
    QString alternation(int depth)
    {
        QString s = sequence(depth);
        if (m_rng.bounded(4) == 0)
            s += QLatin1Char('|') + sequence(depth);
        return s;
    }
    QString sequence(int depth)
    {
        QString s;
        const int n = 1 + int(m_rng.bounded(3));
        for (int i = 0; i < n; ++i)
            s += item(depth);
        return s;
    }
    QString item(int depth)
    {
        static const char *const anchors[] = {"^", "$", "\\b", "\\B"};
        static const char *const quantifiers[] = {"*", "+", "?", "{1,2}", "*?", "+?", "{2}"};
        static const char *const escapes[] = {".", "\\w", "\\W", "\\d", "\\s", "\\S"};
        const int r = int(m_rng.bounded(100));
        if (r < 10)
            return QString::fromLatin1(anchors[m_rng.bounded(4)]);
        QString atom;
        if (r < 45) {
            atom = literal();
        } else if (r < 60) {
            atom = QString::fromLatin1(escapes[m_rng.bounded(6)]);
        } else if (r < 75) {
            atom = m_rng.bounded(3) == 0 ? QStringLiteral("[^") : QStringLiteral("[");
            const int n = 1 + int(m_rng.bounded(3));
            for (int i = 0; i < n; ++i)
                atom += literal();
            atom += QLatin1Char(']');
        }
        const int groupsBefore = m_groups;
        if (r >= 75 && depth > 0) {
            if (m_rng.bounded(3) == 0) {
                atom = QStringLiteral("(?:") + alternation(depth - 1) + QLatin1Char(')');
            } else {
                ++m_groups;
                atom = QLatin1Char('(') + alternation(depth - 1) + QLatin1Char(')');
            }
        } else if (r >= 75) {
            atom = literal();
        }
        if (m_rng.bounded(3) == 0) {
            atom += QString::fromLatin1(quantifiers[m_rng.bounded(7)]);
            // What a group in a repeat holds after it is one of the
            // documented differences from perl: not compared.
            for (int g = groupsBefore + 1; g <= m_groups; ++g)
                m_unsteady.insert(g);
        }
        return atom;
    }

    QRandomGenerator &m_rng;
    QString m_alphabet;
    int m_groups = 0;
    QSet<int> m_unsteady;
};

RegexCase randomRegexCase(QRandomGenerator &rng, const QString &alphabet)
{
    RegexGrammar grammar(rng, alphabet);
    RegexCase c;
    c.pattern = grammar.pattern();
    const int parts = int(rng.bounded(4));
    for (int i = 0; i < parts; ++i) {
        if (rng.bounded(2) == 0) {
            const QList<int> steady = grammar.steadyGroups();
            const int group = steady[rng.bounded(int(steady.size()))];
            c.replacement += QStringLiteral("${%1}").arg(group);
            c.perlParts << QStringLiteral("G%1").arg(group);
        } else {
            QString text = grammar.text(2);
            if (rng.bounded(5) == 0)
                text += QLatin1Char('$');
            QString typed = text;
            typed.replace(QLatin1Char('$'), QStringLiteral("$$"));
            c.replacement += typed;
            c.perlParts << QLatin1Char('L') + QString::fromLatin1(text.toUtf8().toHex());
        }
    }
    c.content = grammar.text(rng.bounded(5) == 0 ? 120 : 30);
    return c;
}

// perl -0777 -pi over every case's file at once, each with its own pattern
// under /m (^ and $ at every line), the replacement built from the groups.
// Empty when perl cannot be run.
std::optional<QList<QByteArray>> perlResults(const QList<RegexCase> &cases, const QList<QByteArray> &contents,
                                             bool utf8, bool caseSensitive, const QString &folder)
{
    QStringList files;
    QByteArray manifest;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QString file = folder + QStringLiteral("/c%1.txt").arg(i);
        testfiles::writeFile(file, contents[i]);
        files << file;
        manifest += file.toUtf8() + '\t' + cases[i].pattern.toUtf8().toHex() + '\t'
            + cases[i].perlParts.join(QLatin1Char(',')).toUtf8() + '\n';
    }
    testfiles::writeFile(folder + QStringLiteral("/manifest"), manifest);
    const QString script =
        QStringLiteral("BEGIN { local $/ = \"\\n\"; open(my $m, '<:raw', $ENV{MANIFEST}) or die; while (<$m>) { chomp; "
                       "my ($f, $p, $r) = split /\\t/, $_, -1;"
                       " my $re = pack('H*', $p); utf8::decode($re); $case{$f} = [$re, [split /,/, $r]]; } }"
                       " my ($re, $parts) = @{$case{$ARGV}}; my $q = $ENV{ICASE} ? qr/$re/mi : qr/$re/m;"
                       " s{$q}{ my @g = ($&, map { ${$_} } 1 .. $#+); my $out = '';"
                       " for my $p (@$parts) { if ($p =~ /^G(\\d+)/) { $out .= $g[$1] // '' } else { my $t = "
                       "pack('H*', substr($p, 1));"
                       " utf8::decode($t); $out .= $t } } $out }ge;");
    QProcess perl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANIFEST"), folder + QStringLiteral("/manifest"));
    env.insert(QStringLiteral("ICASE"), caseSensitive ? QStringLiteral("") : QStringLiteral("1"));
    perl.setProcessEnvironment(env);
    QStringList args{QStringLiteral("-0777"), QStringLiteral("-Mfeature=unicode_strings"), QStringLiteral("-pi")};
    if (utf8)
        args.prepend(QStringLiteral("-CSD"));
    args << QStringLiteral("-e") << script << files;
    perl.start(QStringLiteral("perl"), args);
    if (!perl.waitForFinished(60000) || perl.exitCode() != 0) {
        qWarning() << perl.readAllStandardError();
        return std::nullopt;
    }
    QList<QByteArray> results;
    for (const QString &file : files)
        results << testfiles::readFile(file);
    return results;
}

// What a matcher hands on, held as views until the caller's turn to write
// (after each feed(), or after finish() for a buffer fed whole), then copied:
// a view used past its time reads memory that is gone.
class CollectingSink : public MatchSink {
public:
    void kept(QByteArrayView bytes) override { m_pieces.push_back({bytes, bytes}); }
    void replaced(QByteArrayView match, QByteArrayView replacement) override
    {
        m_pieces.push_back({match, replacement});
    }
    void take()
    {
        for (const auto &[in, out] : m_pieces) {
            input += in;
            output += out;
        }
        m_pieces.clear();
    }
    QByteArray input;  // the bytes the matcher was fed, as it handed them on
    QByteArray output; // the content with the matches replaced

private:
    std::vector<std::pair<QByteArrayView, QByteArrayView>> m_pieces;
};

// Block sizes to feed a content of this size in: every size up to 300
// bytes, then a few larger ones, and the whole at once.
QList<qsizetype> blockSizes(qsizetype size)
{
    QList<qsizetype> sizes;
    for (qsizetype b = 1; b <= std::min<qsizetype>(size, 300); ++b)
        sizes << b;
    for (qsizetype b = 301; b < size; b = b * 3 / 2)
        sizes << b;
    if (size > 300)
        sizes << size;
    return sizes;
}

} // namespace

class tst_Substitution : public QObject {
    Q_OBJECT

private slots:
    // The regular expressions against perl, which users know them from: the
    // same files byte for byte, whole and fed in blocks of every size (a
    // match across a block edge waits for the bytes it needs).
    void regexAgainstPerl_data()
    {
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<bool>("caseSensitive");
        QTest::newRow("UTF-8, exact") << true << true;
        QTest::newRow("UTF-8, case-insensitive") << true << false;
        QTest::newRow("Latin-1, exact") << false << true;
        QTest::newRow("Latin-1, case-insensitive") << false << false;
    }
    void regexAgainstPerl()
    {
        QFETCH(bool, utf8);
        QFETCH(bool, caseSensitive);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QRandomGenerator rng(utf8 ? 20261210 : 20261211);
        // U+017F and U+212A fold onto s and k in both; \r shows what . and $
        // do in a CR LF file.
        const QString alphabet = utf8 ? QStringLiteral("aAbBsSkK\u00e9\u00c91 -\n\r\u017f\u212a")
                                      : QStringLiteral("aAbBsSkK\u00e9\u00c91 -\n\r");
        const FileEncoding encoding = utf8 ? FileEncoding::Utf8 : FileEncoding::Latin1;
        QList<RegexCase> cases;
        QList<QByteArray> contents;
        for (int i = 0; i < 200; ++i) {
            cases << randomRegexCase(rng, alphabet);
            contents << *encodeText(cases.last().content, encoding);
        }
        const std::optional<QList<QByteArray>> perl = perlResults(cases, contents, utf8, caseSensitive, dir.path());
        if (!perl)
            QSKIP("perl could not be run");
        for (qsizetype i = 0; i < cases.size(); ++i) {
            const RegexCase &c = cases[i];
            const RegexProgram program(c.pattern, c.replacement, caseSensitive);
            // QVERIFY2 builds its message even when the check passes.
            if (program.error())
                QFAIL(qPrintable(c.pattern + QStringLiteral(": ") + program.error()->message));
            const RegexCode code(program, encoding);
            QVERIFY2(code.usable(), qPrintable(code.refusal()));
            const std::optional<EncodedReplacement> replacement = EncodedReplacement::make(program, encoding, {});
            QVERIFY(replacement);
            const QByteArray &content = contents[i];
            auto context = [&](qsizetype block) {
                return QStringLiteral("pattern ") + QString::fromLatin1(c.pattern.toUtf8().toPercentEncoding())
                    + QStringLiteral(" replacement ") + QString::fromLatin1(c.replacement.toUtf8().toPercentEncoding())
                    + QStringLiteral(" content ") + QString::fromLatin1(content.toHex()) + QStringLiteral(" block ")
                    + QString::number(block);
            };
            const std::optional<QByteArray> whole = regexReplaceAll(code, *replacement, content);
            QVERIFY2(whole, qPrintable(context(0)));
            if (*whole != perl->at(i))
                QFAIL(qPrintable(context(0) + QStringLiteral(": ") + QString::fromLatin1(whole->toHex())
                                 + QStringLiteral(" perl ") + QString::fromLatin1(perl->at(i).toHex())));
            for (qsizetype block = 1; block <= content.size(); ++block) {
                const std::optional<QByteArray> fed = regexReplaceAll(code, *replacement, content, block);
                if (!fed || *fed != *whole)
                    QFAIL(qPrintable(context(block) + QStringLiteral(": ")
                                     + QString::fromLatin1(fed.value_or("<failed>").toHex())));
            }
        }
    }

    // A pattern that backtracks without end, or a match that would need more
    // of the file than the matcher holds, fails the file: never a hang, never
    // memory without bound. Stop is heard between blocks.
    void regexLimits_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("lookBack");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("status");
        const QByteArray as = QByteArray(40000, 'a') + 'b';
        const QByteArray line = 'x' + QByteArray(5000, 'y');
        using S = RegexMatcher::Status;
        QTest::newRow("catastrophic backtracking") << "^(a|aa)+$" << as << 0 << -1 << false << int(S::TooComplex);
        QTest::newRow("catastrophic, in blocks") << "^(a|aa)+$" << as << 4096 << -1 << false << int(S::TooComplex);
        QTest::newRow("look-back past the limit") << "x.*z" << line << 100 << 1000 << false << int(S::LookBackTooLong);
        QTest::newRow("look-back within the limit") << "x.*z" << line << 100 << 6000 << false << int(S::Ok);
        QTest::newRow("whole content needs no look-back") << "x.*z" << line << 0 << 1000 << false << int(S::Ok);
        QTest::newRow("stopped") << "y" << line << 100 << -1 << true << int(S::Stopped);
        QTest::newRow("not UTF-8 after all") << "y" << line + "\xE9" << 100 << -1 << false << int(S::BrokenText);
    }
    void regexLimits()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, content);
        QFETCH(int, block);
        QFETCH(int, lookBack);
        QFETCH(bool, stop);
        QFETCH(int, status);
        const RegexProgram program(pattern, QStringLiteral("-"), true);
        QVERIFY(!program.error());
        const RegexCode code(program, FileEncoding::Utf8);
        const std::optional<EncodedReplacement> replacement = EncodedReplacement::make(program, FileEncoding::Utf8, {});
        RegexMatcher matcher(code, *replacement);
        if (lookBack > 0)
            matcher.setLookBackLimit(lookBack);
        int asked = 0;
        if (stop)
            matcher.setStop([&] { return ++asked > 3; });
        const qsizetype step = block > 0 ? block : content.size();
        RegexMatcher::Status got = RegexMatcher::Status::Ok;
        qsizetype out = 0;
        for (qsizetype at = 0; at < content.size() && got == RegexMatcher::Status::Ok; at += step) {
            got = matcher.feed(QByteArrayView(content).sliced(at, std::min(step, content.size() - at)),
                               at + step >= content.size());
            for (QByteArrayView piece : matcher.pieces())
                out += piece.size();
        }
        QCOMPARE(int(got), status);
        if (got == RegexMatcher::Status::Ok)
            QCOMPARE(out, content.size()); // nothing matched, every byte handed back
        else
            QVERIFY(!RegexMatcher::describe(got).isEmpty());
    }

    void knownCases_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<QByteArray>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("two a in four a match twice")
            << QByteArray("aaaa") << QByteArray("aa") << QByteArray("b") << true << QByteArray("bb");
        QTest::newRow("three a leave the last")
            << QByteArray("aaa") << QByteArray("aa") << QByteArray("b") << true << QByteArray("ba");
        QTest::newRow("inserted text is not searched again")
            << QByteArray("xax") << QByteArray("a") << QByteArray("aa") << true << QByteArray("xaax");
        QTest::newRow("matches at both ends")
            << QByteArray("abXab") << QByteArray("ab") << QByteArray("-") << true << QByteArray("-X-");
        QTest::newRow("empty replacement deletes")
            << QByteArray("a.b.c") << QByteArray(".") << QByteArray() << true << QByteArray("abc");
        QTest::newRow("empty find changes nothing")
            << QByteArray("abc") << QByteArray() << QByteArray("z") << false << QByteArray("abc");
        QTest::newRow("case-insensitive keeps replacement as typed")
            << QByteArray("Hello HELLO hello") << QByteArray("hello") << QByteArray("Bye") << false
            << QByteArray("Bye Bye Bye");
        QTest::newRow("exact leaves other cases") << QByteArray("Hello HELLO") << QByteArray("hello")
                                                  << QByteArray("Bye") << true << QByteArray("Hello HELLO");
        QTest::newRow("CR LF is matched literally")
            << QByteArray("a\r\nb\nc\r\n") << QByteArray("\r\n") << QByteArray("|") << true << QByteArray("a|b\nc|");
        QTest::newRow("needle longer than content")
            << QByteArray("ab") << QByteArray("abc") << QByteArray("x") << false << QByteArray("ab");
        QTest::newRow("NUL bytes are ordinary")
            << QByteArray("a\0b\0", 4) << QByteArray("\0", 1) << QByteArray("0") << true << QByteArray("a0b0");
        // Letters of two bytes with lead bytes D0-D1 and CE-CF, among letters
        // without case (Hebrew, lead D7; CJK and Hangul, leads E8-ED).
        QTest::newRow("Cyrillic, other case") << u8b(u8"Привет, ПРИВЕТ! 草 שלום привет") << u8b(u8"привет")
                                              << QByteArray("#") << false << u8b(u8"#, #! 草 שלום #");
        QTest::newRow("Cyrillic capital is no blank")
            << u8b(u8"a b	Рр 한국어") << u8b(u8"р") << QByteArray("#") << false << u8b(u8"a b	## 한국어");
        QTest::newRow("Cyrillic, exact") << u8b(u8"Привет привет") << u8b(u8"привет") << QByteArray("#") << true
                                         << u8b(u8"Привет #");
        QTest::newRow("Greek with final sigma")
            << u8b(u8"ΟΔΟΣ 語 οδος οδοσ") << u8b(u8"Οδοσ") << QByteArray("#") << false << u8b(u8"# 語 # #");
        QTest::newRow("Greek accented capital")
            << u8b(u8"ΆΛΦΑ άλφα") << u8b(u8"άλφα") << u8b(u8"ω") << false << u8b(u8"ω ω");
        QTest::newRow("full-width Latin, lead EF")
            << u8b(u8"ＡＢＣ ａｂｃ 漢字") << u8b(u8"ａｂｃ") << QByteArray("#") << false << u8b(u8"# # 漢字");
        QTest::newRow("Hebrew and CJK have no case")
            << u8b(u8"שלום 草語 שָׁלוֹם 草語") << u8b(u8"草語") << u8b(u8"ש") << false << u8b(u8"שלום ש שָׁלוֹם ש");
        // A long content exercises the sixteen-at-a-time scan and its tail.
        QTest::newRow("long content, match in the tail") << (QByteArray(100, 'x') + "NeedLE") << QByteArray("needle")
                                                         << QByteArray("!") << false << (QByteArray(100, 'x') + "!");
        // UTF-16 after its mark: units in the file's byte order, matched at
        // unit boundaries only.
        QTest::newRow("UTF-16LE, any case") << le(u"Hello HELLO hellO"_qs, true) << le(u"hello"_qs) << le(u"Bye"_qs)
                                            << false << le(u"Bye Bye Bye"_qs, true);
        QTest::newRow("UTF-16BE, exact") << be(u"Hello HELLO hello"_qs, true) << be(u"hello"_qs) << be(u"Bye"_qs)
                                         << true << be(u"Hello HELLO Bye"_qs, true);
        QTest::newRow("UTF-16LE, Cyrillic any case, long")
            << le(QString(40, u'x') + u"Привет, ПРИВЕТ! 草"_qs, true) << le(u"привет"_qs) << le(u"日本"_qs) << false
            << le(QString(40, u'x') + u"日本, 日本! 草"_qs, true);
        QTest::newRow("UTF-16BE, outside the BMP any case")
            << be(u"𐐀𐐨 😀"_qs, true) << be(u"𐐨"_qs) << be(u"😀"_qs) << false << be(u"😀😀 😀"_qs, true);
        QTest::newRow("UTF-16LE, outside the BMP exact")
            << le(u"𐐀𐐨"_qs, true) << le(u"𐐨"_qs) << le(u"x"_qs) << true << le(u"𐐀x"_qs, true);
        // "A" (41 00) at an odd offset, across the units 4120 and 2000.
        QTest::newRow("UTF-16LE, only at an odd offset")
            << QByteArray("\xFF\xFE\x20\x41\x00\x20", 6) << le(u"A"_qs) << le(u"B"_qs) << true
            << QByteArray("\xFF\xFE\x20\x41\x00\x20", 6);
        // The same far enough in for the sixteen-at-a-time scan.
        const QByteArray oddInside =
            le(QString(20, u'x'), true) + QByteArray("\x20\x41\x00\x20", 4) + le(QString(20, u'x'));
        QTest::newRow("UTF-16LE, only at an odd offset, long")
            << oddInside << le(u"A"_qs) << le(u"B"_qs) << true << oddInside;
        QTest::newRow("UTF-16BE, only at an odd offset, any case")
            << QByteArray("\xFE\xFF\x61\x00\x61\x20", 6) << be(u"A"_qs) << be(u"B"_qs) << false
            << QByteArray("\xFE\xFF\x61\x00\x61\x20", 6);
        QTest::newRow("UTF-16LE, Kelvin sign and long s")
            << le(u"\u212A \u017F k"_qs, true) << le(u"K"_qs) << le(u"#"_qs) << false << le(u"# \u017F #"_qs, true);
        // Broken UTF-16 is read as before: bytes, here Latin-1.
        QTest::newRow("odd length after the mark is Latin-1") << QByteArray("\xFF\xFE"
                                                                            "A\0B",
                                                                            5)
                                                              << QByteArray("A") << QByteArray("C") << true
                                                              << QByteArray("\xFF\xFE"
                                                                            "C\0B",
                                                                            5);
        QTest::newRow("unpaired surrogate after the mark is Latin-1") << QByteArray("\xFF\xFE\x00\xD8"
                                                                                    "A\0",
                                                                                    6)
                                                                      << QByteArray("A") << QByteArray("C") << true
                                                                      << QByteArray("\xFF\xFE\x00\xD8"
                                                                                    "C\0",
                                                                                    6);
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

    // The streaming matcher fed in blocks of every size hands on what the
    // whole buffer searched at once gives: the same bytes, the same matches,
    // whatever block edge a match, a character or a unit straddles. The
    // texts go through the run's preparation, line breaks included.
    void matcherInBlocks_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("with");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<int>("matches"); // in the whole buffer; -1 for the random rows
        const QString words = u"grüße NEEDLE grüße needle NEEDLENEEDLE x NEEDLE"_qs;
        QTest::newRow("UTF-8, exact") << words.toUtf8() << "NEEDLE"
                                      << "pin" << true << 4;
        QTest::newRow("UTF-8, folding ASCII") << words.toUtf8() << "nEeDlE"
                                              << "pin" << false << 5;
        QTest::newRow("UTF-8, folding, matches longer and shorter than the text")
            << u"\u1E9Ea ßA x\u1E9EA"_qs.toUtf8() << u"ßa"_qs << "ss" << false << 3;
        QTest::newRow("UTF-8, Kelvin sign and long s fold onto ASCII")
            << u"K \u212A k \u017Fs S\u017F"_qs.toUtf8() << "k"
            << "#" << false << 3;
        QTest::newRow("UTF-8, long s in the find text")
            << u"SS s\u017F \u017F\u017F"_qs.toUtf8() << u"\u017Fs"_qs << "-" << false << 3;
        // Started inside a character, a search by code points would take a
        // stray byte for U+FFFD and match where the whole does not.
        QTest::newRow("UTF-8, replacement characters after a two-byte one")
            << u"é\uFFFD\uFFFD é\uFFFD äé\uFFFD\uFFFD\uFFFD"_qs.toUtf8() << u"\uFFFD\uFFFD"_qs << "R" << false << 2;
        QTest::newRow("UTF-8, outside the BMP") << u"😀𐐀😀 𐐨😀 x"_qs.toUtf8() << u"𐐨😀"_qs << "y" << false << 2;
        QTest::newRow("UTF-8, overlapping candidates") << QByteArray("aaaaabaaaa") << "aa"
                                                       << "b" << true << 4;
        QTest::newRow("UTF-8, adjacent matches at the end") << QByteArray("xyzabab") << "ab"
                                                            << "" << true << 2;
        QTest::newRow("UTF-8, empty find") << QByteArray("abc") << ""
                                           << "x" << false << 0;
        QTest::newRow("UTF-8, empty content") << QByteArray() << "a"
                                              << "b" << false << 0;
        QTest::newRow("UTF-8, replacement equals the match") << QByteArray("same SAME same") << "same"
                                                             << "same" << false << 3;
        const QByteArray latin1 = u"Äpfel äPFEL \u00D7\u00F7 ÿ grüße äpfel"_qs.toLatin1();
        QTest::newRow("Latin-1, exact") << latin1 << u"äpfel"_qs << u"Birne"_qs << true << 1;
        QTest::newRow("Latin-1, letter pairs") << latin1 << u"ÄPFEL"_qs << u"Birne"_qs << false << 3;
        QTest::newRow("Latin-1, signs have no case") << latin1 << u"\u00F7"_qs << "/" << false << 1;
        QTest::newRow("Latin-1, find text it cannot hold") << latin1 << u"\u20AC"_qs << "E" << true << 0;
        const auto le = [](const QString &t) { return encoded(t, FileEncoding::Utf16LE, true); };
        const auto be = [](const QString &t) { return encoded(t, FileEncoding::Utf16BE, true); };
        QTest::newRow("UTF-16LE, exact") << le(words) << "NEEDLE"
                                         << "pin" << true << 4;
        QTest::newRow("UTF-16BE, folding ASCII") << be(words) << "needle"
                                                 << "pin" << false << 5;
        QTest::newRow("UTF-16LE, folding outside the BMP")
            << le(u"𐐀𐐨 x \U00010428 Äpfel"_qs) << u"\U00010400"_qs << u"äpfel"_qs << false << 3;
        QTest::newRow("UTF-16BE, Kelvin sign and long s") << be(u"\u212A \u017F k S"_qs) << "K"
                                                          << "#" << false << 2;
        // "A" (41 00) only at an odd offset, across the units 4120 and 2000.
        QTest::newRow("UTF-16LE, only at an odd offset")
            << QByteArray("\xFF\xFE\x20\x41\x00\x20\x20\x41\x00\x20", 10) << "A"
            << "B" << true << 0;
        const QByteArray crlf("one\r\nend\r\nstart two\r\nend\nstart\r\n");
        QTest::newRow("line breaks, CR LF file") << crlf << "end\nstart"
                                                 << "a\nb" << true << 1;
        QTest::newRow("line breaks, LF file") << QByteArray(crlf).replace("\r\n", "\n") << "end\nstart"
                                              << "a\nb" << true << 2;
        QTest::newRow("line breaks, CR LF file, UTF-16LE") << le(QString::fromLatin1(crlf)) << "end\nSTART"
                                                           << "a\nb" << false << 1;
        // Longer than most blocks: the window grows to hold it, and a near
        // miss over many blocks is none.
        QString longFind;
        for (int i = 0; i < 120; ++i)
            longFind += QChar(u"abcäöü"[i % 6]);
        const QString nearMiss = longFind.chopped(1) + 'x';
        QTest::newRow("UTF-8, find text longer than a block")
            << (longFind.toUpper() + nearMiss + longFind + longFind.left(50)).toUtf8() << longFind << "<>" << false
            << 2;
        QTest::newRow("Latin-1, find text longer than a block")
            << (longFind + nearMiss + "\xFF" + longFind.toUpper()).toLatin1() << longFind << "<>" << false << 2;

        // Random texts of letters that fold in every way, in every encoding
        // and both modes, searched with a piece of themselves.
        const QStringList letters{"a",          "b",          "A",          "s",     "S",     "k",
                                  "K",          u"\u017F"_qs, u"\u212A"_qs, u"ä"_qs, u"Ä"_qs, u"ß"_qs,
                                  u"\u1E9E"_qs, u"😀"_qs,      "\r\n",       "\n",    " "};
        QRandomGenerator rng(5150);
        for (const FileEncoding encoding : allFileEncodings) {
            for (const bool caseSensitive : {true, false}) {
                QString text;
                for (int i = 0; i < 90; ++i) {
                    const QString &letter = letters[rng.bounded(int(letters.size()))];
                    if (encoding != FileEncoding::Latin1 || encodeText(letter, encoding))
                        text += letter;
                }
                const int at = rng.bounded(int(text.size()) - 4);
                const QString find = text.mid(at, 1 + rng.bounded(3)).toUpper();
                const QString row = "random, " + encodingName(encoding) + (caseSensitive ? ", exact" : ", folding");
                QTest::newRow(qPrintable(row))
                    << encoded(text, encoding, isUtf16(encoding)) << find << "#" << caseSensitive << -1;
            }
        }
    }

    void matcherInBlocks()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, find);
        QFETCH(QString, with);
        QFETCH(bool, caseSensitive);
        QFETCH(int, matches);
        const TextFacts text = examineText(content);
        const ContentFacts facts{text, lineBreaksOf(content, text.encoding)};
        SearchTexts texts(find, with, caseSensitive, false);
        // The whole buffer, searched and substituted in one go.
        const EncodedTexts &encoded = texts.texts(facts);
        QByteArray whole = content;
        qsizetype wholeMatches = 0;
        if (encoded.findRepresentable && !encoded.needle->isEmpty()) {
            const std::vector<Match> found = encoded.needle->findAll(content, text.foldsOntoAscii);
            whole = substitute(content, found, encoded.replacement.value());
            wholeMatches = qsizetype(found.size());
        }
        if (matches >= 0)
            QCOMPARE(wholeMatches, matches);
        QList<qsizetype> sizes = blockSizes(content.size());
        if (sizes.isEmpty())
            sizes << 1;
        for (const qsizetype block : sizes) {
            CollectingSink sink;
            const std::unique_ptr<StreamMatcher> matcher = texts.matcher(facts, sink);
            const bool oneBlock = block >= content.size();
            for (qsizetype at = 0; at < content.size(); at += block) {
                // Memory of its own for each block, gone after its turn.
                const QByteArray piece = content.mid(at, block);
                matcher->feed(piece);
                if (!oneBlock)
                    sink.take();
            }
            matcher->finish();
            sink.take();
            if (sink.output != whole || sink.input != content || matcher->matches() != wholeMatches) {
                qWarning() << "blocks of" << block << "content" << content.toHex() << "got" << sink.output.toHex()
                           << "matches" << matcher->matches();
                QCOMPARE(sink.output.toHex(), whole.toHex());
                QCOMPARE(sink.input.toHex(), content.toHex());
                QCOMPARE(matcher->matches(), wholeMatches);
            }
            QCOMPARE(matcher->changes(), whole != content);
        }
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

    void randomUnicodeAgainstReference_data()
    {
        QTest::addColumn<QString>("letters");
        QTest::addColumn<FileEncoding>("encoding");
        QTest::addColumn<bool>("caseSensitive");
        // Letters whose folding is not one byte to one byte: sharp s has no
        // simple fold, final sigma folds to sigma, the Kelvin sign and long s
        // fold onto ASCII letters, and so does the Angstrom sign onto a-ring.
        const QString oddities = u"aAsSkK\u017F\u212A\u00DF\u03A3\u03C3\u03C2\u00E5\u212B\u00C5x"_qs;
        // Every length of UTF-8 and lead bytes across their range: Cyrillic
        // (D0, D1), Greek (CE, CF), Hebrew (D7), CJK and Hangul (E4-ED),
        // full-width letters (EF), and ASCII a wrong decoding could land on.
        const QString scripts = u"пПрР? σΣςשל草語한ａＡ\U0001F600x"_qs;
        QTest::newRow("folding oddities") << oddities << FileEncoding::Utf8 << false;
        QTest::newRow("scripts") << scripts << FileEncoding::Utf8 << false;
        // In UTF-16, letters whose units share a byte with ASCII ones (U+0141,
        // U+4100) and characters outside the BMP, with case (Deseret) and
        // without.
        const QString units = u"aA\u0141\u0142\u4100\u0061\U00010400\U00010428\U0001F600"_qs;
        for (const FileEncoding e : {FileEncoding::Utf16LE, FileEncoding::Utf16BE}) {
            const char *order = e == FileEncoding::Utf16LE ? "UTF-16LE" : "UTF-16BE";
            for (const bool caseSensitive : {false, true}) {
                const char *mode = caseSensitive ? "exact" : "any case";
                QTest::addRow("%s, folding oddities, %s", order, mode) << oddities << e << caseSensitive;
                QTest::addRow("%s, scripts, %s", order, mode) << scripts << e << caseSensitive;
                QTest::addRow("%s, shared bytes, %s", order, mode) << units << e << caseSensitive;
            }
        }
    }
    void randomUnicodeAgainstReference()
    {
        QFETCH(QString, letters);
        QFETCH(FileEncoding, encoding);
        QFETCH(bool, caseSensitive);
        QRandomGenerator rng(4127);
        const QList<uint> alphabet = letters.toUcs4();
        auto randomText = [&](int maxLength) {
            QString s;
            const int length = rng.bounded(maxLength + 1);
            for (int i = 0; i < length; ++i) {
                const char32_t c = char32_t(alphabet[rng.bounded(int(alphabet.size()))]);
                s += QString::fromUcs4(&c, 1);
            }
            return s;
        };
        for (int round = 0; round < 3000; ++round) {
            const QString hay = randomText(round % 10 == 0 ? 120 : 24);
            const QString find = randomText(3);
            const QString with = randomText(2);
            const QByteArray got = substituteAll(encoded(hay, encoding), encoded(find, encoding),
                                                 encoded(with, encoding), caseSensitive, encoding);
            const QString want = referenceUnicode(hay, find, with, caseSensitive);
            if (decoded(got, encoding) != want) {
                qWarning() << "content" << hay << "find" << find << "with" << with;
                QCOMPARE(decoded(got, encoding), want);
            }
        }
    }

    // Content built from the find text's own pieces, long enough that the
    // search leaves its probes for the linear search partway through.
    void periodicAgainstReference()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(bool, latin1);
        QRandomGenerator rng(77031);
        const QByteArray alphabet = latin1 ? QByteArray("ab\xE9\xC9") : QByteArray("abAB");
        const FileEncoding encoding = latin1 ? FileEncoding::Latin1 : FileEncoding::Utf8;
        for (int round = 0; round < 120; ++round) {
            const Periodic c = periodicCase(rng, alphabet, !caseSensitive, latin1);
            const Needle needle(c.needle, caseSensitive, encoding);
            const std::vector<Match> matches = needle.findAll(c.content);
            for (const Match &m : matches)
                QCOMPARE_LE(m.length, needle.maxMatchBytes());
            QCOMPARE(needle.occursIn(c.content), !matches.empty());
            const QByteArray got = substitute(c.content, matches, "<>");
            const QByteArray want = referenceBytes(c.content, c.needle, "<>", caseSensitive, latin1);
            if (got != want) {
                qWarning() << "round" << round << "find" << c.needle.toHex() << "content" << c.content.size()
                           << "bytes";
                QCOMPARE(got.toHex(), want.toHex());
            }
        }
    }
    void periodicAgainstReference_data() { randomAgainstReference_data(); }

    // The same by code points: letters with two or three case forms, of
    // different lengths in UTF-8, so a match's bytes differ from the needle's.
    void periodicUnicodeAgainstReference_data()
    {
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QString>("otherForms");
        // An ASCII find text meets the Kelvin sign and long s in the content.
        QTest::newRow("ASCII find text, Kelvin sign and long s")
            << QStringLiteral(u"ksa") << QStringLiteral(u"KS\u212A\u017FA");
        QTest::newRow("find text outside ASCII")
            << QStringLiteral(u"k\u00E4\u03C3s") << QStringLiteral(u"K\u212A\u00C4\u03A3\u03C2\u017FS");
    }
    void periodicUnicodeAgainstReference()
    {
        QFETCH(QString, letters);
        QFETCH(QString, otherForms);
        QRandomGenerator rng(5519);
        // Any form of a letter, chosen at random: its own or one folding onto it.
        auto anyForm = [&](QChar c) {
            QList<QChar> forms{c};
            for (QChar o : otherForms) {
                if (o.toCaseFolded() == c.toCaseFolded())
                    forms += o;
            }
            return forms[rng.bounded(int(forms.size()))];
        };
        auto varied = [&](const QString &s) {
            QString out;
            for (QChar c : s)
                out += anyForm(c);
            return out;
        };
        for (int round = 0; round < 60; ++round) {
            QString word;
            const int wordLength = 1 + rng.bounded(3);
            for (int i = 0; i < wordLength; ++i)
                word += letters[rng.bounded(int(letters.size()))];
            QString find = word.repeated(5 + rng.bounded(30)) + word.left(rng.bounded(wordLength + 1));
            if (rng.bounded(3))
                find += letters[rng.bounded(int(letters.size()))];
            QString content = varied(word.repeated(500 + rng.bounded(1000)));
            const int pieces = 100 + rng.bounded(400);
            for (int i = 0; i < pieces; ++i) {
                const int r = rng.bounded(100);
                if (r < 85)
                    content += varied(word);
                else if (r < 92)
                    content += varied(find);
                else
                    content += anyForm(letters[rng.bounded(int(letters.size()))]);
            }
            const Needle needle(find.toUtf8(), false, FileEncoding::Utf8);
            const QByteArray bytes = content.toUtf8();
            const std::vector<Match> matches = needle.findAll(bytes);
            for (const Match &m : matches)
                QCOMPARE_LE(m.length, needle.maxMatchBytes());
            QCOMPARE(needle.occursIn(bytes), !matches.empty());
            const QString got = QString::fromUtf8(substitute(bytes, matches, "<>"));
            const QString want = referenceUnicode(content, find, QStringLiteral("<>"));
            if (got != want) {
                qWarning() << "round" << round << "find" << find << "content" << content.size() << "characters";
                QCOMPARE(got, want);
            }
        }
    }

    // Whether a match starts at p depends only on the bytes [p, p +
    // maxMatchBytes()): every content cut short finds the same matches up to
    // where the cut could make a difference.
    void matchDecidedWithinMaxMatchBytes_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<FileEncoding>("encoding");
        QTest::addColumn<QString>("alphabet");
        const QString outside = QStringLiteral(u"a\u00E4\u00C4\u1E9E\u00DF\u212B\u00E5\U00010400\U00010428");
        QTest::newRow("exact") << true << FileEncoding::Utf8 << QStringLiteral(u"abAB");
        QTest::newRow("case-insensitive, ASCII") << false << FileEncoding::Utf8 << QStringLiteral(u"akAK");
        QTest::newRow("case-insensitive, Kelvin sign and long s")
            << false << FileEncoding::Utf8 << QStringLiteral(u"ksKS\u212A\u017F");
        QTest::newRow("case-insensitive, outside ASCII") << false << FileEncoding::Utf8 << outside;
        QTest::newRow("case-insensitive, Latin-1")
            << false << FileEncoding::Latin1 << QStringLiteral(u"a\u00E9\u00C9A");
        QTest::newRow("UTF-16LE, exact") << true << FileEncoding::Utf16LE << outside;
        QTest::newRow("UTF-16BE, case-insensitive, Kelvin sign and long s")
            << false << FileEncoding::Utf16BE << QStringLiteral(u"ksKS\u212A\u017F");
        QTest::newRow("UTF-16LE, case-insensitive, outside ASCII") << false << FileEncoding::Utf16LE << outside;
    }
    void matchDecidedWithinMaxMatchBytes()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(FileEncoding, encoding);
        QFETCH(QString, alphabet);
        const QList<uint> letters = alphabet.toUcs4();
        const bool latin1 = encoding == FileEncoding::Latin1;
        // A UTF-16 reader cuts at units only.
        const qsizetype unit = isUtf16(encoding) ? 2 : 1;
        auto encode = [&](const QString &s) { return encoded(s, encoding); };
        QRandomGenerator rng(90211);
        auto randomText = [&](int maxLength) {
            QString s;
            const int length = rng.bounded(maxLength + 1);
            for (int i = 0; i < length; ++i) {
                const char32_t c = letters[rng.bounded(int(letters.size()))];
                s += QString::fromUcs4(&c, 1);
            }
            return s;
        };
        qsizetype longest = 0;
        for (int round = 0; round < 300; ++round) {
            const QByteArray find = encode(randomText(4));
            const QByteArray content = encode(randomText(60));
            const Needle needle(find, caseSensitive, encoding);
            const qsizetype span = needle.maxMatchBytes();
            if (caseSensitive || latin1)
                QCOMPARE(span, find.size());
            QCOMPARE(span % unit, 0);
            const std::vector<Match> all = needle.findAll(content);
            for (const Match &m : all) {
                QCOMPARE_LE(m.length, span);
                longest = std::max(longest, m.length);
            }
            for (qsizetype cut = 0; cut <= content.size(); cut += unit) {
                auto decided = [&](const std::vector<Match> &matches) {
                    QList<qsizetype> starts;
                    for (const Match &m : matches) {
                        if (m.start + span <= cut)
                            starts << m.start << m.length;
                    }
                    return starts;
                };
                const QList<qsizetype> whole = decided(all);
                const QList<qsizetype> shortened = decided(needle.findAll(content.left(cut)));
                if (whole != shortened) {
                    qWarning() << "find" << find.toHex() << "content" << content.toHex() << "cut at" << cut;
                    QCOMPARE(shortened, whole);
                }
            }
        }
        QVERIFY(longest > 0); // the rounds did meet matches
    }

    // Inputs that once took time growing with the content's length times the
    // find text's. The bound is far above what a linear search needs even on
    // a slow, loaded machine, and far below what the old way took.
    void linearOnAdversarialInput_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("find");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<FileEncoding>("encoding");
        QTest::addColumn<qsizetype>("matchAt");

        const QByteArray ae = QStringLiteral(u"\u00E4").toUtf8();
        QTest::newRow("2,000 a-umlaut then x in 8 MB of a-umlaut")
            << (ae.repeated(4'000'000) + "X") << (QStringLiteral(u"\u00C4").toUtf8().repeated(2000) + "x") << false
            << FileEncoding::Utf8 << qsizetype(2 * (4'000'000 - 2000));
        const QByteArray kelvin = QStringLiteral(u"\u212A").toUtf8();
        QTest::newRow("k then x against Kelvin signs")
            << (kelvin.repeated(2'500'000) + "X") << (QByteArray("k").repeated(2000) + "x") << false
            << FileEncoding::Utf8 << qsizetype(3 * (2'500'000 - 2000));
        QTest::newRow("exact, the probes pass at every other byte")
            << (QByteArray("zq").repeated(4'000'000) + "e") << (QByteArray("zq").repeated(50'000) + "e") << true
            << FileEncoding::Utf8 << qsizetype(8'000'000 - 100'000);
        QTest::newRow("case-insensitive, the probes pass at every other byte")
            << (QByteArray("ZQ").repeated(4'000'000) + "E") << (QByteArray("zQ").repeated(5'000) + "e") << false
            << FileEncoding::Utf8 << qsizetype(8'000'000 - 10'000);
        QTest::newRow("Latin-1 case-insensitive, the probes pass at every other byte")
            << (QByteArray("\xC9q").repeated(4'000'000) + "E") << (QByteArray("\xE9Q").repeated(5'000) + "e") << false
            << FileEncoding::Latin1 << qsizetype(8'000'000 - 10'000);

        // In UTF-16 the linear search goes by code points; a needle that
        // would match at every odd offset is never even compared there.
        QTest::newRow("UTF-16LE exact, the probes pass at every unit")
            << le(QString(4'000'000, QChar(0x717A)) + QChar(0x7165))
            << le(QString(50'000, QChar(0x717A)) + QChar(0x7165)) << true << FileEncoding::Utf16LE
            << qsizetype(2 * (4'000'000 - 50'000));
        QTest::newRow("UTF-16BE case-insensitive, the probes pass at every other unit")
            << be(u"ZQ"_qs.repeated(4'000'000) + u"E"_qs) << be(u"zQ"_qs.repeated(5'000) + u"e"_qs) << false
            << FileEncoding::Utf16BE << qsizetype(2 * (8'000'000 - 10'000));
        QTest::newRow("UTF-16LE, a long partial match at every odd offset")
            << (QByteArray("ab").repeated(4'000'000) + "cd" + QByteArray("ba").repeated(50'000) + "ee")
            << (QByteArray("ba").repeated(50'000) + "ee") << true << FileEncoding::Utf16LE << qsizetype(8'000'002);

        // A find text of 10 MB: its set-up must be linear too.
        QRandomGenerator rng(3);
        QByteArray words;
        while (words.size() < 10'000'000) {
            const int length = 2 + rng.bounded(8);
            for (int i = 0; i < length; ++i)
                words += char('a' + rng.bounded(26));
            words += ' ';
        }
        QTest::newRow("10 MB find text, case-insensitive")
            << ("head " + words.toUpper()) << words << false << FileEncoding::Utf8 << qsizetype(5);
    }
    void linearOnAdversarialInput()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, find);
        QFETCH(bool, caseSensitive);
        QFETCH(FileEncoding, encoding);
        QFETCH(qsizetype, matchAt);
        QElapsedTimer timer;
        timer.start();
        const Needle needle(find, caseSensitive, encoding);
        const std::vector<Match> matches = needle.findAll(content);
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(matches.size(), size_t(1));
        QCOMPARE(matches.front().start, matchAt);
        QCOMPARE(matches.front().start + matches.front().length, content.size());
        QVERIFY2(elapsed < 10'000, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
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

    // Every byte against every byte in a Latin-1 file: the same letter
    // exactly when Qt's case folding says so.
    void latin1CaseOfEveryByte()
    {
        for (int a = 0; a < 256; ++a) {
            const Needle needle(QByteArray(1, char(a)), false, FileEncoding::Latin1);
            for (int b = 0; b < 256; ++b) {
                const bool same = QChar::toCaseFolded(char32_t(a)) == QChar::toCaseFolded(char32_t(b));
                if (needle.occursIn(QByteArray(1, char(b))) != same)
                    QFAIL(qPrintable(QString::asprintf("needle %02X in content %02X: expected %s", a, b,
                                                       same ? "a match" : "none")));
            }
        }
        // All the small accented letters as one word find their capitals, far
        // enough in for the block scan.
        QByteArray smalls, capitals;
        for (char32_t c = 0xC0; c <= 0xFF; ++c) {
            const char32_t upper = QChar::toUpper(c);
            if (upper != c && upper <= 0xFF) {
                smalls += char(c);
                capitals += char(upper);
            }
        }
        const QByteArray pad(40, 'x');
        QCOMPARE(substituteAll(pad + capitals + pad + smalls, smalls, "#", false, FileEncoding::Latin1).toHex(),
                 QByteArray(pad + "#" + pad + "#").toHex());
    }

    void encodingDetection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FileEncoding>("encoding");
        QTest::newRow("ASCII") << QByteArray("plain text\r\n") << FileEncoding::Utf8;
        QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9") << FileEncoding::Utf8;
        QTest::newRow("Latin-1 e acute") << QByteArray("caf\xE9") << FileEncoding::Latin1;
        QTest::newRow("truncated sequence at end") << QByteArray("ab\xE2\x82") << FileEncoding::Latin1;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << FileEncoding::Latin1;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << FileEncoding::Latin1;
        QTest::newRow("four-byte emoji") << QByteArray("\xF0\x9F\x98\x80") << FileEncoding::Utf8;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << FileEncoding::Latin1;
        // The first and last code point of each length, and the overlong
        // form just below each first one.
        QTest::newRow("U+0080") << QByteArray("\xC2\x80") << FileEncoding::Utf8;
        QTest::newRow("U+07FF") << QByteArray("\xDF\xBF") << FileEncoding::Utf8;
        QTest::newRow("U+0800") << QByteArray("\xE0\xA0\x80") << FileEncoding::Utf8;
        QTest::newRow("U+07FF in three bytes") << QByteArray("\xE0\x9F\xBF") << FileEncoding::Latin1;
        QTest::newRow("U+D7FF") << QByteArray("\xED\x9F\xBF") << FileEncoding::Utf8;
        QTest::newRow("U+E000") << QByteArray("\xEE\x80\x80") << FileEncoding::Utf8;
        QTest::newRow("U+FFFF") << QByteArray("\xEF\xBF\xBF") << FileEncoding::Utf8;
        QTest::newRow("U+10000") << QByteArray("\xF0\x90\x80\x80") << FileEncoding::Utf8;
        QTest::newRow("U+FFFF in four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << FileEncoding::Latin1;
        QTest::newRow("U+10FFFF") << QByteArray("\xF4\x8F\xBF\xBF") << FileEncoding::Utf8;
        QTest::newRow("lone continuation byte") << QByteArray("\x80") << FileEncoding::Latin1;
        QTest::newRow("Kelvin sign") << QByteArray("5 \xE2\x84\xAA") << FileEncoding::Utf8;
        QTest::newRow("long s, then a cut character") << QByteArray("\xC5\xBF \xF0\x90\x80") << FileEncoding::Latin1;
        QTest::newRow("lead byte, then ASCII") << QByteArray("\xE2\x84x\xAA") << FileEncoding::Latin1;
        // The same after ASCII stretches that the eight- and sixty-four-byte
        // skips take, ending at every part of a block.
        const struct {
            const char *name;
            QByteArray bytes;
            FileEncoding encoding;
        } samples[] = {{"U+0080", "\xC2\x80", FileEncoding::Utf8},
                       {"U+0800", "\xE0\xA0\x80", FileEncoding::Utf8},
                       {"U+10000", "\xF0\x90\x80\x80", FileEncoding::Utf8},
                       {"Latin-1 e acute", "\xE9", FileEncoding::Latin1},
                       {"truncated three bytes", "\xE2\x82", FileEncoding::Latin1}};
        for (const auto &sample : samples) {
            for (int ascii : {7, 8, 15, 23, 31, 47, 63, 64, 71, 127}) {
                QTest::addRow("%s after %d ASCII bytes", sample.name, ascii)
                    << (QByteArray(ascii, 'a') + sample.bytes + QByteArray(70, 'z')) << sample.encoding;
            }
            QTest::addRow("%s at the end of 100 ASCII bytes", sample.name)
                << (QByteArray(100, 'a') + sample.bytes) << sample.encoding;
        }
        // UTF-16 needs its mark and well-formed units after it; anything else
        // is read as it always was.
        QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFEh\0\xE9\0", 6) << FileEncoding::Utf16LE;
        QTest::newRow("UTF-16BE") << QByteArray("\xFE\xFF\0h\0\xE9", 6) << FileEncoding::Utf16BE;
        QTest::newRow("UTF-16LE, only the mark") << QByteArray("\xFF\xFE") << FileEncoding::Utf16LE;
        QTest::newRow("UTF-16LE, surrogate pair") << QByteArray("\xFF\xFE\x3D\xD8\x00\xDE", 6) << FileEncoding::Utf16LE;
        QTest::newRow("UTF-16BE, pair after 100 units, Kelvin sign")
            << (QByteArray("\xFE\xFF") + QByteArray("\0a", 2).repeated(100) + QByteArray("\xD8\x3D\xDE\x00\x21\x2A", 6))
            << FileEncoding::Utf16BE;
        QTest::newRow("UTF-16LE, odd length") << QByteArray("\xFF\xFEh\0i", 5) << FileEncoding::Latin1;
        QTest::newRow("UTF-16LE, high surrogate at the end")
            << QByteArray("\xFF\xFEh\0\x3D\xD8", 6) << FileEncoding::Latin1;
        QTest::newRow("UTF-16BE, high surrogate before a letter")
            << (QByteArray("\xFE\xFF") + QByteArray("\0a", 2).repeated(50) + QByteArray("\xD8\x3D\0h", 4))
            << FileEncoding::Latin1;
        QTest::newRow("UTF-16BE, low surrogate alone") << QByteArray("\xFE\xFF\xDE\x00", 4) << FileEncoding::Latin1;
        QTest::newRow("UTF-32LE mark") << QByteArray("\xFF\xFE\0\0h\0\0\0", 8) << FileEncoding::Latin1;
        QTest::newRow("UTF-16 without a mark is UTF-8") << QByteArray("h\0i\0", 4) << FileEncoding::Utf8;
        QTest::newRow("mark bytes later on") << QByteArray("a\xFF\xFE") << FileEncoding::Latin1;
        QTest::newRow("UTF-8 with its mark") << QByteArray("\xEF\xBB\xBFh\xC3\xA9") << FileEncoding::Utf8;
    }
    void encodingDetection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(FileEncoding, encoding);
        const FileEncoding e = detectEncoding(bytes);
        QCOMPARE(e, encoding);
        // Whatever the encoding, decoding and encoding again gives the bytes
        // back behind their mark, and the text is what Qt reads in them.
        QCOMPARE(byteOrderMark(bytes, e).toByteArray() + encodeText(decodeText(bytes, e), e).value(), bytes);
        QCOMPARE(decodeText(bytes, e), decoded(bytes, e));
        // Checked in blocks split anywhere, UTF-16 is told as in one piece.
        if (const std::optional<FileEncoding> order = utf16ByteOrder(bytes)) {
            for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
                Utf16Check check(*order);
                check.feed(QByteArrayView(bytes).first(cut));
                check.feed(QByteArrayView(bytes).sliced(cut));
                QCOMPARE(check.wellFormed(), isUtf16(encoding));
            }
            Utf16Check bytewise(*order);
            for (const char b : bytes)
                bytewise.feed(QByteArrayView(&b, 1));
            QCOMPARE(bytewise.wellFormed(), isUtf16(encoding));
        }
        // Read in blocks, cut anywhere (also inside a character or a unit),
        // the facts are those of the whole.
        const TextFacts whole = examineText(bytes);
        auto same = [&](const TextFacts &f) {
            return f.encoding == whole.encoding && f.foldsOntoAscii == whole.foldsOntoAscii;
        };
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            TextExaminer examiner;
            examiner.feed(bytes.first(cut));
            examiner.feed(bytes.sliced(cut));
            QVERIFY2(same(examiner.finish()), qPrintable(QString("cut at %1").arg(cut)));
        }
        TextExaminer bytewise;
        for (const char c : bytes)
            bytewise.feed(QByteArrayView(&c, 1));
        QVERIFY(same(bytewise.finish()));
    }

    void unrepresentableText()
    {
        QVERIFY(!encodeText(QStringLiteral(u"\u20AC"), FileEncoding::Latin1).has_value());
        QCOMPARE(encodeText(QStringLiteral(u"\u00E9"), FileEncoding::Latin1).value(), QByteArray("\xE9"));
        QVERIFY(!encodeText(QString(QChar(0xD800)), FileEncoding::Utf8).has_value());
        // UTF-16 holds any text but a lone surrogate.
        QVERIFY(!encodeText(u"a"_qs + QChar(0xD83D), FileEncoding::Utf16LE).has_value());
        QVERIFY(!encodeText(QChar(0xDE00) + u"a"_qs, FileEncoding::Utf16BE).has_value());
        QCOMPARE(encodeText(u"\u20AC\U0001F600"_qs, FileEncoding::Utf16BE).value(), be(u"\u20AC\U0001F600"_qs));
        QCOMPARE(encodingName(FileEncoding::Utf16LE), u"UTF-16LE"_qs);
        QCOMPARE(encodingName(FileEncoding::Utf16BE), u"UTF-16BE"_qs);
    }
};

QTEST_GUILESS_MAIN(tst_Substitution)
#include "tst_substitution.moc"
