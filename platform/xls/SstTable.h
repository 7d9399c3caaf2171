#pragma once

#include "platform/xls/BiffStream.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace xls {

// The shared-string table of a workbook as it stands: where SST and its CONTINUE
// records are, and where each string begins, so that new strings can be added
// after the last one and EXTSST rebuilt, leaving every existing string in place.
// Existing strings are not looked at for reuse: reading them all would cost more
// than the few bytes a repeated label saves.
struct SstTable
{
    struct Start
    {
        size_t record = 0;  // index of the SST or CONTINUE record holding the string's header
        uint32_t offset = 0; // from the start of that record's data
    };
    bool present = false;
    size_t sst = 0;     // record index of SST
    size_t last = 0;    // record index of its last CONTINUE (or SST itself)
    long extSst = -1;   // record index of EXTSST, if any
    uint32_t total = 0; // cstTotal as stored
    std::vector<Start> starts;

    uint32_t uniqueCount() const { return uint32_t(starts.size()); }
};

// The texts of every string in the table, in order (formatting runs and phonetic
// data left out). Raises a RuntimeError like readSstTable.
std::vector<QString> readSstTexts(const BiffLayout &layout);

// Reads the table from the globals. Raises a RuntimeError when it does not parse:
// a string running past its records, a count that does not match, a header split
// from its first character.
SstTable readSstTable(const BiffLayout &layout);

} // namespace xls
