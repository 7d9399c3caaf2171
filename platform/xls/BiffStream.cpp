#include "platform/xls/BiffStream.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"

#include <QString>
#include <algorithm>

namespace xls {

namespace {

[[noreturn]] void fail(const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("BiffStream"), why);
}

} // namespace

long BiffLayout::recordAt(uint32_t position) const
{
    const long i = records.lastAtOrBefore(position);
    return i >= 0 && records.positionOf(size_t(i)) == position ? i : -1;
}

long firstWorksheet(const BiffLayout &layout)
{
    for (size_t i = layout.globals.bof; i <= layout.globals.eof; ++i) {
        const BiffRecord &r = layout.records[i];
        if (!namesWorksheet(r))
            continue;
        const long bof = layout.recordAt(r.u32(kBoundSheetPosition));
        for (size_t s = 0; s < layout.sheets.size(); ++s)
            if (long(layout.sheets[s].bof) == bof && layout.sheets[s].kind == kWorksheetKind)
                return long(s);
        return -1;
    }
    return -1;
}

namespace detail {

void walkFailed(WalkFault fault, size_t position)
{
    switch (fault) {
    case WalkFault::NotAWorkbook:
        fail(reason::notAWorkbook());
    case WalkFault::BetweenSheets:
        fail(QStringLiteral("工作表之间有无法识别的数据（位置 %1）").arg(position));
    case WalkFault::PastEnd:
        fail(QStringLiteral("记录超出文件末尾（位置 %1）").arg(position));
    case WalkFault::TooDeep:
        fail(QStringLiteral("子结构嵌套过深"));
    case WalkFault::NotBiff8:
        fail(QStringLiteral("不是 Excel 97-2003（BIFF8）格式，而是更早的版本"));
    case WalkFault::Encrypted:
        fail(QStringLiteral("工作簿已加密"));
    case WalkFault::Incomplete:
        break;
    }
    fail(QStringLiteral("工作簿不完整（缺少结束记录）"));
}

} // namespace detail

BiffLayout walkBiffStream(const std::string &stream)
{
    return walkBiffStream(stream, [](size_t, const BiffRecord &, int) {});
}

} // namespace xls
