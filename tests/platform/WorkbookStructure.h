#pragma once

#include "platform/xls/BiffStream.h"
#include "platform/xls/CompoundDocument.h"
#include "platform/xls/SstTable.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <set>

// Checks that tell a workbook stream is whole: each stream position a record
// carries points at the record it names, and every cell lies in its sheet's
// DIMENSIONS. Returns the problems found (none: an empty list).
inline QStringList structureProblems(const std::string &stream)
{
    using namespace xls;
    QStringList problems;
    BiffLayout layout;
    try {
        layout = walkBiffStream(stream);
    } catch (const std::exception &e) {
        return {QStringLiteral("does not walk: %1").arg(QString::fromUtf8(e.what()))};
    }
    auto typeAt = [&](uint32_t position) -> int {
        const long i = layout.recordAt(position);
        return i < 0 ? -1 : layout.records[size_t(i)].type;
    };
    std::set<uint32_t> sheetStarts;
    for (const BiffSubstream &s : layout.sheets)
        sheetStarts.insert(layout.records[s.bof].at);
    for (size_t i = layout.globals.bof; i <= layout.globals.eof; ++i) {
        const BiffRecord &r = layout.records[i];
        if (r.type == rec::kBoundSheet && !sheetStarts.count(r.u32(0)))
            problems << QStringLiteral("BOUNDSHEET at %1 points at %2, no sheet's BOF").arg(r.at).arg(r.u32(0));
    }
    // EXTSST: each bucket's first string.
    try {
        const SstTable sst = readSstTable(layout);
        if (sst.present) {
            if (layout.records[sst.sst].u32(4) != sst.uniqueCount())
                problems << QStringLiteral("SST counts %1 strings, holds %2").arg(layout.records[sst.sst].u32(4)).arg(sst.uniqueCount());
            if (sst.extSst < 0) {
                problems << QStringLiteral("no EXTSST");
            } else {
                const BiffRecord &ext = layout.records[size_t(sst.extSst)];
                const uint32_t perBucket = ext.u16(0);
                const uint32_t buckets = (ext.length - 2) / 8;
                if (perBucket < 8)
                    problems << QStringLiteral("EXTSST buckets of %1 strings").arg(perBucket);
                else if (buckets != (sst.uniqueCount() + perBucket - 1) / perBucket)
                    problems << QStringLiteral("EXTSST has %1 buckets for %2 strings").arg(buckets).arg(sst.uniqueCount());
                for (uint32_t k = 0; perBucket >= 8 && k < buckets && k * perBucket < sst.uniqueCount(); ++k) {
                    const SstTable::Start &start = sst.starts[k * perBucket];
                    const BiffRecord &holder = layout.records[start.record];
                    const uint32_t expected = holder.at + 4 + start.offset;
                    if (ext.u32(2 + 8 * k) != expected || ext.u16(2 + 8 * k + 4) != 4 + start.offset)
                        problems << QStringLiteral("EXTSST bucket %1 points at %2, the string is at %3").arg(k).arg(ext.u32(2 + 8 * k)).arg(expected);
                }
            }
        }
    } catch (const std::exception &e) {
        problems << QStringLiteral("SST: %1").arg(QString::fromUtf8(e.what()));
    }
    // Each sheet: INDEX, DBCELL, cells inside DIMENSIONS.
    for (const BiffSubstream &s : layout.sheets) {
        int depth = 0;
        long dims = -1;
        for (size_t i = s.bof; i <= s.eof; ++i) {
            const BiffRecord &r = layout.records[i];
            depth += r.type == rec::kBof;
            if (depth == 1) {
                if (r.type == rec::kIndex) {
                    if (r.u32(12) != 0 && typeAt(r.u32(12)) != rec::kDefColWidth)
                        problems << QStringLiteral("INDEX at %1: DEFCOLWIDTH position %2 is a %3").arg(r.at).arg(r.u32(12)).arg(typeAt(r.u32(12)));
                    for (uint32_t f = 16; f + 4 <= r.length; f += 4)
                        if (typeAt(r.u32(f)) != rec::kDbCell)
                            problems << QStringLiteral("INDEX at %1: entry %2 points at %3, no DBCELL").arg(r.at).arg((f - 16) / 4).arg(r.u32(f));
                } else if (r.type == rec::kDbCell) {
                    if (typeAt(r.at - r.u32(0)) != rec::kRow)
                        problems << QStringLiteral("DBCELL at %1 points back at %2, no ROW").arg(r.at).arg(r.at - r.u32(0));
                } else if (r.type == rec::kDimensions && dims < 0) {
                    dims = long(i);
                } else if (isCellRecord(r.type) && dims >= 0) {
                    const BiffRecord &d = layout.records[size_t(dims)];
                    const uint32_t row = r.u16(0), column = r.u16(2);
                    if (row < d.u32(0) || row >= d.u32(4) || column < d.u16(8) || column >= d.u16(10))
                        problems << QStringLiteral("cell %1,%2 outside DIMENSIONS").arg(row).arg(column);
                }
            }
            depth -= r.type == rec::kEof;
        }
    }
    return problems;
}

