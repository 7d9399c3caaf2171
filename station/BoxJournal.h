#pragma once

#include "platform/DurableLog.h"
#include "station/Box.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// The open box on disk: open-box.txt in the program folder, one line per change,
// each on disk before the station goes on. A person can read it:
//
//   # Zantrel …
//   numbers 5 3        middle and outer running numbers, as they now stand
//   outer W002         an outer label row added
//   middle Z004        a middle label row added
//   pack A00017        an inner pack row added
//   remove             the last row taken back (a refused duplicate)
//   pending 1          the full box waits for its export (0: no longer)
//
// The file is rewritten whole when the box is emptied or started afresh. Texts
// escape the backslash and control characters as \\ and \xHH. A last line
// without its line end was torn by a crash and is skipped.
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

        int16_t packs() const;
        // A box worth offering back: packs in it, or a full box not yet exported.
        bool holdsUnwrittenPacks() const { return packs() > 0; }
        QString outerLabel() const;
    };

    explicit BoxJournal(const QString &programFolder);

    // Nothing when there is no journal. Raises a RuntimeError naming the line when
    // a line other than a torn last one cannot be read.
    static std::optional<Saved> load(const QString &programFolder);

    // Rewrites the journal to hold exactly this state.
    void startWith(const std::vector<BoxRow> &rows, bool exportPending, int32_t middleNo, int32_t outerNo);

    void rowAdded(const BoxRow &row) override;
    void lastRowRemoved() override;
    void exportPendingChanged(bool pending) override;
    void emptied(int32_t middleNo, int32_t outerNo) override;
    void numbersAdvanced(int32_t middleNo, int32_t outerNo) override;

    const QString &path() const { return m_log.path(); }

private:
    DurableLog m_log;
};
