// SPDX-License-Identifier: MIT
#include "engine/text/RegexMatcher.h"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace vexalo {

namespace {

// Where PCRE2 stops one search: past it the file is failed as too complex,
// which takes a small part of a second with the JIT, so a stop is never far.
constexpr uint32_t matchLimit = 5'000'000;
constexpr uint32_t depthLimit = 100'000;

QString errorText16(int code)
{
    PCRE2_UCHAR16 buffer[256];
    const int n = pcre2_get_error_message_16(code, buffer, 256);
    return n > 0 ? QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), n) : QString::number(code);
}

uint32_t compileOptions(bool caseSensitive, bool unicode)
{
    // Multi-line, . not matching a line break: the defaults of the regular
    // expressions users know from sd and editors.
    uint32_t options = PCRE2_MULTILINE;
    if (!caseSensitive)
        options |= PCRE2_CASELESS;
    // Unicode properties for \w, \b, \d and case in Latin-1 files too:
    // 0x80 to 0xFF are then the Latin-1 characters.
    options |= PCRE2_UCP;
    if (unicode)
        options |= PCRE2_UTF;
    return options;
}

bool nativeLittle()
{
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian;
}

} // namespace

// ---------------------------------------------------------------------------

RegexProgram::RegexProgram(const QString &pattern, const QString &replacement, bool caseSensitive)
    : m_pattern(pattern)
    , m_caseSensitive(caseSensitive)
{
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_compile_context_16 *context = pcre2_compile_context_create_16(nullptr);
    pcre2_set_newline_16(context, PCRE2_NEWLINE_LF);
    pcre2_code_16 *compiled = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(pattern.utf16()), size_t(pattern.size()),
                                               compileOptions(caseSensitive, true), &code, &offset, context);
    pcre2_compile_context_free_16(context);
    if (!compiled) {
        m_error = RegexError{errorText16(code), qsizetype(offset), false};
        return;
    }
    uint32_t captures = 0;
    pcre2_pattern_info_16(compiled, PCRE2_INFO_CAPTURECOUNT, &captures);

    // sd's syntax: $ and a name of letters, digits and _ (all digits: a
    // number), the same in braces, $$ for a dollar sign; any other $ is itself.
    auto isNameChar = [](QChar c) { return c == QLatin1Char('_') || (c.unicode() < 128 && c.isLetterOrNumber()); };
    QString literal;
    auto refer = [&](const QString &name, qsizetype at) -> bool {
        bool number = false;
        const uint group = name.toUInt(&number);
        int index = -1;
        if (number && !name.isEmpty()) {
            if (group <= captures)
                index = int(group);
        } else {
            const int n = pcre2_substring_number_from_name_16(compiled, reinterpret_cast<PCRE2_SPTR16>(name.utf16()));
            if (n > 0)
                index = n;
        }
        if (index < 0) {
            m_error =
                RegexError{QCoreApplication::translate(
                               "vexalo", "the replacement refers to group \"%1\", which the pattern does not have")
                               .arg(name),
                           at, true};
            return false;
        }
        if (!literal.isEmpty())
            m_parts.push_back({literal, -1});
        literal.clear();
        m_parts.push_back({{}, index});
        return true;
    };
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement.at(i);
        if (c != QLatin1Char('$') || i + 1 == replacement.size()) {
            literal += c;
            continue;
        }
        const QChar next = replacement.at(i + 1);
        if (next == QLatin1Char('$')) {
            literal += c;
            ++i;
        } else if (next == QLatin1Char('{')) {
            const qsizetype close = replacement.indexOf(QLatin1Char('}'), i + 2);
            if (close < 0) {
                literal += c;
                continue;
            }
            if (!refer(replacement.mid(i + 2, close - i - 2), i))
                break;
            i = close;
        } else if (isNameChar(next)) {
            qsizetype end = i + 1;
            while (end < replacement.size() && isNameChar(replacement.at(end)))
                ++end;
            if (!refer(replacement.mid(i + 1, end - i - 1), i))
                break;
            i = end - 1;
        } else {
            literal += c;
        }
    }
    if (!literal.isEmpty() && !m_error)
        m_parts.push_back({literal, -1});
    pcre2_code_free_16(compiled);
}

