#pragma once

#include "Fakes.h"

#include "packing/PackingState.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QStringList>

// A fixed run of scans for the journal's kill test: the child process scans it
// with a journal on disk; the test replays it to know every state the journal
// may hold. Repeats (refused as duplicates) and full boxes come up often.
namespace journalscript {

constexpr int kScans = 160;

inline QStringList scans(quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList out;
    for (int i = 0; i < kScans; ++i)
        out << QStringLiteral("P%1\r\n").arg(random.bounded(40), 5, 10, QLatin1Char('0'));
    return out;
}

// The day the exports of the script's real-workbook runs are written on.
inline QDateTime clock()
{
    return QDateTime(QDate(2026, 12, 7), QTime(10, 0));
}

inline void setUp(PackingState &state)
{
    state.iInnerLen = 8;
    state.iPerMiddle = 3;
    state.iPerOuter = 7;
    state.iMiddleDigits = state.iOuterDigits = 3;
    state.sOuterPrefix = QStringLiteral("W");
    state.sMiddlePrefix = QStringLiteral("Z");
    state.lMiddleNo = state.lOuterNo = 1;
}

// The station the script runs on: intake into a box, duplicates checked, with
// messages and exports recorded. Exports succeed; what matters is the box around them.
struct Station
{
    PackingState state;
    RecordingMessages messages;
    RecordingExport exports;
    Box box;
    BarcodeIntake intake{state, box, messages, exports};

    Station()
    {
        setUp(state);
        intake.sCfMode = QStringLiteral("0");
    }
};

} // namespace journalscript
