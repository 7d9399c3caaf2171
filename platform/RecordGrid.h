#pragma once

#include <QString>
#include <cstdint>

// What the list shows: rows of three text columns, 0 outer-box label, 1 middle-box
// label, 2 inner-pack barcode; "" for an empty cell.
class RecordSource
{
public:
    virtual ~RecordSource() = default;
    virtual int32_t rowCount() const = 0;
    virtual QString cellText(int32_t row, int32_t column) const = 0;
};

// The scan window's list: a read-only view of the open box. No header row or
// column; rows 0 to count - 1 in the order added. The box tells it of each change.
class RecordGrid
{
public:
    virtual ~RecordGrid() = default;

    // The rows to show from now on (nullptr: none).
    virtual void showRows(const RecordSource *source) = 0;
    // A row was added at the end / the row at that index was removed / anything else.
    virtual void rowAppended(int32_t row) = 0;
    virtual void rowRemoved(int32_t row) = 0;
    virtual void reset() = 0;
    virtual void setAllRowsHeight(int twips) = 0;
};
