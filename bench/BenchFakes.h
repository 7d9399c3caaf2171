#pragma once

#include "platform/MessageBox.h"
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
    ExportReceipt exportBox(const Box &) override { return {}; }
    QString keepUnfinished(const Box &) override { return {}; }
};
