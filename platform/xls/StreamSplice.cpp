#include "platform/xls/StreamSplice.h"

#include "platform/MemoryUse.h"

#include <algorithm>

namespace xls {

void StreamSplice::copy(size_t first, size_t last)
{
    if (!m_pieces.empty() && m_pieces.back().first >= 0 && m_pieces.back().last + 1 == long(first)) {
        m_pieces.back().last = long(last);
        return;
    }
    m_runs.push_back(m_pieces.size());
    m_pieces.push_back({long(first), long(last), -1, std::string()});
}

size_t StreamSplice::own(std::string bytes, long replaces)
{
    if (replaces >= 0)
        m_replaced.emplace_back(size_t(replaces), m_pieces.size());
    m_pieces.push_back({-1, -1, replaces, std::move(bytes)});
    return m_pieces.size() - 1;
}

std::string StreamSplice::join(const std::string &stream, uint32_t tailAt, std::string into)
{
    size_t total = stream.size() - tailAt;
    for (const Piece &p : m_pieces)
        total += p.first >= 0 ? span(p) : p.bytes.size();
    std::string out = std::move(into);
    out.clear();
    // Room for the boxes of the next while: a buffer handed back for the next join
    // then takes them without new memory, which a large workbook pays for in page faults.
    if (out.capacity() < total) {
        out.reserve(total + total / 8 + 64 * 1024);
        memoryuse::prepareForWriting(out.data(), total);
    }
    m_positions.reserve(m_pieces.size());
    for (const Piece &p : m_pieces) {
        m_positions.push_back(uint32_t(out.size()));
        if (p.first >= 0)
            out.append(stream, m_layout.records[size_t(p.first)].at, span(p));
        else
            out += p.bytes;
    }
    out.append(stream, tailAt, std::string::npos);
    return out;
}

uint32_t StreamSplice::moved(uint32_t oldPosition) const
{
    const long record = m_layout.records.lastAtOrBefore(oldPosition);
    if (record < 0)
        return oldPosition;
    const uint32_t moved = recordPosition(size_t(record));
    if (moved == kNowhere)
        return oldPosition;
    return moved + (oldPosition - m_layout.records.positionOf(size_t(record)));
}

uint32_t StreamSplice::recordPosition(size_t record) const
{
    auto run = std::upper_bound(m_runs.begin(), m_runs.end(), long(record),
                                [this](long r, size_t piece) { return r < m_pieces[piece].first; });
    if (run != m_runs.begin()) {
        const Piece &p = m_pieces[*--run];
        if (long(record) <= p.last)
            return m_positions[*run] + (m_layout.records[record].at - m_layout.records[size_t(p.first)].at);
    }
    for (const auto &[origin, piece] : m_replaced)
        if (origin == record)
            return m_positions[piece];
    return kNowhere;
}

} // namespace xls
