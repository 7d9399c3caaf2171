#include "platform/xls/SharedStrings.h"

#include "platform/xls/BiffRecords.h"

#include <algorithm>

namespace xls {

namespace {

bool needsTwoBytes(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() > 0xFF)
            return true;
    return false;
}

// Writes records of at most kMaxRecordData bytes, opening CONTINUEs as needed.
class ContinuedRecord
{
public:
    ContinuedRecord(ByteSink &out, uint16_t type) : m_out(out) { open(type); }
    ~ContinuedRecord() { m_out.end(m_lengthAt); }

    uint32_t room() const { return rec::kMaxRecordData - uint32_t(m_out.size() - m_lengthAt - 2); }
    void next() { m_out.end(m_lengthAt), open(rec::kContinue); }
    size_t recordStart() const { return m_lengthAt - 2; }
    ByteSink &out() { return m_out; }

private:
    void open(uint16_t type) { m_lengthAt = m_out.begin(type); }
    ByteSink &m_out;
    size_t m_lengthAt = 0;
};

void writeCharacters(ByteSink &out, const QString &s, qsizetype from, qsizetype count, bool wide)
{
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t u = s[i].unicode();
        if (wide)
            out.u16(u);
        else
            out.u8(uint8_t(u));
    }
}

} // namespace

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
    const uint32_t perBucket = std::max<uint32_t>(8, uniqueCount() / 128 + 1);
    struct BucketStart
    {
        uint32_t streamOffset;
        uint16_t recordOffset;
    };
    std::vector<BucketStart> buckets;

    {
        ContinuedRecord record(out, rec::kSst);
        out.u32(m_total);
        out.u32(uniqueCount());
        for (uint32_t i = 0; i < uniqueCount(); ++i) {
            const QString &s = m_strings[i];
            const bool wide = needsTwoBytes(s);
            const uint32_t unit = wide ? 2 : 1;
            // The header and the first character share one record. FreeXL 1.0.6 reads a
            // string continued into one further record only, so one that would reach a
            // third record starts a record of its own (texts are limited to fit then).
            const uint32_t bytes = 3 + uint32_t(s.size()) * unit;
            if (record.room() < 3 + unit || (bytes > record.room() && bytes - record.room() + 1 > rec::kMaxRecordData))
                record.next();
            if (i % perBucket == 0)
                buckets.push_back({uint32_t(out.size()), uint16_t(out.size() - record.recordStart())});
            out.u16(uint16_t(s.size()));
            out.u8(wide ? 1 : 0);
            qsizetype done = 0;
            while (done < s.size()) {
                qsizetype take = std::min<qsizetype>(record.room() / unit, s.size() - done);
                // Never split a surrogate pair between two records.
                if (take > 0 && done + take < s.size() && s[done + take - 1].isHighSurrogate())
                    --take;
                if (take == 0) {
                    record.next();
                    out.u8(wide ? 1 : 0); // the rest of the string starts with its own flag
                    continue;
                }
                writeCharacters(out, s, done, take, wide);
                done += take;
            }
        }
    }

    const size_t lengthAt = out.begin(rec::kExtSst);
    out.u16(uint16_t(perBucket));
    for (const BucketStart &b : buckets) {
        out.u32(b.streamOffset);
        out.u16(b.recordOffset);
        out.u16(0);
    }
    out.end(lengthAt);
}

} // namespace xls
