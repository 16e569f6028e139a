// SPDX-License-Identifier: MIT
#include "engine/journal/JournalRecord.h"

#include <QCoreApplication>
#include <QtEndian>

#include <array>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <type_traits>

namespace vexalo::journal {

namespace {

// A line counts only whole: a run killed (or a machine stopped) while a
// line was written leaves one whose checksum does not match. CRC-32 as zlib
// and PNG have it, eight bytes a step: a run writes a line for every file,
// and a byte at a time was most of what making one cost.
quint32 crc32(QByteArrayView data)
{
    static const auto tables = [] {
        std::array<std::array<quint32, 256>, 8> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
            t[0][i] = c;
        }
        for (int s = 1; s < 8; ++s) {
            for (quint32 i = 0; i < 256; ++i)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xffu];
        }
        return t;
    }();
    const auto &t = tables;
    const uchar *p = reinterpret_cast<const uchar *>(data.data());
    qsizetype n = data.size();
    quint32 c = 0xffffffffu;
    for (; n >= 8; p += 8, n -= 8) {
        const quint32 lo = qFromLittleEndian<quint32>(p) ^ c;
        const quint32 hi = qFromLittleEndian<quint32>(p + 4);
        c = t[7][lo & 0xffu] ^ t[6][(lo >> 8) & 0xffu] ^ t[5][(lo >> 16) & 0xffu] ^ t[4][lo >> 24] ^ t[3][hi & 0xffu]
            ^ t[2][(hi >> 8) & 0xffu] ^ t[1][(hi >> 16) & 0xffu] ^ t[0][hi >> 24];
    }
    for (; n > 0; --n)
        c = t[0][(c ^ *p++) & 0xffu] ^ (c >> 8);
    return ~c;
}

// Bytes written as hex: paths are bytes, and may hold blanks or line breaks.
template <typename Bytes>
struct Hex {
    Bytes &bytes;
};
template <typename Text>
struct HexText {
    Text &text;
};

// Every field of every kind, named once. A field's name is its meaning in
// the file; changing one is a change of format.
template <typename Bytes>
Hex<Bytes> hex(Bytes &bytes)
{
    return {bytes};
}
template <typename Text>
HexText<Text> hexText(Text &text)
{
    return {text};
}

template <typename R, typename Visit>
void eachField(R &r, Visit &&v)
{
    using Kind = Record::Kind;
    switch (r.kind) {
    case Kind::Header:
        v("version", r.version);
        v("run", r.run);
        v("folder", hex(r.folder));
        v("started", r.startedMs);
        break;
    case Kind::Keep:
        v("file", r.file);
        v("path", hex(r.path));
        v("kept", r.kept);
        v("dev", r.origDev);
        v("ino", r.origIno);
        v("size", r.origSize);
        v("mtime", r.origMtimeSec);
        v("mtime-ns", r.origMtimeNsec);
        v("new-dev", r.newDev);
        v("new-ino", r.newIno);
        v("new-size", r.newSize);
        v("digest", hex(r.digest));
        break;
    case Kind::Unkept:
        v("file", r.file);
        v("path", hex(r.path));
        v("reason", hexText(r.reason));
        break;
    case Kind::Back:
    case Kind::Withdrawn: v("file", r.file); break;
    }
}

constexpr std::array<std::pair<Record::Kind, const char *>, 5> kindNames{{
    {Record::Kind::Header, "vexalo-journal"},
    {Record::Kind::Keep, "keep"},
    {Record::Kind::Unkept, "unkept"},
    {Record::Kind::Back, "back"},
    {Record::Kind::Withdrawn, "withdrawn"},
}};

const char *kindName(Record::Kind kind)
{
    for (const auto &[k, name] : kindNames) {
        if (k == kind)
            return name;
    }
    return "?";
}

// Built in one buffer: a run writes a record for every file, and a list of
// small strings joined would allocate a dozen times each.
struct Writer {
    QByteArray &line;
    void key(const char *name) { line.append(' ').append(name).append('='); }
    template <typename Integer>
    requires std::is_integral_v<Integer>
    void operator()(const char *name, Integer value)
    {
        key(name);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        line.append(digits, end - digits);
    }
    void operator()(const char *name, const QByteArray &word)
    {
        key(name);
        line.append(word);
    }
    void hex(QByteArrayView bytes)
    {
        static constexpr char digits[] = "0123456789abcdef";
        const qsizetype at = line.size();
        line.resize(at + 2 * bytes.size());
        char *out = line.data() + at;
        for (const char c : bytes) {
            *out++ = digits[uchar(c) >> 4];
            *out++ = digits[uchar(c) & 0xf];
        }
    }
    void operator()(const char *name, Hex<const QByteArray> field)
    {
        key(name);
        hex(field.bytes);
    }
    void operator()(const char *name, HexText<const QString> field)
    {
        key(name);
        hex(field.text.toUtf8());
    }
};

// The key=value pairs of a line, in order (a few per line: a list is enough).
using Pairs = QList<std::pair<QByteArrayView, QByteArrayView>>;

struct Reader {
    const Pairs &pairs;
    QString missing; // the first field the line lacks or holds wrong

    QByteArrayView find(const char *name)
    {
        for (const auto &[k, v] : pairs) {
            if (k == name)
                return v;
        }
        if (missing.isEmpty())
            missing = QString::fromLatin1(name);
        return {};
    }
    template <typename Integer>
    requires std::is_integral_v<Integer>
    void operator()(const char *name, Integer &value)
    {
        const QByteArrayView text = find(name);
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if ((ec != std::errc() || end != text.data() + text.size()) && missing.isEmpty())
            missing = QString::fromLatin1(name);
    }
    void operator()(const char *name, QByteArray &word) { word = find(name).toByteArray(); }
    void operator()(const char *name, Hex<QByteArray> field)
    {
        field.bytes = QByteArray::fromHex(find(name).toByteArray());
    }
    void operator()(const char *name, HexText<QString> field)
    {
        field.text = QString::fromUtf8(QByteArray::fromHex(find(name).toByteArray()));
    }
};