RegexProgram::~RegexProgram() = default;

// ---------------------------------------------------------------------------

RegexCode::RegexCode(const RegexProgram &program, FileEncoding encoding)
    : m_encoding(encoding)
{
    if (encoding == FileEncoding::Latin1 && !encodeText(program.pattern(), encoding)) {
        m_refusal = QCoreApplication::translate("vexalo", "the pattern has characters that a Latin-1 file cannot hold");
        return;
    }
    int error = 0;
    m_code = compile(program, false, &error);
    if (!m_code) { // compiles in UTF mode but not here: \x{100} in Latin-1
        m_refusal = QCoreApplication::translate("vexalo", "the pattern cannot be used in a %1 file: %2")
                        .arg(encodingName(encoding), errorText16(error));
        return;
    }
    m_codeBeforeEnd = compile(program, true, &error);
    uint32_t lookBehind = 0;
    if (isUtf16(encoding))
        pcre2_pattern_info_16(static_cast<pcre2_code_16 *>(m_code), PCRE2_INFO_MAXLOOKBEHIND, &lookBehind);
    else
        pcre2_pattern_info_8(static_cast<pcre2_code_8 *>(m_code), PCRE2_INFO_MAXLOOKBEHIND, &lookBehind);
    const qsizetype perChar = encoding == FileEncoding::Latin1 ? 1 : 4;
    m_contextBytes = perChar * qsizetype(std::max<uint32_t>(lookBehind, 1));
}

void *RegexCode::compile(const RegexProgram &program, bool beforeEnd, int *error)
{
    PCRE2_SIZE offset = 0;
    uint32_t options = compileOptions(program.caseSensitive(), m_encoding != FileEncoding::Latin1);
    // Perl's ^ never matches after a line break that ends the content; where
    // more content follows, the end of a block is no such place.
    if (beforeEnd)
        options |= PCRE2_ALT_CIRCUMFLEX;
    if (isUtf16(m_encoding)) {
        pcre2_compile_context_16 *context = pcre2_compile_context_create_16(nullptr);
        pcre2_set_newline_16(context, PCRE2_NEWLINE_LF);
        pcre2_code_16 *code = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(program.pattern().utf16()),
                                               size_t(program.pattern().size()), options, error, &offset, context);
        pcre2_compile_context_free_16(context);
        if (code)
            pcre2_jit_compile_16(code, beforeEnd ? PCRE2_JIT_PARTIAL_HARD : PCRE2_JIT_COMPLETE);
        return code;
    }
    const QByteArray bytes =
        m_encoding == FileEncoding::Latin1 ? *encodeText(program.pattern(), m_encoding) : program.pattern().toUtf8();
    pcre2_compile_context_8 *context = pcre2_compile_context_create_8(nullptr);
    pcre2_set_newline_8(context, PCRE2_NEWLINE_LF);
    pcre2_code_8 *code = pcre2_compile_8(reinterpret_cast<PCRE2_SPTR8>(bytes.constData()), size_t(bytes.size()),
                                         options, error, &offset, context);
    pcre2_compile_context_free_8(context);
    if (code)
        pcre2_jit_compile_8(code, beforeEnd ? PCRE2_JIT_PARTIAL_HARD : PCRE2_JIT_COMPLETE);
    return code;
}

RegexCode::~RegexCode()
{
    if (isUtf16(m_encoding)) {
        pcre2_code_free_16(static_cast<pcre2_code_16 *>(m_code));
        pcre2_code_free_16(static_cast<pcre2_code_16 *>(m_codeBeforeEnd));
    } else {
        pcre2_code_free_8(static_cast<pcre2_code_8 *>(m_code));
        pcre2_code_free_8(static_cast<pcre2_code_8 *>(m_codeBeforeEnd));
    }
}

