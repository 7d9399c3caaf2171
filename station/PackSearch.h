#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

// Looks packs up in the workbooks of files/: every inner pack row of a first
// sheet, with the outer and middle labels of the box it was listed under (the
// nearest label rows above it).
namespace packsearch {

struct Pack
{
    QString workbook; // file name in files/
    int32_t row = 0;  // sheet row from 1
    QString outerLabel;
    QString middleLabel;
    QString barcode;
};

// Every pack of one workbook, in sheet order. Raises a RuntimeError when the
// workbook cannot be read.
std::vector<Pack> packsOf(const QString &path);

// The workbooks of a files folder to search: every .xls, by name.
QStringList workbooksIn(const QString &filesFolder);

// Searches every workbook of the folder; `keep` chooses the packs to report.
// Workbooks that cannot be read are passed to `unreadable` with the reason and
// skipped; `progress` hears after each workbook how many of how many are done.
std::vector<Pack> search(const QString &filesFolder, const std::function<bool(const Pack &)> &keep,
                         const std::function<void(const QString &, const QString &)> &unreadable,
                         const std::function<void(int, int)> &progress = {});

} // namespace packsearch
