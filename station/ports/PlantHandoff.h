#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class Box;
struct ExportReceipt;

// Where a box goes once it is in its workbook, when the plant keeps a record of
// every station's boxes; and what the scan window shows and tells of that record.
// The box being packed as the record hears of it: its outer label ("" when none) and,
// of GS1 packs, the product and lot its first pack set ("" when none).
struct OpenBoxReport
{
    QString outerLabel;
    QString gtin;
    QString lot;
    QString batch; // the batch the station packs; "" for none
    bool operator==(const OpenBoxReport &o) const = default;
};

class PlantHandoff
{
public:
    virtual ~PlantHandoff() = default;
    // The box as written (its export target carries its id): on disk, on its way to
    // the record, before this returns. Raises a RuntimeError, keeping nothing, when
    // it cannot; the box must then not be emptied.
    virtual void handOver(const Box &box, const ExportReceipt &receipt) = 0;
    // A box is about to be written there (the workbook's file name, its first sheet
    // row): it is on its way, not missing, until it is handed over.
    virtual void expect(const QString &workbook, int32_t firstRow) = 0;
    // The box being packed, reported with the state.
    virtual void packing(const OpenBoxReport &box) = 0;
    // The operator on duty ("": nobody logs in): a box handed over names him as its writer.
    virtual void onDuty(const QString &id) = 0;
    // Where the record stands, as the status panel's lines say it.
    virtual QString stateLines() const = 0;
    // What the operator is to be told once; "" when nothing new.
    virtual QString takeNotice() = 0;
    // What the operator must see at once, shown in red while it lasts; "" when nothing.
    virtual QString alarm() const = 0;
    // Where the record has a box with this outer label, as the operator reads it
    // (station, workbook and row); nothing when it has none or cannot say in time.
    // Waits for the record, keeping the windows painted: for Start only.
    virtual std::optional<QString> recordedUse(const QString &outerLabel) = 0;
};
