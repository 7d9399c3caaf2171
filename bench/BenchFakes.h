#pragma once

#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"

// A message box nobody reads and an export that goes nowhere: the benchmarks time
// the station's own work, not a person or a disk.
class SilentMessages : public MessageBox
{
public:
    void show(const QString &) override {}
    int ask(const QString &, const QStringList &, int defaultButton) override { return defaultButton; }
};

class NoExport : public BoxExport
{
public:
    ExportReceipt exportBox(const Box &, const BeforeReplace &) override { return {}; }
    bool holds(const Box &, const ExportTarget &) override { return false; }
    QString keepUnfinished(const Box &) override { return {}; }
};

// Boxes go nowhere on disk, but with a receipt as a workbook gives one.
class CountingExport : public BoxExport
{
public:
    ExportReceipt exportBox(const Box &box, const BeforeReplace &beforeReplace) override
    {
        const ExportTarget target{QStringLiteral("bench.xls"), m_next, {}};
        if (beforeReplace)
            beforeReplace(target);
        ExportReceipt r{box.outerLabel(), target.workbook, m_next, QDateTime::currentDateTime(), {}};
        m_next += box.rowCount();
        ++written;
        return r;
    }
    bool holds(const Box &, const ExportTarget &) override { return false; }
    QString keepUnfinished(const Box &) override { return {}; }
    int written = 0;

private:
    int32_t m_next = 2;
};

// Intake into a box of that size, duplicates checked, nobody watching and no disk.
struct QuietIntake
{
    PackingState state;
    Box box;
    SilentMessages messages;
    NoExport none;
    BarcodeIntake intake{state, box, messages, none};

    QuietIntake(int innerLength, int perMiddle, int perOuter)
    {
        state.iInnerLen = innerLength;
        state.iPerMiddle = perMiddle;
        state.iPerOuter = perOuter;
        state.lMiddleNo = state.lOuterNo = 1;
        intake.sCfMode = QStringLiteral("0");
    }
};
