#pragma once

#include <QString>
#include <cstdint>

// The scan window's three-column list of box rows: no header row or column,
// rows 0 to count - 1 in the order added.
class RecordGrid
{
public:
    virtual ~RecordGrid() = default;

    virtual int32_t rowCount() const = 0;
    // Only 0 is ever asked for: the grid then holds no rows.
    virtual void setRowCount(int32_t count) = 0;
    // Fields separated by TAB; field k lands in column k of a new last row.
    virtual void appendRow(const QString &tabJoinedFields) = 0;
    virtual void removeRow(int32_t row) = 0;
    // "" for an empty cell; a row or column outside the grid raises a RuntimeError.
    virtual QString cellText(int32_t row, int32_t column) const = 0;
    virtual void clear() = 0;
    virtual void setAllRowsHeight(int twips) = 0;
};