std::optional<EncodedReplacement> EncodedReplacement::make(const RegexProgram &program, FileEncoding encoding,
                                                           std::optional<LineBreaks> breaks)
{
    EncodedReplacement encoded;
    for (const ReplacementPart &part : program.replacement()) {
        if (part.group >= 0) {
            encoded.parts.emplace_back(part.group);
            continue;
        }
        const std::optional<QByteArray> bytes =
            encodeText(breaks ? withLineBreaks(part.text, *breaks) : part.text, encoding);
        if (!bytes)
            return std::nullopt;
        encoded.parts.emplace_back(*bytes);
    }
    return encoded;
}

// ---------------------------------------------------------------------------

struct RegexMatcher::Engine {
    bool wide = false;
    pcre2_match_data_8 *data8 = nullptr;
    pcre2_match_data_16 *data16 = nullptr;
    pcre2_match_context_8 *context8 = nullptr;
    pcre2_match_context_16 *context16 = nullptr;
    pcre2_jit_stack_8 *stack8 = nullptr;
    pcre2_jit_stack_16 *stack16 = nullptr;

    explicit Engine(const RegexCode &code)
        : wide(isUtf16(code.encoding()))
    {
        if (wide) {
            auto *c = static_cast<pcre2_code_16 *>(code.code());
            data16 = pcre2_match_data_create_from_pattern_16(c, nullptr);
            context16 = pcre2_match_context_create_16(nullptr);
            stack16 = pcre2_jit_stack_create_16(32 * 1024, 4 * 1024 * 1024, nullptr);
            pcre2_jit_stack_assign_16(context16, nullptr, stack16);
            pcre2_set_match_limit_16(context16, matchLimit);
            pcre2_set_depth_limit_16(context16, depthLimit);
        } else {
            auto *c = static_cast<pcre2_code_8 *>(code.code());
            data8 = pcre2_match_data_create_from_pattern_8(c, nullptr);
            context8 = pcre2_match_context_create_8(nullptr);
            stack8 = pcre2_jit_stack_create_8(32 * 1024, 4 * 1024 * 1024, nullptr);
            pcre2_jit_stack_assign_8(context8, nullptr, stack8);
            pcre2_set_match_limit_8(context8, matchLimit);
            pcre2_set_depth_limit_8(context8, depthLimit);
        }
    }
    ~Engine()
    {
        pcre2_match_data_free_8(data8);
        pcre2_match_data_free_16(data16);
        pcre2_match_context_free_8(context8);
        pcre2_match_context_free_16(context16);
        pcre2_jit_stack_free_8(stack8);
        pcre2_jit_stack_free_16(stack16);
    }
};

RegexMatcher::RegexMatcher(const RegexCode &code, const EncodedReplacement &replacement)
    : m_code(code)
    , m_replacement(replacement)
    , m_engine(std::make_unique<Engine>(code))
    , m_encoding(code.encoding())
    , m_unit(isUtf16(code.encoding()) ? 2 : 1)
{
}

RegexMatcher::~RegexMatcher() = default;

QString RegexMatcher::describe(Status status)
{
    switch (status) {
    case Status::LookBackTooLong:
        return QCoreApplication::translate(
            "vexalo", "a match would need more than 64 MiB of the file at once; the file was left unchanged");
    case Status::TooComplex:
        return QCoreApplication::translate("vexalo",
                                           "the pattern is too complex for this file; the file was left unchanged");
    case Status::BrokenText:
        return QCoreApplication::translate("vexalo", "the file's text is not valid in its encoding");
    case Status::Stopped:
        return QCoreApplication::translate("vexalo",
                                           "stopped before the file was finished; the file was left unchanged");
    case Status::Ok:
    case Status::Failed: break;
    }
    return {};
}