// The workbook stream and the other streams of a workbook file.
inline xls::CompoundEntry compoundOf(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return xls::readCompoundDocument(f.readAll());
}

// Records of `before` that `after` no longer holds byte for byte and in order,
// leaving out those an append may change: SST and its last CONTINUE, EXTSST,
// BOUNDSHEET (its position), INDEX, and the first sheet's DIMENSIONS, COLINFO
// and last DBCELL.
inline QStringList lostRecords(const std::string &before, const std::string &after)
{
    using namespace xls;
    const BiffLayout a = walkBiffStream(before), b = walkBiffStream(after);
    std::set<size_t> mayChange;
    const SstTable sst = readSstTable(a);
    if (sst.present) {
        mayChange.insert(sst.sst);
        mayChange.insert(sst.last);
    }
    // The first worksheet: the first sheet substream of worksheet kind that a BOUNDSHEET names.
    long firstSheet = -1;
    for (size_t i = a.globals.bof; i <= a.globals.eof; ++i) {
        const BiffRecord &r = a.records[i];
        if (r.type == rec::kExtSst || r.type == rec::kBoundSheet)
            mayChange.insert(i);
        if (r.type == rec::kBoundSheet && firstSheet < 0 && uint8_t(r.data[5]) == 0)
            firstSheet = a.recordAt(r.u32(0));
    }
    long lastDbCell = -1;
    for (const BiffSubstream &s : a.sheets) {
        for (size_t i = s.bof; i <= s.eof; ++i) {
            const uint16_t t = a.records[i].type;
            if (t == rec::kIndex)
                mayChange.insert(i);
            if (long(s.bof) == firstSheet && (t == rec::kDimensions || t == rec::kColInfo))
                mayChange.insert(i);
            if (long(s.bof) == firstSheet && t == rec::kDbCell)
                lastDbCell = long(i);
        }
    }
    if (lastDbCell >= 0)
        mayChange.insert(size_t(lastDbCell));
    QStringList lost;
    size_t j = 0;
    for (size_t i = 0; i < a.records.size(); ++i) {
        if (mayChange.count(i))
            continue;
        const BiffRecord &r = a.records[i];
        const std::string bytes(r.data - 4, r.length + 4u);
        while (j < b.records.size() && std::string(b.records[j].data - 4, b.records[j].length + 4u) != bytes)
            ++j;
        if (j == b.records.size()) {
            lost << QStringLiteral("record %1 (type 0x%2 at %3)").arg(i).arg(r.type, 4, 16, QLatin1Char('0')).arg(r.at);
            j = 0; // go on looking for the rest from the start, to list them all
            continue;
        }
        ++j;
    }
    return lost;
}
