// SPDX-License-Identifier: MIT
#include "engine/text/StreamMatcher.h"

#include <algorithm>
#include <utility>

namespace vexalo {

NeedleMatcher::NeedleMatcher(const Needle *needle, bool foldsOntoAscii, QByteArrayView replacement, MatchSink &sink)
    : StreamMatcher(sink)
    , m_needle(needle && !needle->isEmpty() ? needle : nullptr)
    , m_foldsOntoAscii(foldsOntoAscii)
    , m_replacement(replacement)
{
}

// Searches a window that begins where the search goes on, hands on what it
// decides and returns how many of its bytes that is. Whether a match starts
// at p depends on the bytes [p, p + maxMatchBytes()) alone, so unless the
// content ends with the window, starts later than that are left to the next
// one; so is the rest of the character (or UTF-16 unit) the decided bytes
// end in.
qsizetype NeedleMatcher::scan(QByteArrayView window, bool final)
{
    const qsizetype lastSure = final ? window.size() : window.size() - m_needle->maxMatchBytes();
    if (lastSure < 0)
        return 0;
    qsizetype done = 0;
    for (const Match &m : m_needle->findAll(window, m_foldsOntoAscii, 0)) {
        if (m.start > lastSure)
            break;
        keep(window.sliced(done, m.start - done));
        replace(window.sliced(m.start, m.length), m_replacement);
        done = m.start + m.length;
    }
    const qsizetype decided =
        final ? window.size() : std::max(done, m_needle->resumePoint(window, lastSure + 1, m_foldsOntoAscii));
    keep(window.sliced(done, decided - done));
    return decided;
}

QByteArrayView NeedleMatcher::joinHeld(QByteArrayView more)
{
    m_window = std::exchange(m_held, QByteArray());
    m_window.append(more);
    return m_window;
}

void NeedleMatcher::hold(QByteArrayView window, qsizetype decided)
{
    m_held = window.sliced(decided).toByteArray();
}

void NeedleMatcher::feed(QByteArrayView block)
{
    if (!m_needle) {
        keep(block);
        return;
    }
    if (m_held.isEmpty()) {
        hold(block, scan(block, false));
        return;
    }
    // Enough of the block that every start among the held bytes is decided,
    // even after the step back to where the search may go on.
    const qsizetype seam = m_needle->maxMatchBytes() + 3;
    if (block.size() < seam) {
        // Blocks shorter than a match are gathered, so that the same bytes
        // are not searched again for every few bytes that come.
        m_held.append(block);
        if (m_held.size() >= 2 * seam) {
            const QByteArrayView window = joinHeld({});
            hold(window, scan(window, false));
        }
        return;
    }
    // The held bytes and the start of the block decide the starts among the
    // held ones; the rest is searched in the block itself, never copied.
    const qsizetype heldSize = m_held.size();
    const qsizetype intoBlock = scan(joinHeld(block.first(seam)), false) - heldSize;
    Q_ASSERT(intoBlock >= 0);
    const QByteArrayView rest = block.sliced(intoBlock);
    hold(rest, scan(rest, false));
}

void NeedleMatcher::finish()
{
    if (!m_needle || m_held.isEmpty())
        return;
    scan(joinHeld({}), true);
}

} // namespace vexalo