// lupdate files a free tr() under the namespace it sits in.
QString tr(const char *text)
{
    return QCoreApplication::translate("vexalo::journal", text);
}

// One line read back, or why not.
bool parseRecord(QByteArrayView line, Record *record, QString *why)
{
    const qsizetype space = line.lastIndexOf(' ');
    bool ok = false;
    const quint32 sum = space > 0 ? line.sliced(space + 1).toUInt(&ok, 16) : 0;
    if (!ok || sum != crc32(line.first(space))) {
        *why = tr("its checksum does not match");
        return false;
    }
    const QByteArrayView body = line.first(space);
    Pairs pairs;
    QByteArrayView kind;
    qsizetype at = 0;
    while (at <= body.size()) {
        qsizetype end = body.indexOf(' ', at);
        if (end < 0)
            end = body.size();
        const QByteArrayView word = body.sliced(at, end - at);
        if (kind.isNull()) {
            kind = word;
        } else {
            const qsizetype eq = word.indexOf('=');
            if (eq > 0)
                pairs.append({word.first(eq), word.sliced(eq + 1)});
        }
        at = end + 1;
    }
    bool known = false;
    for (const auto &[k, name] : kindNames) {
        if (kind == name) {
            record->kind = k;
            known = true;
        }
    }
    if (!known) {
        *why = tr("it is of a kind this version does not know (%1)").arg(QString::fromUtf8(kind));
        return false;
    }
    Reader reader{pairs, {}};
    eachField(*record, reader);
    if (!reader.missing.isEmpty()) {
        *why = tr("its field \"%1\" is missing or not readable").arg(reader.missing);
        return false;
    }
    // The kept name is the program's own; anything else is never opened.
    if (record->kind == Record::Kind::Keep
        && (record->kept.contains('/') || record->kept.size() < 2
            || (record->kept[0] != 'l' && record->kept[0] != 'c'))) {
        *why = tr("its kept name is not one the program gives");
        return false;
    }
    return true;
}

} // namespace

QByteArray recordLine(const Record &record)
{
    QByteArray line;
    line.reserve(2 * record.path.size() + 220);
    line.append(kindName(record.kind));
    eachField(record, Writer{line});
    char digits[10];
    std::snprintf(digits, sizeof digits, " %08x", crc32(line));
    line.append(digits, 9).append('\n');
    return line;
}

Manifest parseManifest(const QByteArray &bytes)
{
    Manifest m;
    qsizetype at = 0;
    int number = 0;
    while (at < bytes.size()) {
        // Zeros are room the run took ahead for its records and had not
        // filled when it was stopped; Undo's records may follow them.
        if (bytes[at] == '\0') {
            ++at;
            continue;
        }
        const char *from = bytes.constData() + at;
        const auto *stop = static_cast<const char *>(std::memchr(from, '\n', size_t(bytes.size() - at)));
        const char *lineEnd = stop ? stop : bytes.constData() + bytes.size();
        const auto *zero = static_cast<const char *>(std::memchr(from, '\0', size_t(lineEnd - from)));
        if (!stop || zero) {
            // A line without its end is one the run was writing when it was
            // stopped: the file it names was not yet replaced.
            m.cutShort = true;
            if (!zero)
                break;
            at = zero - bytes.constData();
            continue;
        }
        const qsizetype end = stop - bytes.constData();
        const QByteArrayView line = QByteArrayView(bytes).sliced(at, end - at);
        at = end + 1;
        ++number;
        m.noLine = false;
        Record r;
        QString why;
        const bool parsed = parseRecord(line, &r, &why);
        if (number == 1) {
            if (!parsed || r.kind != Record::Kind::Header) {
                m.unreadable = line.startsWith("V1 ") ? tr("it was written by an earlier version of the program")
                                                      : tr("its first line cannot be read: %1").arg(why);
                return m;
            }
            if (r.version > formatVersion) {
                m.unreadable = tr("it was written by a later version of the program");
                return m;
            }
            m.header = r;
            m.readable = true;
            continue;
        }
        if (!parsed) {
            m.damaged.append({number, why});
            continue;
        }
        switch (r.kind) {
        case Record::Kind::Keep:
        case Record::Kind::Unkept:
            // An Unkept after a Keep of the same file: the swap did not
            // happen as planned, and the later word counts.
            m.files[r.file] = r;
            break;
        case Record::Kind::Back: m.back.insert(r.file); break;
        case Record::Kind::Withdrawn: m.withdrawn.insert(r.file); break;
        case Record::Kind::Header: m.damaged.append({number, tr("it repeats the run's first line")}); break;
        }
    }
    if (!m.readable && m.unreadable.isEmpty())
        m.unreadable = tr("it is empty");
    return m;
}

int Manifest::pending(bool keptOnly) const
{
    int n = 0;
    for (const auto &[file, r] : files) {
        if (back.count(file) || withdrawn.count(file))
            continue;
        if ((r.kind == Record::Kind::Keep) == keptOnly)
            ++n;
    }
    return n;
}

qint64 Manifest::keptBytes() const
{
    qint64 bytes = 0;
    for (const auto &[file, r] : files) {
        if (r.kind == Record::Kind::Keep && !back.count(file) && !withdrawn.count(file))
            bytes += r.origSize;
    }
    return bytes;
}

} // namespace vexalo::journal
