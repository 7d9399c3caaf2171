#include "platform/xls/BiffStream.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"

#include <QString>
#include <algorithm>

namespace xls {

namespace {

// Sheets may nest substreams (an embedded chart's BOF … EOF); deeper is not a workbook.
constexpr int kMaxDepth = 8;

[[noreturn]] void fail(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("BiffStream"), why);
}

uint16_t read16(const char *p)
{
    return uint16_t(uint8_t(p[0]) | (uint16_t(uint8_t(p[1])) << 8));
}

} // namespace

long BiffLayout::recordAt(uint32_t position) const
{
    const auto it = std::lower_bound(records.begin(), records.end(), position,
                                     [](const BiffRecord &r, uint32_t p) { return r.at < p; });
    if (it == records.end() || it->at != position)
        return -1;
    return long(it - records.begin());
}

namespace {
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kMulRk = 0x00BD;
constexpr size_t kBoundSheetPosition = 0; // lbPlyPos
constexpr size_t kBoundSheetType = 5;     // dt
constexpr uint8_t kWorksheetSheetType = 0;
} // namespace

uint16_t lastColumnOf(const BiffRecord &cell)
{
    const bool multiple = cell.type == kMulBlank || cell.type == kMulRk;
    return multiple && cell.length >= 2 ? cell.u16(cell.length - 2u) : cell.u16(2);
}

long firstWorksheet(const BiffLayout &layout)
{
    for (size_t i = layout.globals.bof; i <= layout.globals.eof; ++i) {
        const BiffRecord &r = layout.records[i];
        if (r.type != rec::kBoundSheet || r.length < 8 || uint8_t(r.data[kBoundSheetType]) != kWorksheetSheetType)
            continue;
        const long bof = layout.recordAt(r.u32(kBoundSheetPosition));
        for (size_t s = 0; s < layout.sheets.size(); ++s)
            if (long(layout.sheets[s].bof) == bof && layout.sheets[s].kind == kWorksheetKind)
                return long(s);
        return -1;
    }
    return -1;
}

bool isCellRecord(uint16_t type)
{
    switch (type) {
    case 0x0201: // BLANK
    case kMulBlank:
    case 0x0203: // NUMBER
    case 0x027E: // RK
    case kMulRk:
    case 0x00FD: // LABELSST
    case 0x0204: // LABEL
    case 0x00D6: // RSTRING
    case 0x0205: // BOOLERR
    case 0x0006: // FORMULA
        return true;
    default:
        return false;
    }
}

bool isFormulaAttachment(uint16_t type)
{
    return type == 0x0207 /* STRING */ || type == 0x04BC /* SHRFMLA */ || type == 0x0221 /* ARRAY */
           || type == 0x0236 /* TABLE */;
}

BiffLayout walkBiffStream(const std::string &stream)
{
    BiffLayout layout;
    const size_t size = stream.size();
    layout.records.reserve(size / 16); // box rows average more than 16 bytes a record
    size_t pos = 0;
    int depth = 0;
    bool globalsDone = false;
    BiffSubstream current;
    while (pos + 4 <= size) {
        const uint16_t type = read16(stream.data() + pos);
        const uint16_t length = read16(stream.data() + pos + 2);
        if (depth == 0) {
            // Between substreams only a BOF may follow; zeros are the padding after the last one.
            if (type == 0 && length == 0 && globalsDone)
                break;
            if (type != rec::kBof)
                fail(globalsDone ? QStringLiteral("工作表之间有无法识别的数据（位置 %1）").arg(pos) : reason::notAWorkbook());
        }
        if (pos + 4 + length > size)
            fail(QStringLiteral("记录超出文件末尾（位置 %1）").arg(pos));
        BiffRecord record;
        record.type = type;
        record.at = uint32_t(pos);
        record.length = length;
        record.data = stream.data() + pos + 4;
        const size_t index = layout.records.size();
        layout.records.push_back(record);
        pos += 4 + length;

        if (type == rec::kBof) {
            if (++depth > kMaxDepth)
                fail(QStringLiteral("子结构嵌套过深"));
            if (depth == 1) {
                if (record.u16(0) != kBiff8Version)
                    fail(QStringLiteral("不是 Excel 97-2003（BIFF8）格式，而是更早的版本"));
                current = BiffSubstream();
                current.bof = index;
                current.kind = record.u16(2);
                if (!globalsDone && current.kind != kGlobalsKind)
                    fail(reason::notAWorkbook());
            }
        } else if (type == rec::kFilePass && depth == 1 && !globalsDone) {
            fail(QStringLiteral("工作簿已加密"));
        } else if (type == rec::kEof) {
            if (--depth == 0) {
                current.eof = index;
                if (!globalsDone) {
                    layout.globals = current;
                    globalsDone = true;
                } else {
                    layout.sheets.push_back(current);
                }
            }
        }
    }
    if (depth != 0 || !globalsDone)
        fail(QStringLiteral("工作簿不完整（缺少结束记录）"));
    layout.tailAt = uint32_t(pos);
    return layout;
}

} // namespace xls
