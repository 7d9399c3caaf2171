#pragma once

#include "platform/SheetLimits.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The workbooks of one day in files/: yyyymmdd.xls, and when a day fills it,
// yyyymmdd-2.xls, yyyymmdd-3.xls and so on. Paths are real paths; a folder or
// file whose name differs only in case (Files, 20261207.XLS) is found here, once.
namespace dayworkbooks {

// Sheet rows a workbook holds.
constexpr int32_t kSheetRowLimit = sheet::kRows;

// The program folder's files folder.
QString filesFolder(const QString &programFolder);
// A workbook of the files folder as the operator reads it: files/yyyymmdd.xls.
QString shownName(const QString &path);

// Number 1 is the day's first workbook, yyyymmdd.xls; n >= 2 is yyyymmdd-n.xls.
QString fileName(const QDate &date, int number = 1);
QString path(const QString &programFolder, const QDate &date, int number = 1);
// The day and number a workbook's file name gives, in any case (20261208.XLS,
// 20261208-2.xls); nothing for another name (an unfinished box's, say).
struct Named
{
    QDate day;
    int number = 1;
};
std::optional<Named> named(const QString &fileName);
// The box that will not be finished, kept in a workbook of its own.
QString unfinishedPath(const QString &programFolder, const QDateTime &at);

// Every workbook of an unfinished box in the files folder, oldest first.
QStringList unfinishedWorkbooks(const QString &programFolder);

// The numbers of the day's workbooks that exist, in order (1 first when it exists).
QList<int> existing(const QString &programFolder, const QDate &date);

// Where a text stands in column A of the first sheet of one of the day's workbooks.
struct Use
{
    QString workbook; // files/yyyymmdd.xls, as the operator reads it
    int32_t row = 0;  // sheet row from 1
};
// The first use of the label; workbooks that cannot be read are skipped.
std::optional<Use> findOuterLabel(const QString &programFolder, const QDate &date, const QString &label);
// The first use of the label in any workbook of the files folder, of any day and
// the unfinished boxes' too, oldest name first; unreadable workbooks are skipped.
std::optional<Use> findOuterLabelOnAnyDay(const QString &programFolder, const QString &label);

} // namespace dayworkbooks
