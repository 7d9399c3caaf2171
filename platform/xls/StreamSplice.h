#pragma once

#include "platform/xls/BiffStream.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace xls {

// A new stream made of pieces: runs of the old stream's records copied as they are,
// and bytes of our own (one or more records), with where each old record went. Runs
// are added in stream order, so a record's new place is found by searching the runs,
// not kept for each of a large sheet's records.
class StreamSplice
{
public:
    explicit StreamSplice(const BiffLayout &layout) : m_layout(layout) { m_pieces.reserve(256); }

    // Copies old records first to last; consecutive records share one piece.
    void copy(size_t first, size_t last);
    void copy(size_t record) { copy(record, record); }
    // Bytes of our own, standing for an old record (replaces) or for none (-1).
    size_t own(std::string bytes, long replaces = -1);

    // Joins the pieces and the old stream's tail after tailAt into `into` (its
    // bytes dropped, its memory used when big enough); afterwards the positions of
    // pieces and records are known.
    std::string join(const std::string &stream, uint32_t tailAt, std::string into = {});

    uint32_t position(size_t piece) const { return m_positions[piece]; }
    // Where an old stream position went: the record holding it moved by so much.
    uint32_t moved(uint32_t oldPosition) const;
    // Where an old record went: copied, or replaced by bytes of our own; kNowhere if dropped.
    uint32_t recordPosition(size_t record) const;

    static constexpr uint32_t kNowhere = UINT32_MAX;

private:
    struct Piece
    {
        long first; // a run of old records, or -1
        long last;
        long origin; // the old record our own bytes stand for, or -1
        std::string bytes;
    };
    size_t span(const Piece &p) const
    {
        return m_layout.records[size_t(p.last)].end() - m_layout.records[size_t(p.first)].at;
    }

    const BiffLayout &m_layout;
    std::vector<Piece> m_pieces;
    std::vector<size_t> m_runs;                        // pieces that copy records, in record order
    std::vector<std::pair<size_t, size_t>> m_replaced; // old record, the piece in its place
    std::vector<uint32_t> m_positions;
};

} // namespace xls
