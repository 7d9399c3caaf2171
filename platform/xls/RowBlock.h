#pragma once

#include "platform/xls/ByteSink.h"

#include <cstdint>
#include <vector>

namespace xls {

// One block of the cell table as BIFF8 lays it out: the ROW records of up to 32
// rows, then their cells, then a DBCELL that points back at the first ROW and at
// each row's first cell. The writer of new sheets and the appender both build
// their blocks with it; they write the records, it keeps count of where they went.
class RowBlock
{
public:
    explicit RowBlock(ByteSink &out) : m_out(out) {}

    // Call right before writing the ROW record of that row.
    void rowRecordHere(uint16_t row) { m_rows.push_back({row, m_out.size()}); }
    // Call right before writing a cell of that row (at least before each row's first).
    void cellHere(uint16_t row) { m_cells.push_back({row, m_out.size()}); }
    // Writes the DBCELL; returns where it starts in the sink.
    size_t finish();

private:
    struct Placed
    {
        uint32_t row;
        size_t at;
    };
    ByteSink &m_out;
    std::vector<Placed> m_rows;
    std::vector<Placed> m_cells;
};

} // namespace xls
