#include "platform/xls/ColumnReader.h"
#include "platform/SheetLimits.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/RegularFile.h"
#include "platform/xls/BiffStream.h"
#include "platform/xls/CompoundDocument.h"
#include "platform/xls/SstTable.h"

#include <QFile>
#include <cerrno>

namespace xls {

namespace {

[[noreturn]] void fail(const QString &path, const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("readFirstSheetColumn"),
                       QStringLiteral("无法读取 %1：%2").arg(path, why), RuntimeError::Kind::Workbook);
}

// LABEL's XLUnicodeString: character count, flags, the characters.
QString inlineText(const BiffRecord &r)
{
    const uint16_t count = r.u16(6);
    const bool wide = r.length > 8 && (uint8_t(r.data[8]) & 0x01);
    QString text;
    for (uint32_t k = 0; k < count; ++k) {
        const size_t at = 9 + (wide ? 2 * k : k);
        if (at + (wide ? 2 : 1) > r.length)
            break;
        text += wide ? QChar(r.u16(at)) : QChar(char16_t(uint8_t(r.data[at])));
    }
    return text;
}

} // namespace

} // namespace xls

namespace workbook {

using namespace xls;

QStringList readFirstSheetColumn(const QString &path, int column)
{
    return readFirstSheetColumns(path, column + 1)[size_t(column)];
}

std::vector<QStringList> readFirstSheetColumns(const QString &path, int columnCount)
{
    std::optional<QByteArray> bytes;
    try {
        bytes = regularfile::read(path, regularfile::kWorkbookLimit);
    } catch (const RuntimeError &e) {
        fail(path, e.description());
    }
    if (!bytes)
        fail(path, reason::fromErrno(ENOENT));
    try {
        const CompoundEntry document = readCompoundDocument(*bytes);
        bytes.reset();
        const CompoundEntry *stream = document.child("Workbook");
        if (!stream || stream->storage)
            fail(path, reason::notAWorkbook());
        // Only the first worksheet is read: the walk ends with it.
        const BiffLayout layout = walkBiffStream(stream->data, [](size_t, const BiffRecord &, int) {},
                                                 [](const BiffLayout &walked) { return firstWorksheet(walked) >= 0; });
        const long first = firstWorksheet(layout);
        if (first < 0)
            fail(path, QStringLiteral("找不到第一个工作表"));
        const BiffSubstream *sheet = &layout.sheets[size_t(first)];
        const std::vector<QString> strings = readSstTexts(layout);
        std::vector<QStringList> columns(size_t(std::max(columnCount, 0)));
        qsizetype rows = 0;
        int depth = 0;
        for (size_t i = sheet->bof; i <= sheet->eof; ++i) {
            const BiffRecord &r = layout.records[i];
            depth += r.type == rec::kBof ? 1 : 0;
            if (depth == 1 && (r.type == rec::kLabelSst || r.type == rec::kLabel) && r.length >= 8 && r.u16(2) < columns.size()) {
                const int row = r.u16(0);
                QStringList &texts = columns[r.u16(2)];
                while (texts.size() <= row && texts.size() < sheet::kRows)
                    texts << QString();
                if (r.type == rec::kLabel)
                    texts[row] = inlineText(r);
                else if (r.u32(6) < strings.size())
                    texts[row] = strings[r.u32(6)];
                rows = std::max(rows, texts.size());
            }
            depth -= r.type == rec::kEof ? 1 : 0;
        }
        for (QStringList &texts : columns)
            while (texts.size() < rows)
                texts << QString();
        return columns;
    } catch (const RuntimeError &e) {
        if (e.kind() == RuntimeError::Kind::Workbook) // already names the workbook
            throw;
        fail(path, e.description());
    }
}

} // namespace workbook
