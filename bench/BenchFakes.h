#pragma once

#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "station/BarcodeIntake.h"
#include "station/Box.h"
#include "station/BoxExport.h"

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
