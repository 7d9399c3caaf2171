#include "station/DayWorkbooks.h"

#include "core/RuntimeError.h"
#include "platform/ProfileFile.h"
#include "platform/xls/ColumnReader.h"

#include <QFileInfo>

namespace dayworkbooks {

namespace {
const QString kFolder = QStringLiteral("\\files\\");
constexpr int kOuterLabelColumn = 0;
} // namespace

QString path(const QString &programFolder, const QDate &date, int number)
{
    const QString day = date.toString(QStringLiteral("yyyyMMdd"));
    if (number <= 1)
        return programFolder + kFolder + day + ".xls";
    return programFolder + kFolder + day + QStringLiteral("-%1.xls").arg(number);
}

QString unfinishedPath(const QString &programFolder, const QDateTime &at)
{
    return programFolder + kFolder + QStringLiteral("unfinished-") + at.toString(QStringLiteral("yyyyMMdd-HHmmss"))
           + ".xls";
}

QList<int> existing(const QString &programFolder, const QDate &date)
{
    QList<int> numbers;
    if (QFileInfo(profile::resolvePath(path(programFolder, date, 1))).isFile())
        numbers << 1;
    // Continuations are made one after the other, so the first gap ends the search.
    for (int n = 2; QFileInfo(profile::resolvePath(path(programFolder, date, n))).isFile(); ++n)
        numbers << n;
    return numbers;
}

std::optional<Use> findOuterLabel(const QString &programFolder, const QDate &date, const QString &label)
{
    for (const int n : existing(programFolder, date)) {
        const QString file = profile::resolvePath(path(programFolder, date, n));
        QStringList column;
        try {
            column = xls::readFirstSheetColumn(file, kOuterLabelColumn);
        } catch (const RuntimeError &) {
            // A workbook that cannot be read is told about by the export; here it can only be skipped.
            continue;
        }
        const qsizetype row = column.indexOf(label);
        if (row >= 0)
            return Use{QStringLiteral("files/") + QFileInfo(file).fileName(), int32_t(row + 1)};
    }
    return std::nullopt;
}

} // namespace dayworkbooks
