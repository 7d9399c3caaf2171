#pragma once

#include "platform/xls/ByteSink.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace xls {

// EXTSST groups the strings in buckets of this many (at least 8) and points at the
// first string of each.
inline uint32_t stringsPerBucket(uint32_t uniqueStrings)
{
    return std::max<uint32_t>(8, uniqueStrings / 128 + 1);
}

// Shared strings written as SST / CONTINUE records of at most 8,224 data bytes: a
// string's header sits in one record with at least its first character, and a
// string split between records goes on in the next CONTINUE after a flag byte.
// Used for a new table and for strings added after an existing one.
class StringRecords
{
public:
    // A new SST with its two counts.
    StringRecords(uint32_t total, uint32_t unique);
    // Going on in the last record of an existing table (its header and data as they
    // stand): some readers expect the strings after it to start there while it has room.
    explicit StringRecords(const std::string &lastRecord);

    // Adds a string; notes where its header starts, from the first byte this object
    // writes and from the first byte of the record that holds it.
    void add(const QString &s, std::vector<uint32_t> &startsInPiece, std::vector<uint32_t> &startsInRecord);
    // The records, their last length filled in.
    std::string finish();

private:
    uint32_t room() const;
    void open(uint16_t type);
    void next();

    ByteSink m_out;
    size_t m_lengthAt = 0;
    size_t m_recordStart = 0;
};

} // namespace xls
