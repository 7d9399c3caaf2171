#pragma once

#include "packing/Pack.h"
#include "packing/PackingJob.h"
#include "platform/RecordGrid.h"
#include "packing/ExportTarget.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

// One row of the open box. It fills exactly one of the list's three columns:
// the outer label, a middle label or an inner pack's barcode.
struct BoxRow
{
    enum Kind : uint8_t { OuterLabel = 0, MiddleLabel = 1, Pack = 2 };
    BoxRow() = default;
    BoxRow(Kind k, QString t, std::vector<gs1::Element> f = {}) : kind(k), text(std::move(t)), fields(std::move(f)) {}

    Kind kind = Pack;
    QString text;
    std::vector<gs1::Element> fields; // a GS1 pack's, as scanned; none for a label or a pack known by its text

    QString cell(int column) const { return column == int(kind) ? text : QString(); }
    // The pack a pack row holds.
    ::Pack pack() const { return fields.empty() ? ::Pack(text) : ::Pack(fields, text); }
    static BoxRow of(const ::Pack &pack) { return {Pack, pack.text(), pack.fields()}; }
    bool operator==(const BoxRow &o) const { return kind == o.kind && text == o.text && fields == o.fields; }
};

// The running numbers as they stand after a change.
struct RunningNumbers
{
    int32_t middleNo = 0;
    int32_t outerNo = 0;
    bool operator==(const RunningNumbers &o) const = default;
};

// Everything one scan does to the box, made (and journaled) as one: the rows it
// adds, the running numbers after it, and the job of a box that it starts.
struct BoxChange
{
    std::vector<BoxRow> rows;
    std::optional<RunningNumbers> numbers;
    std::optional<PackingJob> job;
    QString operatorId; // an operator who scans into the box for the first time; "" for none
};

// Where every change of the box goes before it is made (the journal). A failure
// raises a RuntimeError, and the box then stays as it was.
class BoxLog
{
public:
    virtual ~BoxLog() = default;
    virtual void changed(const BoxChange &change) = 0;
    virtual void exportPendingChanged(bool pending) = 0;
    virtual void exporting(const ExportTarget &target) = 0;
    virtual void jobChanged(const PackingJob &job) = 0;
    virtual void emptied(int32_t middleNo, int32_t outerNo) = 0;
    virtual void numbersAdvanced(int32_t middleNo, int32_t outerNo) = 0;
    // The box is closed short: the last row taken back when takeBack (a middle label
    // with no pack under it), the running numbers as they then stand, and the box
    // waiting for its export, all as one.
    virtual void closedShort(bool takeBack, const RunningNumbers &numbers) = 0;
};

// The open outer box: its rows in the order listed, the pack count, the job it is
// packed by, whether a full box still waits for its export and where that export
// was about to write it. Intake changes it, the duplicate check and the export read
// it, the list shows it.
class Box : public RecordSource
{
public:
    Box() = default;
    Box(const Box &) = delete;
    Box &operator=(const Box &) = delete;

    // Every change is written here first (nullptr: nowhere, as in logic tests).
    void setLog(BoxLog *log) { m_log = log; }
    // The list that shows the box (nullptr: none).
    void setView(RecordGrid *view);

    const std::vector<BoxRow> &rows() const { return m_rows; }
    int32_t rowCount() const override { return int32_t(m_rows.size()); }
    // "" for a row or column outside the box.
    QString cellText(int32_t row, int32_t column) const override;
    // Inner packs in the box.
    int16_t iInnerCount() const { return m_packs; }
    bool exportPending() const { return m_exportPending; }
    bool holdsPacks() const { return m_packs > 0; }
    // The label of its outer label row, "" before it has one.
    QString outerLabel() const;
    // The first pack row, if the box has one: what a GS1 box's product and lot are set by.
    const BoxRow *firstPack() const;
    // Whether the box holds this pack (by its identity, however it was spelled).
    bool contains(const ::Pack &pack) const { return m_barcodes.contains(pack.identity()); }
    const std::optional<PackingJob> &job() const { return m_job; }
    // Packs the box may hold: its job's outer size (32767 without a job).
    int16_t capacity() const;
    const std::optional<ExportTarget> &exportTarget() const { return m_target; }
    // The 工号 of every operator who scanned into it, in the order they first did.
    const QStringList &operators() const { return m_operators; }

    // Logs the change, then makes it. Raises, changing nothing, when the log fails
    // or when the packs would go past the box's capacity.
    void apply(const BoxChange &change);
    // One row on its own (tests, benchmarks).
    void appendOuterLabel(const QString &label) { apply({{{BoxRow::OuterLabel, label}}, {}, {}, {}}); }
    void appendMiddleLabel(const QString &label) { apply({{{BoxRow::MiddleLabel, label}}, {}, {}, {}}); }
    void appendPack(const QString &barcode) { apply({{{BoxRow::Pack, barcode}}, {}, {}, {}}); }

    void setExportPending(bool pending);
    // The workbook and row the export is about to write the box to.
    // Gives the box its id, unless it has one already.
    void setExportTarget(const ExportTarget &target);
    // Start changed the job while the box is open.
    void setJob(const PackingJob &job);
    // After the export (or when the box is given up): no rows, no packs; the
    // running numbers as they now stand are logged with it. A failing log raises,
    // but the box is emptied all the same.
    void empty(int32_t middleNo, int32_t outerNo);
    void numbersAdvanced(int32_t middleNo, int32_t outerNo);
    // Closed with fewer packs than its size, to be exported as it is: a middle label
    // row after the last pack (the next middle box, begun when the last one filled)
    // is taken back. Returns whether it was; numbers are the running numbers after it.
    // Logged first, as one; a failing log raises and changes nothing.
    bool closeShort(const RunningNumbers &numbers);
    // Whether the last row is a middle label with no pack under it.
    bool endsWithEmptyMiddle() const;

    // Puts back a box as a journal kept it; not logged (it came from the log).
    // Raises, changing nothing, when it holds more packs than a box can.
    void restore(std::vector<BoxRow> rows, bool exportPending, std::optional<PackingJob> job = std::nullopt,
                 std::optional<ExportTarget> target = std::nullopt, QStringList operators = {});

private:
    void countPack(const ::Pack &pack, int32_t change);
    ExportTarget withId(const ExportTarget &target) const;

    std::vector<BoxRow> m_rows;
    QHash<QString, int32_t> m_barcodes; // how often each pack identity is listed, for the duplicate check
    int16_t m_packs = 0;
    bool m_exportPending = false;
    std::optional<PackingJob> m_job;
    std::optional<ExportTarget> m_target;
    QStringList m_operators;
    BoxLog *m_log = nullptr;
    RecordGrid *m_view = nullptr;
};
