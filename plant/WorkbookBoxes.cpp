#include "plant/WorkbookBoxes.h"

#include "packing/Gs1Rules.h"

#include "core/RuntimeError.h"
#include "platform/WorkbookReader.h"
#include "station/files/BoxSheet.h"
#include "station/files/DayWorkbooks.h"

#include <QDir>
#include <QFileInfo>

namespace workbookboxes {

namespace {

// Ids of boxes read back from workbooks, apart from every other kind of id.
const QUuid kNamespace = QUuid::fromString(QLatin1String("8b0b8d5e-5c52-4b0e-9a43-2f1f6a0d7c11"));

struct DayWorkbook
{
    QDate day;
    int number = 1;
    QString path;
};

std::vector<DayWorkbook> dayWorkbooks(const QString &programFolder, const QDate &from)
{
    std::vector<DayWorkbook> found;
    const QDir files(dayworkbooks::filesFolder(programFolder));
    for (const QFileInfo &file : files.entryInfoList(QDir::Files)) {
        const std::optional<dayworkbooks::Named> named = dayworkbooks::named(file.fileName());
        if (!named || (from.isValid() && named->day < from))
            continue;
        found.push_back({named->day, named->number, file.absoluteFilePath()});
    }
    std::sort(found.begin(), found.end(), [](const DayWorkbook &a, const DayWorkbook &b) {
        return a.day != b.day ? a.day < b.day : a.number < b.number;
    });
    return found;
}

QDateTime writtenAt(const DayWorkbook &book)
{
    const QDateTime modified = QFileInfo(book.path).lastModified();
    const QDateTime endOfDay(book.day, QTime(23, 59, 59));
    return modified.isValid() && modified.date() == book.day ? modified : endOfDay;
}

void addBoxes(const DayWorkbook &book, const QString &station, const std::vector<QStringList> &columns,
              std::vector<Outbox::Entry> &boxes, bool gs1Packs)
{
    const QString name = QFileInfo(book.path).fileName();
    const QDateTime at = writtenAt(book);
    for (boxsheet::SheetBox &sheetBox : boxsheet::boxesIn(columns)) {
        Outbox::Entry box;
        box.station = station;
        box.workbook = name;
        box.firstRow = sheetBox.firstRow;
        box.id = idOf(station, name, box.firstRow);
        box.writtenAt = at;
        box.rows = std::move(sheetBox.rows);
        if (gs1Packs)
            for (BoxRow &row : box.rows)
                if (row.kind == BoxRow::Pack)
                    row.fields = gs1rules::listedPack(row.text, book.day).fields();
        boxes.push_back(std::move(box));
    }
}

} // namespace

Found read(const QString &programFolder, const QString &station, const QDate &from, bool gs1Packs)
{
    Found found;
    for (const DayWorkbook &book : dayWorkbooks(programFolder, from)) {
        try {
            addBoxes(book, station, workbook::readFirstSheetColumns(book.path, boxsheet::kColumns), found.boxes, gs1Packs);
        } catch (const RuntimeError &e) {
            found.unreadable << e.description(); // the others are still brought level
        }
    }
    return found;
}

QUuid idOf(const QString &station, const QString &workbook, int32_t firstRow)
{
    return QUuid::createUuidV5(kNamespace, station + QLatin1Char('\n') + workbook + QLatin1Char('\n') + QString::number(firstRow));
}

} // namespace workbookboxes
