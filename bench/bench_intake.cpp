// Cost of one scan's intake with duplicate checking on, when the outer box already
// holds many rows. Prints "figure_name: value unit" lines.
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/qt/QtRecordGrid.h"
#include "station/BarcodeIntake.h"
#include "station/BoxExport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
class SilentMessages : public MessageBox
{
public:
    void show(const QString &) override {}
};
class NoExport : public BoxExport
{
public:
    void exportBox(const RecordGrid &) override {}
};

QString barcode(int n)
{
    return QStringLiteral("B%1\r\n").arg(n, 12, 10, QLatin1Char('0'));
}

double medianMicrosPerScan(int rowsAlready)
{
    PackingState state;
    state.iInnerLen = 15;
    state.iPerMiddle = 32767;
    state.iPerOuter = 32767;
    state.lMiddleNo = state.lOuterNo = 1;
    QtRecordGrid grid;
    SilentMessages messages;
    NoExport none;
    BarcodeIntake intake(state, grid, messages, none);
    intake.sCfMode = QStringLiteral("0");
    for (int i = 0; grid.rowCount() < rowsAlready; ++i)
        intake.receive(barcode(i));

    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        const QString text = barcode(1000000 + i);
        QElapsedTimer timer;
        timer.start();
        intake.receive(text);
        samples.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int rows : {1000, 10000, 30000})
        std::printf("intake_dupcheck_%d_rows: %.1f us\n", rows, medianMicrosPerScan(rows));
    return 0;
}