namespace {

// How far from i the n bytes at b are whole characters of UTF-8.
qsizetype validUtf8UpTo(const unsigned char *b, qsizetype n, qsizetype i, bool last, bool *broken)
{
    while (i < n) {
        // Eight ASCII bytes at a time: the common case.
        while (i + 8 <= n) {
            quint64 w;
            std::memcpy(&w, b + i, 8);
            if (w & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const unsigned char c = b[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        char32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            min = 0x10000;
        } else {
            *broken = true;
            return i;
        }
        if (i + len > n) {
            // Could the bytes there are begin a character? Then wait.
            for (qsizetype k = i + 1; k < n; ++k) {
                if ((b[k] & 0xC0) != 0x80) {
                    *broken = true;
                    return i;
                }
            }
            if (last)
                *broken = true;
            return i;
        }
        char32_t cp = c & (0x7F >> len);
        for (int k = 1; k < len; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) {
                *broken = true;
                return i;
            }
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *broken = true;
            return i;
        }
        i += len;
    }
    return n;
}

// The same for UTF-16 in the file's order: surrogates in pairs.
qsizetype validUtf16UpTo(const unsigned char *b, qsizetype n, qsizetype i, bool big, bool last, bool *broken)
{
    auto unitAt = [&](qsizetype at) { return char16_t(big ? (b[at] << 8) | b[at + 1] : (b[at + 1] << 8) | b[at]); };
    while (i + 2 <= n) {
        const char16_t u = unitAt(i);
        if (u >= 0xDC00 && u <= 0xDFFF) {
            *broken = true;
            return i;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 4 > n) {
                if (last)
                    *broken = true;
                return i;
            }
            const char16_t low = unitAt(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) {
                *broken = true;
                return i;
            }
            i += 4;
            continue;
        }
        i += 2;
    }
    if (i < n && last)
        *broken = true;
    return i;
}

} // namespace

// How far from `from` the bytes are whole characters of the encoding: a
// character cut by the block's end waits for the next block.
qsizetype RegexMatcher::validUpTo(qsizetype from, bool last, bool *broken) const
{
    const auto *b = reinterpret_cast<const unsigned char *>(m_buf.constData());
    const qsizetype n = m_buf.size();
    *broken = false;
    if (m_encoding == FileEncoding::Latin1)
        return n;
    if (m_encoding == FileEncoding::Utf8)
        return validUtf8UpTo(b, n, from, last, broken);
    return validUtf16UpTo(b, n, from, m_encoding == FileEncoding::Utf16BE, last, broken);
}

qsizetype RegexMatcher::nextChar(qsizetype at) const
{
    const auto *b = reinterpret_cast<const unsigned char *>(m_buf.constData());
    if (m_encoding == FileEncoding::Latin1)
        return at + 1;
    if (m_encoding == FileEncoding::Utf8) {
        const unsigned char c = b[at];
        return at + (c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4);
    }
    const bool big = m_encoding == FileEncoding::Utf16BE;
    const char16_t u = char16_t(big ? (b[at] << 8) | b[at + 1] : (b[at + 1] << 8) | b[at]);
    return at + (u >= 0xD800 && u <= 0xDBFF ? 4 : 2);
}

void RegexMatcher::emitKept(qsizetype upTo)
{
    if (upTo > m_kept)
        m_pieces.push_back(QByteArrayView(m_buf.constData() + m_kept, upTo - m_kept));
    m_kept = std::max(m_kept, upTo);
}

