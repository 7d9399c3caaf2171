// The check at Start whether the next outer label was used today: reading column A
// of a day workbook of 65,000 rows. Prints "figure_name: value unit" lines.
#include "platform/AtomicFile.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "support/OleContainer.h"
#include "platform/xls/WorkbookData.h"
#include "station/files/DayWorkbooks.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kRows = 65000;
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-labels-XXXXXX"));
    QDir(dir.path()).mkdir(QStringLiteral("files"));
    const QDate day(2026, 12, 7);

    // Boxes of 60 rows: an outer label, middle labels, packs.
    xls::Workbook book;
    book.sheets.resize(1);
    for (int r = 1; r < kRows; ++r) {
        xls::Cell cell;
        cell.kind = xls::Cell::Text;
        const int box = r / 60;
        const int column = r % 60 == 1 ? 0 : r % 10 == 2 ? 1 : 2;
        cell.text = column == 0 ? QStringLiteral("W%1").arg(box, 5, 10, QLatin1Char('0'))
                                : QStringLiteral("C%1").arg(r, 9, 10, QLatin1Char('0'));
        book.sheets[0].set(r, column, cell);
    }
    replaceFileAtomically(dayworkbooks::path(dir.path(), day).replace(QLatin1Char('\\'), QLatin1Char('/')),
                          xls::compoundDocument(xls::workbookStream(book)));

    std::vector<double> ms;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer t;
        t.start();
        const auto use = dayworkbooks::findOuterLabel(dir.path(), day, QStringLiteral("W99999")); // not there: every row read
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (use)
            return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("start_label_check_65000_rows: %.1f ms\n", ms[ms.size() / 2]);
    return 0;
}
