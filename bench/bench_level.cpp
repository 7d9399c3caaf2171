// Bringing the plant record level with a station's workbooks: a full day of 65,000
// sheet rows (6,500 boxes of 5 packs in two middle boxes) read back and compared with
// the record, once when the record lacks every box and again when it holds them all
// (the usual case, every five minutes). Prints the read, the comparison and the whole.
#include "BenchDatabase.h"
#include "support/OleContainer.h"

#include "plant/Outbox.h"
#include "plant/PlantSender.h"
#include "plant/WorkbookBoxes.h"
#include "platform/AtomicFile.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/WorkbookData.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kBoxes = 6500;
constexpr int kRowsPerBox = 10; // the outer label, two middle labels, 3 and 4 packs

xls::Cell text(const QString &s)
{
    xls::Cell c;
    c.kind = xls::Cell::Text;
    c.text = s;
    return c;
}

// files/<today>.xls with kBoxes boxes from sheet row 2 on.
void writeDay(const QString &folder)
{
    xls::Workbook book;
    book.sheets.resize(1);
    xls::Sheet &sheet = book.sheets[0];
    int32_t row = 1; // sheet row 2
    for (int b = 0; b < kBoxes; ++b) {
        sheet.set(row++, 0, text(QStringLiteral("W%1").arg(b, 6, 10, QLatin1Char('0'))));
        for (int m = 0; m < 2; ++m) {
            sheet.set(row++, 1, text(QStringLiteral("Z%1").arg(2 * b + m, 6, 10, QLatin1Char('0'))));
            for (int p = 0; p < (kRowsPerBox - 3) / 2 + m; ++p)
                sheet.set(row++, 2, text(QStringLiteral("P%1-%2-%3").arg(b).arg(m).arg(p)));
        }
    }
    QDir(folder).mkdir(QStringLiteral("files"));
    const QString path = QStringLiteral("%1/files/%2.xls").arg(folder, QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    replaceFileAtomically(path, xls::compoundDocument(xls::workbookStream(book)));
    std::printf("sheet_rows: %d rows\n", row);
}

void pass(const char *name, const QString &folder, PlantSender &sender)
{
    QElapsedTimer whole;
    whole.start();
    const workbookboxes::Found found = workbookboxes::read(folder, QStringLiteral("bench-level"), QDate::currentDate().addDays(-1));
    const qint64 read = whole.elapsed();
    const PlantSender::Levelled levelled = sender.bringLevel(found.boxes);
    if (!levelled.why.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(levelled.why));
    std::printf("%s_boxes_in_workbooks: %zu boxes\n", name, found.boxes.size());
    std::printf("%s_delivered: %d boxes\n", name, levelled.delivered);
    std::printf("%s_read_workbooks: %lld ms\n", name, read);
    std::printf("%s_compare_and_deliver: %lld ms\n", name, whole.elapsed() - read);
    std::printf("%s_total: %lld ms\n", name, whole.elapsed());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PgServer server;
    const QString name = benchDatabase(server, QStringLiteral("level"));
    QTemporaryDir folder;
    writeDay(folder.path());
    Outbox outbox(folder.path());
    PlantSender sender(server.url(QStringLiteral("line3"), name), QStringLiteral("bench-level"), outbox, 60);
    pass("record_empty", folder.path(), sender);
    pass("record_level", folder.path(), sender);
    return 0;
}