void RegexMatcher::emitMatch(const size_t *ovector, int pairs)
{
    const qsizetype start = qsizetype(ovector[0]) * m_unit;
    const qsizetype end = std::max(start, qsizetype(ovector[1]) * m_unit);
    emitKept(start);
    // The replacement in one piece, to compare it with what it replaces.
    QByteArray made;
    for (const auto &part : m_replacement.parts) {
        if (const QByteArray *bytes = std::get_if<QByteArray>(&part)) {
            made += *bytes;
            continue;
        }
        const int group = std::get<int>(part);
        if (group >= pairs || ovector[2 * group] == PCRE2_UNSET)
            continue; // a group that took no part is empty
        const qsizetype from = qsizetype(ovector[2 * group]) * m_unit;
        const qsizetype to = qsizetype(ovector[2 * group + 1]) * m_unit;
        if (to > from)
            made.append(m_buf.constData() + from, to - from);
    }
    const QByteArrayView old(m_buf.constData() + start, end - start);
    if (m_firstChange < 0 && old != QByteArrayView(made))
        m_firstChange = m_bufStart + start;
    if (!made.isEmpty()) {
        m_made.push_back(std::move(made));
        m_pieces.push_back(QByteArrayView(m_made.back()));
    }
    m_kept = end;
    ++m_matches;
}

RegexMatcher::Status RegexMatcher::feed(QByteArrayView bytes, bool last)
{
    if (m_done)
        return Status::Ok;
    m_pieces.clear();
    if (m_stop && m_stop()) {
        m_done = true;
        return Status::Stopped;
    }
    m_made.clear();
    // Drop what is handed out and lies before the context the next search needs.
    qsizetype drop = std::min(m_kept, m_pos - m_code.contextBytes());
    if (drop > 0) {
        // Keep whole characters: the context begins at one.
        if (m_encoding == FileEncoding::Utf8) {
            while (drop > 0 && drop < m_buf.size() && (static_cast<unsigned char>(m_buf.at(drop)) & 0xC0) == 0x80)
                --drop;
        } else if (m_unit == 2) {
            drop &= ~qsizetype(1);
            // A low surrogate's pair begins two bytes earlier.
            const auto *b = reinterpret_cast<const unsigned char *>(m_buf.constData());
            const bool big = m_encoding == FileEncoding::Utf16BE;
            if (drop >= 2 && drop + 2 <= m_buf.size()) {
                const char16_t u = char16_t(big ? (b[drop] << 8) | b[drop + 1] : (b[drop + 1] << 8) | b[drop]);
                if (u >= 0xDC00 && u <= 0xDFFF)
                    drop -= 2;
            }
        }
    }
    if (drop > 0) {
        m_buf.remove(0, drop);
        if (!m_swapped.isEmpty())
            m_swapped.remove(0, drop);
        m_bufStart += drop;
        m_pos -= drop;
        m_kept -= drop;
        m_valid -= drop;
    }
    const qsizetype before = m_buf.size();
    m_buf.append(bytes.data(), bytes.size());
    const bool swap = m_unit == 2 && (m_encoding == FileEncoding::Utf16BE) == nativeLittle();
    if (swap) {
        // Whole units only; a unit cut by the block's end is redone with the next.
        const qsizetype from = before & ~qsizetype(1);
        m_swapped.resize(m_buf.size());
        const qsizetype units = (m_buf.size() - from) / 2;
        if (m_encoding == FileEncoding::Utf16BE)
            qFromBigEndian<quint16>(m_buf.constData() + from, units, m_swapped.data() + from);
        else
            qFromLittleEndian<quint16>(m_buf.constData() + from, units, m_swapped.data() + from);
    }
    const Status status = run(last);
    if (status != Status::Ok)
        m_done = true;
    return status;
}

