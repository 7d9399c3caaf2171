#pragma once

#include "platform/xls/ByteSink.h"

#include <QHash>
#include <QString>
#include <vector>

namespace xls {

// The longest text a cell may hold so that FreeXL can read the workbook again.
constexpr int kMaxCellText = 8000;

// The shared string table: every text cell points at one entry. Written as SST
// with CONTINUE records as needed, followed by its EXTSST index.
class SharedStrings
{
public:
    // The index of the text, adding it when new. Texts must not be empty.
    uint32_t add(const QString &text);
    uint32_t uniqueCount() const { return uint32_t(m_strings.size()); }
    uint32_t totalCount() const { return m_total; }

    // Writes SST, its CONTINUEs and EXTSST; the sink's offsets are stream offsets.
    void write(ByteSink &out) const;

private:
    QHash<QString, uint32_t> m_index;
    std::vector<QString> m_strings;
    uint32_t m_total = 0;
};

} // namespace xls
