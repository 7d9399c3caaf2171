// zantrel-find: which box holds a pack? Searches every workbook in files/ of the
// program folder (all days, continuation workbooks, unfinished boxes).
//
//   zantrel-find BARCODE...          one line per occurrence
//   zantrel-find --box W003          every pack of that outer box
//   --folder DIR                     another program folder (default: this program's)
//   --db URL                         the plant record instead: every station's boxes
//   zantrel-find --db URL --lot GTIN LOT   a recall: every box holding packs of that lot now
//   zantrel-find --db URL --gtin GTIN      the lots of that product, with their packs and boxes
//   zantrel-find --db URL --batch BATCH    every box of that batch
//
// Each line: workbook, sheet row, outer label, middle label, barcode, separated by tabs;
// with --db the station follows (in a company's database as "plant / station").
// A recall's line: outer label, station, when written, packs of the lot, middle labels;
// a product's: lot ("" for packs without one), packs, boxes; a batch's: outer label,
// station, when written, packs now, and "after-end" for a box received after the batch ended.
// Exit status: 0 found; 1 not found, and every workbook was read; 3 not found, but
// some workbooks could not be read (each named on stderr with the reason), so the
// pack may be in one of them; 2 an error (told on stderr).
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "station/files/DayWorkbooks.h"
#include "plant/Batches.h"
#include "plant/PackLocations.h"
#include "plant/Recall.h"
#include "packing/Gs1Rules.h"
#include "station/files/PackSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kError = 2;
constexpr int kNotFoundSomeUnread = 3;

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

void usage()
{
    std::fprintf(stderr, "用法：zantrel-find [--folder 程序文件夹 | --db 数据库] 条码...\n"
                         "      zantrel-find [--folder 程序文件夹 | --db 数据库] --box 外箱号\n"
                         "      zantrel-find --db 数据库 --lot 产品代码 批号\n"
                         "      zantrel-find --db 数据库 --gtin 产品代码\n"
                         "      zantrel-find --db 数据库 --batch 批次号\n");
}

// Every box of a batch as the plant record has it now.
int batchFromPlantRecord(const QString &url, const QString &number)
{
    try {
        const std::unique_ptr<database::Connection> db = database::connect(url);
        const std::vector<batches::BatchBox> boxes = batches::boxesOf(*db, number);
        for (const batches::BatchBox &b : boxes)
            std::printf("%s\t%s\t%s\t%lld\t%s\n", local(b.outerLabel).constData(), local(b.station).constData(),
                        local(b.writtenAt).constData(), static_cast<long long>(b.packs), b.afterEnd ? "after-end" : "");
        return boxes.empty() ? kNotFound : kFound;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-find：%s\n", local(e.description()).constData());
        return kError;
    }
}

// Every box of a lot, or every lot of a product, as the plant record has them now.
int recallFromPlantRecord(const QString &url, const QString &gtin, const std::optional<QString> &lot)
{
    try {
        const std::unique_ptr<database::Connection> db = database::connect(url);
        if (lot) {
            const std::vector<recall::Box> boxes = recall::boxesOf(*db, gtin, *lot);
            for (const recall::Box &b : boxes)
                std::printf("%s\t%s\t%s\t%d\t%s\n", local(b.outerLabel).constData(), local(b.station).constData(),
                            local(b.writtenAt).constData(), b.packs, local(b.middles).constData());
            return boxes.empty() ? kNotFound : kFound;
        }
        const std::vector<recall::Lot> lots = recall::lotsOf(*db, gtin);
        for (const recall::Lot &l : lots)
            std::printf("%s\t%d\t%d\n", local(l.lot).constData(), l.packs, l.boxes);
        return lots.empty() ? kNotFound : kFound;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-find：%s\n", local(e.description()).constData());
        return kError;
    }
}

