// Cost of one scan's intake with duplicate checking on, when the outer box already
// holds many rows; and the same with an operator on duty (named in the box), beside it.
// Prints "figure_name: value unit" lines.
#include "packing/PackingState.h"
#include "BenchFakes.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/BoxJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString barcode(int n)
{
    return QStringLiteral("B%1\r\n").arg(n, 12, 10, QLatin1Char('0'));
}

struct Figures
{
    double median;
    double p99;
};

Figures microsPerScan(int rowsAlready, int scans, BoxLog *journal, const QString &onDuty = {})
{
    QuietIntake quiet(15, 32767, 32767);
    BarcodeIntake &intake = quiet.intake;
    intake.setOperatorOnDuty(onDuty);
    for (int i = 0; quiet.box.rowCount() < rowsAlready; ++i)
        intake.receive(barcode(i));

    quiet.box.setLog(journal);
    std::vector<double> samples;
    for (int i = 0; i < scans; ++i) {
        const QString text = barcode(1000000 + i);
        QElapsedTimer timer;
        timer.start();
        intake.receive(text);
        samples.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[size_t(double(samples.size() - 1) * 0.99)]};
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int rows : {1000, 10000, 30000})
        std::printf("intake_dupcheck_%d_rows: %.1f us\n", rows, microsPerScan(rows, 200, nullptr).median);
    // An operator on duty: each scan asks whether the box names him already.
    for (int rows : {1000, 30000}) {
        const Figures without = microsPerScan(rows, 2000, nullptr), with = microsPerScan(rows, 2000, nullptr, QStringLiteral("P001"));
        std::printf("intake_operator_%d_rows: %.1f us median, p99 %.1f us; without an operator %.1f us, p99 %.1f us\n", rows, with.median,
                    with.p99, without.median, without.p99);
    }

    // The same with every change journaled and fdatasync'd, in the working folder
    // (not /tmp, which may be a RAM disk where a sync costs nothing).
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-journal-XXXXXX"));
    BoxJournal journal(dir.path());
    journal.startWith({}, false, 1, 1);
    const Figures journaled = microsPerScan(30000, 1000, &journal);
    std::printf("intake_journaled_30000_rows_median: %.1f us\n", journaled.median);
    std::printf("intake_journaled_30000_rows_p99: %.1f us\n", journaled.p99);
    return 0;
}
