// zantrel-db: the plant record's schema, made and shown from the command line.
//
//   zantrel-db init URL        creates or updates the schema zantrel and the group roles
//                              zantrel_station and zantrel_reader; run again, it changes nothing
//   zantrel-db status URL      every station: boxes today, the last box and its time, when
//                              it was last heard from
//   zantrel-db conflicts URL   the packs found in two boxes that nobody has decided on yet
//
// URL is a libpq connection string or URI (service=…, postgresql://…); passwords come
// from libpq's password or service file. Exit status: 0 done, 2 an error (told on stderr).
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

constexpr int kDone = 0;
constexpr int kError = 2;

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

int init(database::Connection &db)
{
    const int before = plantschema::installedVersion(db);
    const QStringList done = plantschema::migrate(db);
    for (const QString &line : done)
        std::printf("%s\n", local(line).constData());
    const int after = plantschema::installedVersion(db);
    if (done.isEmpty())
        std::printf("schema zantrel is at version %d: nothing to do\n", after);
    else
        std::printf("schema zantrel: version %d -> %d; roles zantrel_station, zantrel_reader and zantrel_supervisor ready\n", before, after);
    return kDone;
}

// A header line and the rows, tab-separated; "-" for NULL.
void printTable(const char *header, const std::vector<database::Row> &rows)
{
    std::printf("%s\n", header);
    for (const database::Row &row : rows) {
        QStringList cells;
        for (const auto &cell : row)
            cells << cell.value_or(QStringLiteral("-"));
        std::printf("%s\n", local(cells.join(QLatin1Char('\t'))).constData());
    }
}

int status(database::Connection &db)
{
    const int installed = plantschema::installedVersion(db);
    if (installed == 0) {
        std::fprintf(stderr, "zantrel-db：数据库中没有 zantrel 架构，请先运行 zantrel-db init\n");
        return kError;
    }
    const auto rows = db.run(QStringLiteral(
        "WITH names AS (SELECT station FROM zantrel.boxes UNION SELECT station FROM zantrel.station_state),"
        " today AS (SELECT station, count(*) AS boxes FROM zantrel.boxes"
        "           WHERE written_at >= date_trunc('day', now()) GROUP BY station),"
        " last AS (SELECT DISTINCT ON (station) station, outer_label, written_at FROM zantrel.boxes"
        "          ORDER BY station, written_at DESC)"
        " SELECT n.station, coalesce(t.boxes, 0), coalesce(l.outer_label, '-'),"
        "        coalesce(to_char(l.written_at, 'YYYY-MM-DD HH24:MI:SS'), '-'),"
        "        coalesce(to_char(s.heard_at, 'YYYY-MM-DD HH24:MI:SS'), '-'), coalesce(s.backlog::text, '-')"
        " FROM names n LEFT JOIN today t USING (station) LEFT JOIN last l USING (station)"
        " LEFT JOIN zantrel.station_state s USING (station) ORDER BY n.station"));
    printTable("station\tboxes today\tlast box\tlast box at\tlast heard\tbacklog", rows);
    return kDone;
}

int conflicts(database::Connection &db)
{
    if (plantschema::installedVersion(db) < 2) {
        std::fprintf(stderr, "zantrel-db：数据库中的 zantrel 架构没有重复记录，请先运行 zantrel-db init\n");
        return kError;
    }
    const auto rows = db.run(QStringLiteral(
        "SELECT barcode, first_station, first_box, to_char(first_written, 'YYYY-MM-DD HH24:MI:SS'),"
        "       second_station, second_box, to_char(second_written, 'YYYY-MM-DD HH24:MI:SS')"
        " FROM zantrel.conflicts WHERE NOT settled ORDER BY found_at, barcode"));
    printTable("barcode\tfirst station\tfirst box\tfirst written\tsecond station\tsecond box\tsecond written", rows);
    return kDone;
}

void usage()
{
    std::fprintf(stderr, "用法：zantrel-db init URL\n      zantrel-db status URL\n      zantrel-db conflicts URL\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QStringList commands{QStringLiteral("init"), QStringLiteral("status"), QStringLiteral("conflicts")};
    if (args.size() != 2 || !commands.contains(args[0])) {
        usage();
        return kError;
    }
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[1]);
        if (args[0] == QLatin1String("init"))
            return init(*db);
        return args[0] == QLatin1String("status") ? status(*db) : conflicts(*db);
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
        return kError;
    }
}
