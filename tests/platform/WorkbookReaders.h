#pragma once

#include "support/FreeXlReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTest>

// A workbook as two independent readers see it: each row as "A|B|C..." with
// trailing empty cells left out, plus the sheet names.
struct SheetRows
{
    QString name;
    QStringList rows;
    bool operator==(const SheetRows &o) const { return name == o.name && rows == o.rows; }
};
using BookRows = QList<SheetRows>;

inline QString joinRow(QStringList cells)
{
    while (!cells.isEmpty() && cells.last().isEmpty())
        cells.removeLast();
    return cells.join(QLatin1Char('|'));
}

inline QString numberText(double v)
{
    return QString::number(v, 'g', 15);
}

inline BookRows readWithFreeXl(const QString &path)
{
    BookRows out;
    const xls::Workbook book = xls::readWorkbook(path);
    for (const xls::Sheet &sheet : book.sheets) {
        SheetRows s{sheet.name, {}};
        for (const auto &row : sheet.rows) {
            QStringList cells;
            for (const xls::Cell &c : row)
                cells << (c.kind == xls::Cell::Number ? numberText(c.number) : c.text);
            s.rows << joinRow(cells);
        }
        out << s;
    }
    return out;
}

// xlrd's view, with the kind of every cell: kinds[r][c] is 1 text, 2 number, 6 blank, 0 empty.
struct XlrdView
{
    BookRows rows;
    QList<QList<QList<int>>> kinds;
    QList<QMap<int, int>> widths;
};

inline XlrdView readWithXlrd(const QString &path)
{
    QProcess p;
    const QString script = qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/tests/tools/read_xls.py";
    p.start(QStringLiteral("/usr/bin/python3"), {script, path});
    XlrdView view;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("xlrd could not read %s: %s", qPrintable(path), p.readAllStandardError().constData());
        return view;
    }
    const QJsonArray sheets = QJsonDocument::fromJson(p.readAllStandardOutput()).object()["sheets"].toArray();
    for (const QJsonValue &sv : sheets) {
        const QJsonObject sheet = sv.toObject();
        SheetRows s{sheet["name"].toString(), {}};
        QList<QList<int>> kinds;
        for (const QJsonValue &rv : sheet["rows"].toArray()) {
            QStringList cells;
            QList<int> rowKinds;
            for (const QJsonValue &cv : rv.toArray()) {
                const QJsonArray cell = cv.toArray();
                const int kind = cell[0].toInt();
                rowKinds << kind;
                cells << (kind == 2 ? numberText(cell[1].toDouble()) : cell[1].toString());
            }
            s.rows << joinRow(cells);
            kinds << rowKinds;
        }
        QMap<int, int> widths;
        const QJsonObject w = sheet["widths"].toObject();
        for (auto it = w.begin(); it != w.end(); ++it)
            widths[it.key().toInt()] = it.value().toInt();
        view.rows << s;
        view.kinds << kinds;
        view.widths << widths;
    }
    return view;
}

// Both readers must see the same content; returns it.
inline BookRows readBoth(const QString &path)
{
    const BookRows freexl = readWithFreeXl(path);
    const BookRows xlrd = readWithXlrd(path).rows;
    if (!(freexl == xlrd)) {
        qWarning("FreeXL and xlrd disagree about %s", qPrintable(path));
        return {};
    }
    return freexl;
}
