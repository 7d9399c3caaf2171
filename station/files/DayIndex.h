#pragma once

#include "packing/Pack.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>

class Box;
struct ExportReceipt;

// Every barcode already written today, for a duplicate check over the whole day:
// built from the day's workbooks when the scan window loads, extended with every
// box the station writes, built afresh when the date changes.
class DayIndex
{
public:
    struct Where
    {
        QString outerLabel;
        QString workbook; // file name
        int32_t row = 0;  // sheet row from 1
    };

    // Workbook cells that read as GS1 packs are known by their GTIN and serial.
    void readGs1Packs(bool on) { m_gs1 = on; }
    // Reads the day's workbooks (those that cannot be read are skipped: their
    // boxes are told about when the station writes to them).
    void load(const QString &programFolder, const QDate &day);
    // The box just written, with where it went.
    void addBox(const Box &box, const ExportReceipt &receipt);

    std::optional<Where> find(const Pack &pack) const;
    const QDate &day() const { return m_day; }
    const QString &programFolder() const { return m_folder; }
    qsizetype size() const { return m_barcodes.size(); }

private:
    QString m_folder;
    QDate m_day;
    bool m_gs1 = false;
    QHash<QString, Where> m_barcodes; // by pack identity
};
