#include "platform/xls/SharedStrings.h"

#include "platform/xls/BiffRecords.h"
#include "platform/xls/StringRecords.h"

#include <algorithm>

namespace xls {

uint32_t SharedStrings::add(const QString &text)
{
    ++m_total;
    const auto found = m_index.constFind(text);
    if (found != m_index.constEnd())
        return *found;
    const uint32_t index = uint32_t(m_strings.size());
    m_index.insert(text, index);
    m_strings.push_back(text);
    return index;
}

void SharedStrings::write(ByteSink &out) const
{
    const uint32_t perBucket = stringsPerBucket(uniqueCount());
    const size_t tableAt = out.size();
    StringRecords records(m_total, uniqueCount());
    std::vector<uint32_t> inTable, inRecord;
    for (const QString &s : m_strings)
        records.add(s, inTable, inRecord);
    const std::string bytes = records.finish();
    out.bytes(bytes.data(), bytes.size());

    // EXTSST: where the first string of every bucket starts, in the stream and in its record.
    const size_t lengthAt = out.begin(rec::kExtSst);
    out.u16(uint16_t(perBucket));
    for (uint32_t i = 0; i < uniqueCount(); i += perBucket) {
        out.u32(uint32_t(tableAt + inTable[i]));
        out.u16(uint16_t(inRecord[i]));
        out.u16(0);
    }
    out.end(lengthAt);
}

} // namespace xls