// The plant record's pack_locations, every station's boxes; one query per barcode.
int findInPlantRecord(const QString &url, const QString &box, const QSet<QString> &barcodes)
{
    std::vector<packlocations::Location> found;
    try {
        const std::unique_ptr<database::Connection> db = database::connect(url);
        if (!box.isEmpty()) {
            found = packlocations::byOuterLabel(*db, box);
        } else {
            QStringList sorted(barcodes.begin(), barcodes.end());
            sorted.sort();
            for (const QString &barcode : sorted)
                for (packlocations::Location &l : packlocations::byBarcode(*db, barcode))
                    found.push_back(std::move(l));
        }
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-find：%s\n", local(e.description()).constData());
        return kError;
    }
    for (const packlocations::Location &l : found)
        // A pack put in by hand has no sheet row: "-", never a row 0 that does not exist.
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", local(l.workbook).constData(),
                    l.sheetRow > 0 ? QByteArray::number(l.sheetRow).constData() : "-", local(l.outerLabel).constData(),
                    local(l.middleLabel).constData(), local(l.barcode).constData(), local(l.station).constData());
    return found.empty() ? kNotFound : kFound;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString folder = QCoreApplication::applicationDirPath();
    QString box;
    QString db;
    QSet<QString> barcodes;
    QString gtin;
    std::optional<QString> lot;
    QString batch;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--folder") && i + 1 < args.size()) {
            folder = args[++i];
        } else if (args[i] == QLatin1String("--db") && i + 1 < args.size()) {
            db = args[++i];
        } else if (args[i] == QLatin1String("--box") && i + 1 < args.size()) {
            box = args[++i];
        } else if (args[i] == QLatin1String("--lot") && i + 2 < args.size()) {
            gtin = args[++i];
            lot = args[++i];
        } else if (args[i] == QLatin1String("--gtin") && i + 1 < args.size()) {
            gtin = args[++i];
        } else if (args[i] == QLatin1String("--batch") && i + 1 < args.size()) {
            batch = args[++i];
        } else if (args[i] == QLatin1String("--help") || args[i].startsWith(QLatin1String("--"))) {
            usage();
            return kError;
        } else {
            barcodes.insert(args[i]);
        }
    }
    if (!batch.isEmpty()) {
        if (db.isEmpty() || !gtin.isEmpty() || !box.isEmpty() || !barcodes.isEmpty()) {
            usage();
            return kError;
        }
        return batchFromPlantRecord(db, batch);
    }
    if (!gtin.isEmpty()) {
        if (db.isEmpty() || !box.isEmpty() || !barcodes.isEmpty()) {
            usage();
            return kError;
        }
        return recallFromPlantRecord(db, gtin, lot);
    }
    if (box.isEmpty() == barcodes.isEmpty()) {
        usage();
        return kError;
    }
    if (!db.isEmpty())
        return findInPlantRecord(db, box, barcodes);
    const QString files = dayworkbooks::filesFolder(folder);
    if (!QDir(files).exists()) {
        std::fprintf(stderr, "zantrel-find：找不到文件夹 %s\n", local(QDir::toNativeSeparators(files)).constData());
        return kError;
    }

    // A progress line on a terminal, once a search takes longer than a second.
    const bool terminal = ::isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    bool progressShown = false;
    int skipped = 0;
    // A pack is asked for by its identity, as the station keys it: a GS1 pack by its
    // product and serial, however it was scanned or typed here.
    const QDate today = QDate::currentDate();
    QSet<QString> wanted;
    for (const QString &b : barcodes)
        wanted.insert(gs1rules::packTyped(b, today).identity());
    const auto found = packsearch::search(
        files,
        [&](const packsearch::Listed &p) {
            return box.isEmpty() ? wanted.contains(gs1rules::listedPack(p.pack.text(), today).identity()) : p.outerLabel == box;
        },
        [&](const QString &, const QString &why) {
            ++skipped; // the reason names the file
            std::fprintf(stderr, "zantrel-find：警告：%s。已跳过。\n", local(why).constData());
        },
        [&](int done, int total) {
            if (!terminal || clock.elapsed() < 1000)
                return;
            progressShown = true;
            std::fprintf(stderr, "\r已搜索 %d / %d 个工作簿…", done, total);
        });
    if (progressShown)
        std::fprintf(stderr, "\r\033[K");
    for (const packsearch::Listed &p : found)
        std::printf("%s\t%d\t%s\t%s\t%s\n", local(p.workbook).constData(), p.row, local(p.outerLabel).constData(),
                    local(p.middleLabel).constData(), local(p.pack.text()).constData());
    if (!found.empty())
        return kFound;
    if (skipped > 0) {
        std::fprintf(stderr, "zantrel-find：没有找到，但有 %d 个工作簿无法读取，结果可能不完整。\n", skipped);
        return kNotFoundSomeUnread;
    }
    return kNotFound;
}
