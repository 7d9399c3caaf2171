// Time to append one box of 60 rows to the day's workbook when it already holds
// many rows, fsync included. Prints "figure_name: value unit" lines.
#include "platform/ProgramEnvironment.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "platform/xls/OleContainer.h"
#include "platform/xls/WorkbookData.h"
#include "platform/AtomicFile.h"
#include "station/Box.h"
#include "station/DailyWorkbookExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kBoxRows = 60;
constexpr int kRuns = 7;

void fillBox(Box &grid, int box)
{
    grid.empty(0, 0);
    grid.appendOuterLabel(QStringLiteral("W%1").arg(box, 5, 10, QLatin1Char('0')));
    for (int r = 1; r < kBoxRows; ++r) {
        if (r % 10 == 1)
            grid.appendMiddleLabel(QStringLiteral("Z%1-%2").arg(box).arg(r));
        else
            grid.appendPack(QStringLiteral("%1%2").arg(box, 6, 10, QLatin1Char('0')).arg(r, 4, 10, QLatin1Char('0')));
    }
}

// A workbook whose first sheet already holds that many box rows.
void prepare(const QString &path, int rows)
{
    xls::Workbook book;
    book.sheets.resize(1);
    book.sheets[0].name = QStringLiteral("Sheet1");
    for (int r = 1; r <= rows; ++r) {
        xls::Cell c;
        c.kind = xls::Cell::Text;
        c.text = QStringLiteral("B%1").arg(r, 8, 10, QLatin1Char('0'));
        xls::Cell blank;
        blank.kind = xls::Cell::Blank;
        book.sheets[0].set(r, 0, blank);
        book.sheets[0].set(r, 1, blank);
        book.sheets[0].set(r, 2, c);
    }
    replaceFileAtomically(path, xls::compoundDocument(xls::workbookStream(book)));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // In the working folder, not /tmp: /tmp may be a RAM disk where fsync costs nothing.
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-export-XXXXXX"));
    program::setFolder(dir.path());
    program::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0)); });
    QDir(dir.path()).mkdir(QStringLiteral("files"));
    const QString path = dir.path() + QStringLiteral("/files/20261207.xls");
    Box grid;

    for (int rows : {0, 1000, 10000, 30000, 60000}) {
        std::vector<double> cold, warm;
        for (int run = 0; run < kRuns; ++run) {
            prepare(path, rows);
            xls::NativeWorkbookFile file; // a station just started
            DailyWorkbookExport daily(file);
            fillBox(grid, run);
            QElapsedTimer t;
            t.start();
            daily.exportBox(grid);
            cold.push_back(t.nsecsElapsed() / 1e6);
            fillBox(grid, run + 100); // the next box of the same station
            t.restart();
            daily.exportBox(grid);
            warm.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("export_60_rows_onto_%d_rows_first: %.1f ms\n", rows, median(cold));
        std::printf("export_60_rows_onto_%d_rows_following: %.1f ms\n", rows, median(warm));
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("export_peak_memory_60000_rows: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
