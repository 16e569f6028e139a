// SPDX-License-Identifier: MIT
#include "engine/text/SearchTexts.h"

#include <algorithm>

namespace vexalo {

namespace {

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace

SearchTexts::SearchTexts(const QString &find, const QString &replace, bool caseSensitive, bool exactBreaks)
    : m_find(find)
    , m_replace(replace)
    , m_caseSensitive(caseSensitive)
    , m_findBreaks(!exactBreaks && find.contains(QLatin1Char('\n')))
    , m_replaceBreaks(!exactBreaks && replace.contains(QLatin1Char('\n')))
    , m_asciiTexts(caseSensitive && isAscii(find) && isAscii(replace))
{
}

bool FactsExaminer::examinesText() const
{
    // Four bytes tell a UTF-16 mark from UTF-32's (see utf16ByteOrder).
    return !m_asciiTexts || m_head.size() < 4 || utf16ByteOrder(m_head).has_value();
}

TextFacts FactsExaminer::textFacts(const TextFacts &examined) const
{
    if (m_asciiTexts && !utf16ByteOrder(m_head))
        return TextFacts{FileEncoding::Utf8, false};
    return examined;
}

void FactsExaminer::feed(QByteArrayView bytes)
{
    if (m_asciiTexts && m_head.size() < 4)
        m_head.append(bytes.first(std::min<qsizetype>(bytes.size(), 4 - m_head.size())));
    if (examinesText())
        m_text.feed(bytes);
    if (m_breaks)
        m_lineBreaks.feed(bytes);
}

ContentFacts FactsExaminer::provisional() const
{
    const TextFacts text = textFacts(m_text.facts());
    return {text, m_lineBreaks.style(text.encoding)};
}

ContentFacts FactsExaminer::finish()
{
    const TextFacts text = textFacts(m_text.finish());
    return {text, m_lineBreaks.style(text.encoding)};
}

ContentFacts SearchTexts::factsOf(QByteArrayView content) const
{
    ContentFacts facts{m_asciiTexts && !utf16ByteOrder(content) ? TextFacts{FileEncoding::Utf8, false}
                                                                : examineText(content),
                       LineBreaks::Lf};
    // Texts without a line break are the same in both styles, and the
    // content is not read again for its breaks.
    if (followsBreaks())
        facts.breaks = lineBreaksOf(content, facts.text.encoding);
    return facts;
}

const EncodedTexts &SearchTexts::texts(FileEncoding encoding, LineBreaks breaks)
{
    const int e = int(encoding);
    const int b = breaks == LineBreaks::Lf ? 0 : 1;
    std::call_once(m_made[e][b], [&] {
        EncodedTexts t;
        const std::optional<QByteArray> find =
            encodeText(m_findBreaks ? withLineBreaks(m_find, breaks) : m_find, encoding);
        t.findRepresentable = find.has_value();
        if (find) {
            t.find = *find;
            t.needle.emplace(*find, m_caseSensitive, encoding);
        }
        t.replacement = encodeText(m_replaceBreaks ? withLineBreaks(m_replace, breaks) : m_replace, encoding);
        m_slots[e][b] = std::move(t);
    });
    return *m_slots[e][b];
}

bool SearchTexts::sameResults(const ContentFacts &a, const ContentFacts &b)
{
    const EncodedTexts &x = texts(a);
    const EncodedTexts &y = texts(b);
    if (x.findRepresentable != y.findRepresentable)
        return false;
    if (!x.findRepresentable)
        return true; // found in neither
    if (x.find != y.find || x.replacement != y.replacement)
        return false;
    if (m_caseSensitive || x.needle->isEmpty())
        return true;
    const bool unicode = x.needle->searchesUnicode(a.text.foldsOntoAscii);
    if (unicode != y.needle->searchesUnicode(b.text.foldsOntoAscii))
        return false;
    if (a.text.encoding == b.text.encoding)
        return true;
    // Both fold ASCII bytes alike, one byte at a time; other bytes they fold
    // as different characters.
    if (unicode)
        return false;
    return std::none_of(x.find.cbegin(), x.find.cend(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::unique_ptr<StreamMatcher> SearchTexts::matcher(const ContentFacts &facts, MatchSink &sink)
{
    const EncodedTexts &t = texts(facts);
    const Needle *needle = t.findRepresentable ? &*t.needle : nullptr;
    const QByteArrayView replacement = t.replacement ? QByteArrayView(*t.replacement) : QByteArrayView();
    return std::make_unique<NeedleMatcher>(needle, facts.text.foldsOntoAscii, replacement, sink);
}

} // namespace vexalo
