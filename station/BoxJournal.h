#pragma once

#include "platform/DurableLog.h"
#include "packing/Batch.h"
#include "packing/Box.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// The open box on disk: open-box.txt in the program folder, one line per change,
// each on disk before the station goes on. A person can read it:
//
//   # Zantrel …
//   numbers 5 3        middle and outer running numbers, as they now stand
//   job 2 10 3 3 Z  W  the box's job: middle and outer size, middle and outer digits,
//                      middle prefix and suffix, outer prefix and suffix
//   outer W002         an outer label row added
//   middle Z004        a middle label row added
//   pack A00017        an inner pack row added
//   gs1 01 09501101530003 21 A1B2   a GS1 pack's fields, AI and data by turns (after its row)
//   remove             the last row taken back (a box closed short gives back its empty middle label)
//   pending 1          the full box waits for its export (0: no longer)
//   export 14 files/20261207.xls   the box is about to be written there, from sheet row 14
//   operator P001      an operator scanned into the box for the first time
//   batch 240117 L1 09501101530003 L24 271231  1000 2 10   the batch the station packs:
//                      number, line, product, lot, expiry, production date, planned, sizes
//   begin … end        the lines between belong to one scan: all of them count, or none
//
// The file is rewritten whole when the box is emptied or started afresh. Texts
// escape the backslash and control characters as \\ and \xHH (the job's texts
// their blanks too). A last line without its line end was torn by a crash and is
// skipped, and so is a scan whose "end" never got to disk.
class BoxJournal : public BoxLog
{
public:
    static QString fileName();

    // What a journal holds.
    struct Saved
    {
        std::vector<BoxRow> rows;
        bool exportPending = false;
        std::optional<int32_t> middleNo;
        std::optional<int32_t> outerNo;
        std::optional<PackingJob> job;
        std::optional<ExportTarget> target; // absolute path of the workbook
        std::optional<Batch> batch;         // the batch the station packed last
        QStringList operators;              // every operator who scanned into the box

        int16_t packs() const;
        // A box worth offering back: packs in it, or a full box not yet exported.
        bool holdsUnwrittenPacks() const { return packs() > 0; }
        QString outerLabel() const;
    };

    explicit BoxJournal(const QString &programFolder);

    // Nothing when there is no journal. Raises a RuntimeError naming the line when
    // a line other than a torn last one cannot be read, and naming the fault when
    // the box it describes could not be: more packs than its size or than any box
    // holds, rows out of order, running numbers that cannot go on.
    static std::optional<Saved> load(const QString &programFolder);

    // Rewrites the journal to hold exactly this state; the batch stays in it from then
    // on, whatever box is emptied, until another is taken.
    void startWith(const std::vector<BoxRow> &rows, bool exportPending, int32_t middleNo, int32_t outerNo,
                   const std::optional<PackingJob> &job = std::nullopt,
                   const std::optional<ExportTarget> &target = std::nullopt, const std::optional<Batch> &batch = std::nullopt,
                   const QStringList &operators = {});
    // Start took this batch: it is what a restart without the record goes on with.
    void batchTaken(const Batch &batch);

    void changed(const BoxChange &change) override;
    void exportPendingChanged(bool pending) override;
    void exporting(const ExportTarget &target) override;
    void jobChanged(const PackingJob &job) override;
    // A rewrite that fails is tried again before the next change is written, so a
    // box already in the workbook never stays in front of the next one.
    void emptied(int32_t middleNo, int32_t outerNo) override;
    void numbersAdvanced(int32_t middleNo, int32_t outerNo) override;
    void closedShort(bool takeBack, const RunningNumbers &numbers) override;

    const QString &path() const { return m_log.path(); }

private:
    void write(const QByteArray &lines);

    QString m_folder;
    DurableLog m_log;
    std::optional<QByteArray> m_rewriteFirst;
    QByteArray m_batchLine; // "" without a batch
};
