// SPDX-License-Identifier: MIT
#include "engine/files/FileNames.h"

#include <QCoreApplication>

#include <unistd.h>

namespace vexalo {

namespace {

constexpr char16_t escapeBase = 0xDC00;

bool isEscape(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

bool isContinuation(unsigned char b, unsigned char low = 0x80, unsigned char high = 0xBF)
{
    return b >= low && b <= high;
}

// The length of the well-formed UTF-8 sequence at p (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0 when there is none.
int sequenceLength(const unsigned char *p, qsizetype left)
{
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return left >= 2 && isContinuation(p[1]) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const unsigned char low = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = b == 0xED ? 0x9F : 0xBF;
        return left >= 3 && isContinuation(p[1], low, high) && isContinuation(p[2]) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const unsigned char low = b == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b == 0xF4 ? 0x8F : 0xBF;
        return left >= 4 && isContinuation(p[1], low, high) && isContinuation(p[2]) && isContinuation(p[3]) ? 4 : 0;
    }
    return 0;
}

} // namespace

QString decodeFileName(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    QString name(n, Qt::Uninitialized); // never more UTF-16 units than bytes
    char16_t *out = reinterpret_cast<char16_t *>(name.data());
    qsizetype used = 0;
    for (qsizetype i = 0; i < n;) {
        const int length = sequenceLength(p + i, n - i);
        char32_t c = 0;
        switch (length) {
        case 0:
            out[used++] = char16_t(escapeBase + p[i]);
            ++i;
            continue;
        case 1: c = p[i]; break;
        case 2: c = char32_t(p[i] & 0x1F) << 6 | (p[i + 1] & 0x3F); break;
        case 3: c = char32_t(p[i] & 0x0F) << 12 | char32_t(p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F); break;
        default:
            c = char32_t(p[i] & 0x07) << 18 | char32_t(p[i + 1] & 0x3F) << 12 | char32_t(p[i + 2] & 0x3F) << 6
                | (p[i + 3] & 0x3F);
            break;
        }
        i += length;
        if (c >= 0x10000) {
            out[used++] = QChar::highSurrogate(c);
            out[used++] = QChar::lowSurrogate(c);
        } else {
            out[used++] = char16_t(c);
        }
    }
    name.truncate(used);
    return name;
}

QByteArray encodeFileName(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size() * 3);
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart)
            bytes += name.mid(runStart, end - runStart).toUtf8();
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i; // a pair is a character of its own, even when its low half looks like an escape
            continue;
        }
        if (isEscape(c)) {
            flushRun(i);
            bytes += char(c - escapeBase);
            runStart = i + 1;
        }
    }
    flushRun(name.size());
    return bytes;
}

namespace {

// How a character that would break or forge a line is shown: a line break,
// a tab or any other C0 control, DEL, a C1 control (U+0085 is a line break
// to some readers) and the two Unicode line separators (the window's log
// starts a new line at them). None of them is left in a name as shown, so
// one file's line is always one line.
QString escapedControl(char16_t c)
{
    switch (c) {
    case u'\n': return QStringLiteral("\\n");
    case u'\r': return QStringLiteral("\\r");
    case u'\t': return QStringLiteral("\\t");
    default: break;
    }
    if (c < 0x20 || c == 0x7F)
        return QLatin1String("\\x") + QString::number(unsigned(c), 16).rightJustified(2, u'0').toUpper();
    if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029)
        return QLatin1String("\\u") + QString::number(unsigned(c), 16).rightJustified(4, u'0').toUpper();
    return {};
}

} // namespace

QString displayName(QStringView name)
{
    QString shown;
    shown.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            shown += name[i];
            shown += name[++i];
        } else if (isEscape(c)) {
            shown += QLatin1String("\\x") + QString::number(unsigned(c - escapeBase), 16).toUpper();
        } else if (const QString escaped = escapedControl(c); !escaped.isEmpty()) {
            shown += escaped;
        } else if (QChar::isSurrogate(c)) {
            shown += QChar(QChar::ReplacementCharacter);
        } else {
            shown += name[i];
        }
    }
    return shown;
}

QString changeCase(QStringView name, bool toUpper)
{
    QString changed;
    changed.reserve(name.size());
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart) {
            const QString run = name.mid(runStart, end - runStart).toString();
            changed += toUpper ? run.toUpper() : run.toLower();
        }
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (isEscape(c)) {
            flushRun(i);
            changed += name[i];
            runStart = i + 1;
        }
    }
    flushRun(name.size());
    return changed;
}

QString runningProgramFolder()
{
    QByteArray path(4096, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), size_t(path.size()));
        if (n < 0)
            return QCoreApplication::applicationDirPath();
        if (n < path.size()) {
            path.truncate(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QStringLiteral("/") : decodeFileName(QByteArrayView(path).first(slash));
}

} // namespace vexalo
