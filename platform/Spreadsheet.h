#pragma once

#include <QString>
#include <cstdint>

// The spreadsheet operations the daily export uses, in the station's terms. Rows
// and columns count from 1. Every failure raises a RuntimeError.
class Spreadsheet
{
public:
    virtual ~Spreadsheet() = default;

    // Begins one export's session; quit() ends it, dropping anything not saved.
    virtual void start() = 0;
    // A new empty workbook, saved at once under the path in the workbook format.
    virtual void newWorkbook(const QString &path) = 0;
    // The workbook of that file; a file that cannot be read in full is refused.
    virtual void openWorkbook(const QString &path) = 0;
    // The station's spreadsheet is never on screen; kept for the order of the steps.
    virtual void hide() = 0;
    // Cell operations from here on go to the workbook's first worksheet.
    virtual void useFirstWorksheet() = 0;
    // Row number of the last used cell of that sheet; 1 for an empty sheet.
    virtual int32_t lastUsedRow() const = 0;
    // Stores the text as a text cell ("000123" stays text); "" makes a blank cell.
    virtual void setCellText(int32_t row, int32_t column, const QString &text) = 0;
    virtual void autoFitColumns() = 0;
    // Writes the workbook back to its file, replacing it atomically.
    virtual void save() = 0;
    virtual void quit() = 0;
};
