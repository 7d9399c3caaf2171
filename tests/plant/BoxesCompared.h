#pragma once

#include "platform/Database.h"
#include "platform/WorkbookReader.h"

#include <QDir>
#include <QStringList>

// A station's boxes as its workbooks hold them and as the plant record holds them,
// each as one comparable line, so that "every box exactly once, row for row" is one
// comparison.

// Every box of the folder's workbooks as "LABEL workbook row: the rows' texts", sorted.
inline QStringList boxesInWorkbooks(const QString &folder)
{
    QStringList boxes;
    const QDir files(folder + QStringLiteral("/files"));
    for (const QString &name : files.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name)) {
        const std::vector<QStringList> columns = workbook::readFirstSheetColumns(files.filePath(name), 3);
        QString box;
        for (qsizetype r = 1; r < columns[0].size(); ++r) { // row 1 holds the captions
            if (!columns[0][r].isEmpty()) {
                if (!box.isEmpty())
                    boxes << box;
                box = QStringLiteral("%1 %2 %3:").arg(columns[0][r], name).arg(r + 1);
            }
            box += QLatin1Char(' ') + columns[0][r] + columns[1][r] + columns[2][r];
        }
        if (!box.isEmpty())
            boxes << box;
    }
    boxes.sort();
    return boxes;
}

// "" for every station's.
inline QStringList boxesInRecord(database::Connection &db, const QString &station = QString())
{
    QStringList boxes;
    for (const database::Row &row :
         db.run(QStringLiteral("SELECT b.outer_label || ' ' || b.workbook || ' ' || b.first_row || ':' || "
                               "string_agg(' ' || r.text, '' ORDER BY r.row_index) FROM zantrel.boxes b "
                               "JOIN zantrel.box_rows r USING (box_id) WHERE b.station = $1 OR $1 = '' GROUP BY b.box_id"),
                {station.isNull() ? QStringLiteral("") : station}))
        boxes << row[0].value_or(QString());
    boxes.sort();
    return boxes;
}

