#pragma once

#include "packing/Pack.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

// Looks packs up in the workbooks of files/: every inner pack row of a first
// sheet, with the outer and middle labels of the box it was listed under (the
// nearest label rows above it).
namespace packsearch {

// A pack as a workbook lists it.
struct Listed
{
    QString workbook; // file name in files/
    int32_t row = 0;  // sheet row from 1
    QString outerLabel;
    QString middleLabel;
    ::Pack pack;
};

// Every pack of one workbook, in sheet order. Raises a RuntimeError when the
// workbook cannot be read.
std::vector<Listed> packsOf(const QString &path);

// The workbooks of a files folder to search: everything named *.xls, by name,
// whatever it is (what cannot be read is skipped and told).
QStringList workbooksIn(const QString &filesFolder);

// Searches every workbook of the folder, one per core; `keep` chooses the packs
// to report and may be called from several threads at once. Workbooks that cannot
// be read are passed to `unreadable` with the reason and skipped, in name order
// after the search; `progress` hears after each workbook how many of how many are
// done (from any of the threads, one at a time).
std::vector<Listed> search(const QString &filesFolder, const std::function<bool(const Listed &)> &keep,
                         const std::function<void(const QString &, const QString &)> &unreadable,
                         const std::function<void(int, int)> &progress = {});

} // namespace packsearch