RegexMatcher::Status RegexMatcher::run(bool last)
{
    bool broken = false;
    m_valid = validUpTo(m_valid, last, &broken);
    if (broken)
        return Status::BrokenText;
    const qsizetype end = m_valid; // bytes after it wait for the rest of their character
    const bool wide = m_unit == 2;
    const void *subject = wide && !m_swapped.isEmpty() ? m_swapped.constData() : m_buf.constData();
    const size_t length = size_t(end / m_unit);
    const uint32_t base = PCRE2_NO_UTF_CHECK | (last ? 0 : PCRE2_PARTIAL_HARD) | (m_bufStart > 0 ? PCRE2_NOTBOL : 0);
    void *code = last ? m_code.code() : m_code.codeBeforeEnd();
    int sinceStopAsked = 0;
    while (true) {
        if (++sinceStopAsked == 256) {
            sinceStopAsked = 0;
            if (m_stop && m_stop())
                return Status::Stopped;
        }
        if (m_pos > end || (m_pos == end && !last))
            break;
        const uint32_t options = base | (m_emptyAt ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0);
        int rc;
        const size_t *ovector;
        int pairs;
        if (wide) {
            rc = pcre2_match_16(static_cast<pcre2_code_16 *>(code), static_cast<PCRE2_SPTR16>(subject), length,
                                size_t(m_pos / 2), options, m_engine->data16, m_engine->context16);
            ovector = pcre2_get_ovector_pointer_16(m_engine->data16);
            pairs = int(pcre2_get_ovector_count_16(m_engine->data16));
        } else {
            rc = pcre2_match_8(static_cast<pcre2_code_8 *>(code), static_cast<PCRE2_SPTR8>(subject), length,
                               size_t(m_pos), options, m_engine->data8, m_engine->context8);
            ovector = pcre2_get_ovector_pointer_8(m_engine->data8);
            pairs = int(pcre2_get_ovector_count_8(m_engine->data8));
        }
        if (rc > 0 && !last && qsizetype(ovector[1]) * m_unit >= end)
            rc = PCRE2_ERROR_PARTIAL; // what follows may still change it: \b, a line's end
        if (rc > 0) {
            emitMatch(ovector, std::min(pairs, rc));
            const qsizetype matchEnd = std::max(m_kept, qsizetype(ovector[1]) * m_unit);
            m_emptyAt = qsizetype(ovector[0]) * m_unit == matchEnd;
            m_pos = matchEnd;
            continue;
        }
        if (rc == PCRE2_ERROR_NOMATCH) {
            if (m_emptyAt && m_pos < end) {
                // Nothing but the empty match here: go on a character later.
                m_emptyAt = false;
                m_pos = nextChar(m_pos);
                continue;
            }
            m_emptyAt = false;
            m_pos = end;
            break;
        }
        if (rc == PCRE2_ERROR_PARTIAL) {
            const qsizetype at = qsizetype(ovector[0]) * m_unit;
            if (at > m_pos)
                m_emptyAt = false;
            m_pos = std::max(m_pos, at);
            if (end - m_pos > m_lookBackLimit)
                return Status::LookBackTooLong;
            break;
        }
        if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT
            || rc == PCRE2_ERROR_JIT_STACKLIMIT)
            return Status::TooComplex;
        m_failure = errorText16(rc);
        return Status::Failed;
    }
    if (last) {
        emitKept(m_buf.size());
        m_pos = m_buf.size();
    } else {
        emitKept(std::min(m_pos, end));
    }
    return Status::Ok;
}

std::optional<QByteArray> regexReplaceAll(const RegexCode &code, const EncodedReplacement &replacement,
                                          QByteArrayView content, qsizetype blockSize, RegexMatcher::Status *status,
                                          qsizetype *matches)
{
    RegexMatcher matcher(code, replacement);
    QByteArray out;
    qsizetype at = 0;
    const qsizetype step = blockSize > 0 ? blockSize : std::max<qsizetype>(content.size(), 1);
    RegexMatcher::Status s = RegexMatcher::Status::Ok;
    do {
        const qsizetype n = std::min(step, content.size() - at);
        const bool last = at + n >= content.size();
        s = matcher.feed(content.sliced(at, n), last);
        if (s != RegexMatcher::Status::Ok)
            break;
        for (QByteArrayView piece : matcher.pieces())
            out.append(piece.data(), piece.size());
        at += n;
        if (last)
            break;
    } while (true);
    if (status)
        *status = s;
    if (matches)
        *matches = matcher.matches();
    if (s != RegexMatcher::Status::Ok)
        return std::nullopt;
    return out;
}

} // namespace vexalo
