#pragma once

#include <QString>
#include "platform/SheetLimits.h"
#include <cstdint>
#include <vector>

// The content of a workbook as the station keeps it: every value of every sheet.
// Formatting is not kept.
namespace xls {

struct Cell
{
    enum Kind : uint8_t { None, Blank, Number, Text };
    Kind kind = None;
    double number = 0;
    QString text;
};

struct Sheet
{
    QString name;
    // rows[r][c]; rows may be shorter than the sheet's width.
    std::vector<std::vector<Cell>> rows;
    // Used range as the file declared it (a blank-formatted row counts as used).
    int32_t declaredRows = 0;
    int32_t declaredColumns = 0;
    // Column widths in 1/256 of a digit's width; 0 leaves a column at the default.
    std::vector<uint16_t> columnWidths;

    int32_t usedRows() const { return std::max<int32_t>(declaredRows, int32_t(rows.size())); }
    int32_t usedColumns() const;
    void set(int32_t row, int32_t column, Cell cell);
};

struct Workbook
{
    std::vector<Sheet> sheets;
};

constexpr int32_t kMaxRows = sheet::kRows;
constexpr int32_t kMaxColumns = sheet::kColumns;

} // namespace xls
