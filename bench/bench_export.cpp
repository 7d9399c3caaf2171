// Appending one box of 60 rows to the day's workbook when it already holds many
// rows, fsync included, beside the floor: writing and fsyncing a file of the
// resulting size through the same atomic replace. Prints "figure_name: value unit".
//   bench_export                 all sizes, and the peak memory at 65,000 rows
//   bench_export --peak FOLDER   one export onto FOLDER's workbook; prints its peak memory
#include "platform/AtomicFile.h"
#include "platform/MemoryUse.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "packing/Box.h"
#include "station/DailyWorkbookExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kBoxRows = 60;
constexpr int kRuns = 21; // medians of many runs: the machines are shared and noisy
const QDate kDay(2026, 12, 7);

void fillBox(Box &box, int number)
{
    box.empty(0, 0);
    box.appendOuterLabel(QStringLiteral("W%1").arg(number, 5, 10, QLatin1Char('0')));
    for (int r = 1; r < kBoxRows; ++r) {
        if (r % 10 == 1)
            box.appendMiddleLabel(QStringLiteral("Z%1-%2").arg(number).arg(r));
        else
            box.appendPack(QStringLiteral("%1%2").arg(number, 6, 10, QLatin1Char('0')).arg(r, 4, 10, QLatin1Char('0')));
    }
}

QString workbookIn(const QString &folder)
{
    return folder + QStringLiteral("/files/20261207.xls");
}

// A day workbook whose first sheet already holds that many box rows, made the way
// the station makes it: box after box.
void prepare(const QString &folder, int rows)
{
    QFile::remove(workbookIn(folder));
    xls::NativeWorkbookFile file;
    file.create(workbookIn(folder));
    std::vector<WorkbookFile::Row> all;
    for (int r = 1; r < rows; ++r) {
        WorkbookFile::Row row;
        row[size_t(r % 60 == 1 ? 0 : r % 10 == 2 ? 1 : 2)] = QStringLiteral("B%1").arg(r, 8, 10, QLatin1Char('0'));
        all.push_back(row);
    }
    if (!all.empty())
        file.appendRows(all);
    else
        file.appendRows({WorkbookFile::Row()});
    file.replaceFile();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double peakMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    memoryuse::returnLargeBuffersToTheSystem(); // as the program does
    QCoreApplication app(argc, argv);
    program::setClock([] { return QDateTime(kDay, QTime(10, 0)); });
    if (argc == 3 && QByteArray(argv[1]) == "--peak") {
        program::setFolder(QString::fromLocal8Bit(argv[2]));
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Box box;
        fillBox(box, 1);
        daily.exportBox(box, {});
        std::printf("%.1f\n", peakMiB());
        return 0;
    }

    // In the working folder, not /tmp: /tmp may be a RAM disk where fsync costs nothing.
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-export-XXXXXX"));
    program::setFolder(dir.path());
    QDir(dir.path()).mkdir(QStringLiteral("files"));
    Box box;

    for (int rows : {0, 1000, 10000, 30000, 65000}) {
        std::vector<double> first, following, floor;
        for (int run = 0; run < kRuns; ++run) {
            prepare(dir.path(), rows);
            xls::NativeWorkbookFile file; // a station just started
            DailyWorkbookExport daily(file);
            fillBox(box, run);
            QElapsedTimer t;
            t.start();
            daily.exportBox(box, {});
            first.push_back(t.nsecsElapsed() / 1e6);
            fillBox(box, run + 100); // the next box of the same station
            t.restart();
            daily.exportBox(box, {});
            following.push_back(t.nsecsElapsed() / 1e6);

            const QByteArray same(qsizetype(QFileInfo(workbookIn(dir.path())).size()), 'x');
            t.restart();
            replaceFileAtomically(dir.path() + QStringLiteral("/files/floor.bin"), same);
            floor.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("export_60_rows_onto_%d_rows_first: %.1f ms\n", rows, median(first));
        std::printf("export_60_rows_onto_%d_rows_following: %.1f ms\n", rows, median(following));
        std::printf("export_60_rows_onto_%d_rows_floor: %.1f ms\n", rows, median(floor));
    }

    // The peak memory of one export onto 65,000 rows, in a process of its own.
    prepare(dir.path(), 65000);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), dir.path()});
    child.waitForFinished(-1);
    std::printf("export_peak_memory_65000_rows: %s MiB\n", child.readAllStandardOutput().trimmed().constData());
    return 0;
}
