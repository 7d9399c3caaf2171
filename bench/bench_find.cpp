// zantrel-find's search over 100 day workbooks of 30,000 rows each, and intake
// with the day-wide duplicate check when the day already holds 60,000 barcodes.
// Prints "figure_name: value unit" lines.
#include "packing/PackingState.h"
#include "BenchFakes.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/files/DayIndex.h"
#include "station/files/PackSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A day workbook of that many rows laid out in boxes of 60.
void makeDay(const QString &path, int rows, int firstBarcode)
{
    std::vector<WorkbookFile::Row> all;
    for (int r = 1; r < rows; ++r) {
        WorkbookFile::Row row;
        if (r % 60 == 1)
            row[0] = QStringLiteral("W%1").arg(r / 60, 5, 10, QLatin1Char('0'));
        else if (r % 10 == 2)
            row[1] = QStringLiteral("Z%1").arg(r / 10, 5, 10, QLatin1Char('0'));
        else
            row[2] = QStringLiteral("P%1").arg(firstBarcode + r, 9, 10, QLatin1Char('0'));
        all.push_back(row);
    }
    xls::NativeWorkbookFile file;
    file.create(path);
    file.appendRows(all);
    file.replaceFile();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-find-XXXXXX"));
    const QString files = dir.path() + QStringLiteral("/files/");
    QDir(dir.path()).mkdir(QStringLiteral("files"));

    makeDay(files + QStringLiteral("20261101.xls"), 30000, 0);
    for (int day = 2; day <= 100; ++day)
        QFile::copy(files + QStringLiteral("20261101.xls"), files + QStringLiteral("2026%1.xls").arg(1100 + day, 4, 10, QLatin1Char('0')));
    QElapsedTimer t;
    t.start();
    int unreadable = 0;
    const auto found = packsearch::search(
        files, [](const packsearch::Listed &p) { return p.pack.text() == QLatin1String("NOWHERE"); },
        [&](const QString &, const QString &) { ++unreadable; });
    std::printf("find_100_workbooks_30000_rows: %.2f s\n", t.nsecsElapsed() / 1e9);
    std::printf("find_100_workbooks_30000_rows_target: 3.00 s\n");
    if (!found.empty() || unreadable)
        return 1;

    // The day: two workbooks of 30,000 rows, about 60,000 barcodes in all.
    QDir(files).removeRecursively();
    QDir(dir.path()).mkdir(QStringLiteral("files"));
    makeDay(files + QStringLiteral("20261207.xls"), 34000, 0);
    makeDay(files + QStringLiteral("20261207-2.xls"), 34000, 100000);
    program::setFolder(dir.path());
    program::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0)); });
    DayIndex index;
    t.restart();
    index.load(dir.path(), QDate(2026, 12, 7));
    std::printf("day_index_load_%lld_barcodes: %.1f ms\n", static_cast<long long>(index.size()), t.nsecsElapsed() / 1e6);

    QuietIntake quiet(12, 10, 32000);
    BarcodeIntake &intake = quiet.intake;
    intake.checkWholeDay(&index);
    std::vector<double> us;
    for (int i = 0; i < 1000; ++i) {
        const QString scan = QStringLiteral("N%1\r\n").arg(i, 9, 10, QLatin1Char('0'));
        t.restart();
        intake.receive(scan);
        us.push_back(t.nsecsElapsed() / 1e3);
    }
    std::sort(us.begin(), us.end());
    std::printf("intake_day_wide_%lld_barcodes_median: %.1f us\n", static_cast<long long>(index.size()), us[us.size() / 2]);
    std::printf("intake_day_wide_%lld_barcodes_p99: %.1f us\n", static_cast<long long>(index.size()), us[us.size() * 99 / 100]);
    return 0;
}
