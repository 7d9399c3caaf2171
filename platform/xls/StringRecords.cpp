#include "platform/xls/StringRecords.h"

#include "platform/xls/BiffRecords.h"

#include <algorithm>

namespace xls {

namespace {

constexpr uint32_t kHeaderBytes = 3; // cch u16, flags u8

bool needsTwoBytes(const QString &s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

} // namespace

StringRecords::StringRecords(uint32_t total, uint32_t unique)
{
    open(rec::kSst);
    m_out.u32(total);
    m_out.u32(unique);
}

StringRecords::StringRecords(const std::string &lastRecord)
{
    m_out.bytes(lastRecord.data(), lastRecord.size());
    m_recordStart = 0;
    m_lengthAt = 2;
}

void StringRecords::add(const QString &s, std::vector<uint32_t> &startsInPiece, std::vector<uint32_t> &startsInRecord)
{
    const bool wide = needsTwoBytes(s);
    const uint32_t unit = wide ? 2 : 1;
    const uint32_t bytes = kHeaderBytes + uint32_t(s.size()) * unit;
    // The header with its first character in one record. FreeXL 1.0.6 reads a string
    // continued into one further record only, so one that would reach a third record
    // starts a record of its own (texts are limited to fit then).
    if (room() < kHeaderBytes + unit || (bytes > room() && bytes - room() + 1 > rec::kMaxRecordData))
        next();
    startsInPiece.push_back(uint32_t(m_out.size()));
    startsInRecord.push_back(uint32_t(m_out.size() - m_recordStart));
    m_out.u16(uint16_t(s.size()));
    m_out.u8(wide ? 1 : 0);
    qsizetype done = 0;
    while (done < s.size()) {
        qsizetype take = std::min<qsizetype>(room() / unit, s.size() - done);
        if (take > 0 && done + take < s.size() && s[done + take - 1].isHighSurrogate())
            --take; // never split a surrogate pair
        if (take == 0) {
            next();
            m_out.u8(wide ? 1 : 0); // the rest of the string starts with its own flag
            continue;
        }
        for (qsizetype i = done; i < done + take; ++i) {
            if (wide)
                m_out.u16(s[i].unicode());
            else
                m_out.u8(uint8_t(s[i].unicode()));
        }
        done += take;
    }
}

std::string StringRecords::finish()
{
    m_out.end(m_lengthAt);
    return m_out.take();
}

uint32_t StringRecords::room() const
{
    return rec::kMaxRecordData - uint32_t(m_out.size() - m_lengthAt - 2);
}

void StringRecords::open(uint16_t type)
{
    m_recordStart = m_out.size();
    m_lengthAt = m_out.begin(type);
}

void StringRecords::next()
{
    m_out.end(m_lengthAt);
    open(rec::kContinue);
}

} // namespace xls
