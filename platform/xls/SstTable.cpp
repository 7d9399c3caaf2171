#include "platform/xls/SstTable.h"

#include "core/RuntimeError.h"

#include <algorithm>

namespace xls {

namespace {

constexpr uint8_t kHighByte = 0x01; // characters are UTF-16, else Latin-1
constexpr uint8_t kExtSt = 0x04;    // phonetic data follows the runs
constexpr uint8_t kRichSt = 0x08;   // formatting runs follow the characters
constexpr uint32_t kRunSize = 4;

[[noreturn]] void fail(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("SstTable"),
                       QStringLiteral("共享字符串表无法识别：%1").arg(why));
}

// Reads across the SST record and its CONTINUEs.
class Reader
{
public:
    Reader(const BiffLayout &layout, size_t first, size_t last)
        : m_layout(layout), m_record(first), m_last(last), m_current(layout.records[first])
    {
        m_offset = 8; // cstTotal and cstUnique
    }
    bool atRecordEnd() const { return m_offset >= rec().length; }
    bool atEnd() const { return m_record == m_last && atRecordEnd(); }
    size_t record() const { return m_record; }
    uint32_t offset() const { return m_offset; }
    uint32_t left() const { return rec().length - m_offset; }

    // Moves into the next CONTINUE; false when there is none.
    bool nextRecord()
    {
        if (m_record >= m_last)
            return false;
        ++m_record;
        m_current = m_layout.records[m_record];
        m_offset = 0;
        return true;
    }
    uint8_t u8()
    {
        need(1);
        return uint8_t(rec().data[m_offset++]);
    }
    uint16_t u16()
    {
        need(2);
        const uint16_t v = rec().u16(m_offset);
        m_offset += 2;
        return v;
    }
    uint32_t u32()
    {
        need(4);
        const uint32_t v = rec().u32(m_offset);
        m_offset += 4;
        return v;
    }
    // Skips bytes that may run on into further CONTINUEs (runs, phonetic data).
    void skip(uint64_t bytes)
    {
        while (bytes > 0) {
            if (atRecordEnd() && !nextRecord())
                fail(QStringLiteral("字符串超出表的末尾"));
            const uint32_t take = uint32_t(std::min<uint64_t>(bytes, left()));
            m_offset += take;
            bytes -= take;
        }
    }
    // Passes cch characters (into text, when given); at a record boundary the next
    // CONTINUE starts with a flag byte.
    void characters(uint32_t count, bool wide, QString *text = nullptr)
    {
        while (count > 0) {
            if (atRecordEnd()) {
                if (!nextRecord())
                    fail(QStringLiteral("字符串超出表的末尾"));
                wide = (u8() & kHighByte) != 0;
                continue;
            }
            const uint32_t unit = wide ? 2 : 1;
            const uint32_t fit = std::min(count, left() / unit);
            if (fit == 0)
                fail(QStringLiteral("字符被记录边界分开"));
            if (text) {
                const BiffRecord &r = rec();
                for (uint32_t k = 0; k < fit; ++k)
                    *text += wide ? QChar(r.u16(m_offset + 2 * k)) : QChar(char16_t(uint8_t(r.data[m_offset + k])));
            }
            m_offset += fit * unit;
            count -= fit;
        }
    }

private:
    const BiffRecord &rec() const { return m_current; }
    void need(uint32_t bytes) const
    {
        if (m_offset + bytes > rec().length)
            fail(QStringLiteral("字符串的头部被记录边界分开"));
    }
    const BiffLayout &m_layout;
    size_t m_record;
    size_t m_last;
    BiffRecord m_current; // the record at m_record, looked at for every string
    uint32_t m_offset = 0;
};

} // namespace

namespace {

// Walks every string of the table; `each` gets its start and, when asked for, its text.
template <typename Each>
SstTable walkStrings(const BiffLayout &layout, bool withTexts, Each each);

} // namespace

SstTable readSstTable(const BiffLayout &layout)
{
    return walkStrings(layout, false, [](const QString &) {});
}

std::vector<QString> readSstTexts(const BiffLayout &layout)
{
    std::vector<QString> texts;
    walkStrings(layout, true, [&texts](const QString &text) { texts.push_back(text); });
    return texts;
}

namespace {

template <typename Each>
SstTable walkStrings(const BiffLayout &layout, bool withTexts, Each each)
{
    SstTable table;
    for (size_t i = layout.globals.bof; i < layout.globals.eof; ++i) {
        const uint16_t type = layout.records[i].type;
        if (type == rec::kSst) {
            if (table.present)
                fail(QStringLiteral("有两个共享字符串表"));
            table.present = true;
            table.sst = i;
            table.last = i;
            while (table.last + 1 < layout.globals.eof && layout.records[table.last + 1].type == rec::kContinue)
                ++table.last;
        } else if (type == rec::kExtSst) {
            // Its index is rebuilt after the table; one without a table, or a second, is no index of it.
            if (!table.present || table.extSst >= 0)
                fail(QStringLiteral("索引 EXTSST 不属于任何字符串表"));
            table.extSst = long(i);
        }
    }
    if (!table.present)
        return table;
    const BiffRecord &sst = layout.records[table.sst];
    if (sst.length < 8)
        fail(QStringLiteral("SST 记录太短"));
    table.total = sst.u32(0);
    const uint32_t unique = sst.u32(4);

    Reader in(layout, table.sst, table.last);
    table.starts.reserve(std::min<uint32_t>(unique, uint32_t(layout.records[table.last].end() - sst.at) / 3));
    for (uint32_t i = 0; i < unique; ++i) {
        // A string starting exactly at a record's end starts in the next CONTINUE.
        if (in.atRecordEnd() && !in.nextRecord())
            fail(QStringLiteral("字符串数量 %1 多于表中实有的 %2 个").arg(unique).arg(i));
        table.starts.push_back({in.record(), in.offset()});
        const uint16_t count = in.u16();
        const uint8_t flags = in.u8();
        const uint16_t runs = (flags & kRichSt) ? in.u16() : 0;
        const uint32_t phonetic = (flags & kExtSt) ? in.u32() : 0;
        QString text;
        in.characters(count, (flags & kHighByte) != 0, withTexts ? &text : nullptr);
        in.skip(uint64_t(runs) * kRunSize + phonetic);
        each(text);
    }
    if (!in.atEnd())
        fail(QStringLiteral("表中多出无法归属的数据"));
    return table;
}

} // namespace

} // namespace xls
