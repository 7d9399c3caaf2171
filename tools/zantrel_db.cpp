// zantrel-db: the plant record's schema, made and shown from the command line. Each
// command's arguments are written once, in usage() below; what the commands do:
//
//   init              creates or updates the schema zantrel and the group roles
//                     zantrel_station and zantrel_reader; run again, it changes nothing
//   status            every station: boxes today, the last box and its time, when it was
//                     last heard from
//   conflicts         the packs found in two boxes that nobody has decided on yet
//   station add       the station NAME belongs to LOGIN: only that login may add its boxes,
//                     its state and its conflicts
//   backfill          brings the record level with a station's workbooks: every box of
//                     DIR/files/yyyymmdd*.xls that the record lacks for station S (default:
//                     as the station in DIR calls itself) is recorded
//   rework            a change to a recorded box, by a login in zantrel_rework; the box is an
//                     outer label (with --station where several stations used it) or a box
//                     id; prints the change's id
//   batch add         a batch released for a line, by a login in zantrel_planner: its
//                     product, lot and expiry (optional), planned packs, box sizes (optional)
//   batch hold|resume|close|abort  a batch's state changed, by a login in zantrel_planner;
//                     close says the packs against plan
//   batch list        every batch (of a line), a tab-separated line each: number, line,
//                     state, planned, packed (in its boxes now), product, lot, expiry
//   operator add      an operator (工号, name, role) with a password, signed by an admin (--by;
//                     the record's first admin without, by a login that owns the schema)
//   operator passwd|disable|enable  a new password, or the operator disabled or enabled again,
//                     signed by an admin; passwords are typed without echo, or read a line each
//                     from standard input when it is no terminal (the new one, then the signer's)
//   operator list     every operator: 工号, name, role, active or disabled, locked until
//   epcis             the boxes written and the changes made in [from, to) as one EPCIS 2.0
//                     JSON-LD document on stdout; a time as 2026-12-08 or 2026-12-08T06:00[+08:00]
//   company init      makes the database at URL a company's: the records of several plants,
//                     received by PostgreSQL's logical replication
//   company add-plant the company database follows the plant record at PLANT_URL (as the
//                     company's server reaches it; wal_level = logical there), under its
//                     name; as a superuser of the company's server
//   company drop-plant the company stops following that plant and forgets its rows (added
//                     again, it is copied whole: after the plant's own failover)
//
// URL is a libpq connection string or URI (service=…, postgresql://…); passwords come
// from libpq's password or service file. Exit status: 0 done, 2 an error (told on stderr).
#include "company/CompanyRecord.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "platform/StandardOutput.h"
#include "plant/Batches.h"
#include "plant/Epcis.h"
#include "plant/Operators.h"
#include "platform/SecretInput.h"
#include "platform/PasswordHash.h"
#include "platform/RegularFile.h"
#include "plant/PlantSchema.h"
#include "plant/PlantSender.h"
#include "plant/PlantSettings.h"
#include "plant/Rework.h"
#include "plant/WorkbookBoxes.h"
#include "platform/ProgramEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QUrl>
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
    if (company::isCompany(db)) {
        std::fprintf(stderr, "zantrel-db：这是公司汇总库，不是工厂的记录：请用 zantrel-db company init\n");
        return kError;
    }
    const int before = plantschema::installedVersion(db);
    const QStringList done = plantschema::migrate(db);
    for (const QString &line : done)
        std::printf("%s\n", local(line).constData());
    const int after = plantschema::installedVersion(db);
    if (done.isEmpty())
        std::printf("schema zantrel is at version %d: nothing to do\n", after);
    else
        std::printf("schema zantrel: version %d -> %d; roles zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework and zantrel_planner ready\n", before, after);
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
        "        coalesce(to_char(s.heard_at, 'YYYY-MM-DD HH24:MI:SS'), '-'), coalesce(s.backlog::text, '-')%1"
        " FROM names n LEFT JOIN today t USING (station) LEFT JOIN last l USING (station)"
        " LEFT JOIN zantrel.station_state s USING (station) ORDER BY n.station")
                                 .arg(installed >= 4 ? QStringLiteral(", coalesce(s.clock_skew::text, '-'), coalesce(nullif(s.refused, ''), '-')") : QString()));
    printTable(installed >= 4 ? "station\tboxes today\tlast box\tlast box at\tlast heard\tbacklog\tclock ahead (s)\trefused by the record"
                              : "station\tboxes today\tlast box\tlast box at\tlast heard\tbacklog",
               rows);
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

int backfill(const QString &url, const QString &folder, QString station)
{
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "zantrel-db：%s 不是文件夹\n", local(folder).constData());
        return kError;
    }
    program::setFolder(folder); // its config.ini names the station
    if (station.isEmpty())
        station = plant::readSettings(folder).station;
    const workbookboxes::Found found = workbookboxes::read(folder, station, QDate());
    for (const QString &why : found.unreadable)
        std::fprintf(stderr, "zantrel-db：%s\n", local(why).constData());
    Outbox untouched(folder); // the station's own outbox: read by the station, never here
    PlantSender sender(url, station, untouched, 30);
    const PlantSender::Levelled levelled = sender.bringLevel(found.boxes);
    if (!levelled.why.isEmpty()) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(levelled.why).constData());
        return kError;
    }
    std::printf("station %s: %d boxes in the workbooks, %d of them recorded now\n", local(station).constData(),
                int(found.boxes.size()), levelled.delivered);
    for (const PlantSender::Conflict &c : levelled.conflicts)
        std::printf("conflict\t%s\t%s\t%s\t%s\n", local(c.barcode).constData(), local(c.ourBox).constData(),
                    local(c.otherStation).constData(), local(c.otherBox).constData());
    // Some workbooks could not be read: their boxes may still be missing.
    return found.unreadable.isEmpty() ? kDone : 3;
}

// Once the record has operators, --by is a 工号 whose holder signs with his password (typed
// without echo, or a line of standard input): the name recorded is his, the 工号 signs.
// Raises as operators::sign does; false (told) when no password was given.
bool signIn(database::Connection &db, QString &person, QString &signer, const std::vector<operators::Role> &roles)
{
    if (!operators::any(db))
        return true;
    SecretInput input;
    std::optional<QString> password = input.next(QStringLiteral("工号 %1 的密码：").arg(person));
    if (!password) {
        std::fprintf(stderr, "zantrel-db：中央记录有操作员：--by 须为工号，且要输入其密码；没有读到密码，未作任何修改\n");
        return false;
    }
    const operators::Operator who = operators::sign(db, person, *password, roles, QStringLiteral("zantrel-db"));
    passwordhash::wipe(*password);
    signer = who.id;
    person = who.name;
    return true;
}

int reworkCommand(const QStringList &args)
{
    // rework URL KIND BOX [BARCODE] --by … --reason … [--note …] [--station …] [--middle … [--new-middle]]
    if (args.size() < 4)
        return -1;
    const std::optional<rework::Kind> kind = changekind::named(args[2]);
    if (!kind)
        return -1;
    rework::Change c;
    c.kind = *kind;
    c.box = args[3];
    qsizetype i = 4;
    if (*kind == rework::Kind::TakeOut || *kind == rework::Kind::PutIn) {
        if (args.size() < 5 || args[4].startsWith(QLatin1String("--")))
            return -1;
        c.barcode = args[i++];
    }
    for (; i < args.size(); i += 2) {
        const QString &option = args[i];
        if (option == QLatin1String("--new-middle") && *kind == rework::Kind::PutIn) {
            c.newMiddle = true;
            --i; // a flag: no value follows
            continue;
        }
        if (i + 1 >= args.size())
            return -1;
        QString *into = option == QLatin1String("--by")        ? &c.person
                        : option == QLatin1String("--reason")  ? &c.reason
                        : option == QLatin1String("--note")    ? &c.note
                        : option == QLatin1String("--station") ? &c.station
                        : option == QLatin1String("--middle") && *kind == rework::Kind::PutIn ? &c.middle
                                                                                            : nullptr;
        if (!into)
            return -1;
        *into = args[i + 1];
    }
    if (i != args.size() || c.person.isEmpty() || c.reason.isEmpty())
        return -1;
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[1]);
        QString signer;
        if (!signIn(*db, c.person, signer, {operators::Role::Supervisor, operators::Role::Qa}))
            return kError;
        std::printf("%lld\n", static_cast<long long>(rework::record(*db, c, signer)));
        return kDone;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
        return kError;
    }
}

// A number option's value: a whole number in [low, high], else nothing.
std::optional<int> wholeIn(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
}

void printBatch(const Batch &b)
{
    const auto cell = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    std::printf("%s\n", local(QStringList{b.number, b.line, batchstate::word(b.state), QString::number(b.planned), QString::number(b.packed),
                                          cell(b.gtin), cell(b.lot), cell(b.expiry)}
                                  .join(QLatin1Char('\t')))
                             .constData());
}

int batchCommand(const QStringList &args)
{
    // batch add|hold|resume|close|abort|list URL [BATCH] options…
    if (args.size() < 3)
        return -1;
    const QString &what = args[1];
    const bool adding = what == QLatin1String("add"), listing = what == QLatin1String("list");
    const std::optional<batches::Change> change = batches::named(what);
    if (!adding && !listing && !change)
        return -1;
    qsizetype i = 3;
    Batch b;
    if (!listing) {
        if (args.size() < 4 || args[3].startsWith(QLatin1String("--")))
            return -1;
        b.number = args[i++];
    }
    QString person, reason, line;
    for (; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return -1;
        const QString &option = args[i], &value = args[i + 1];
        if (option == QLatin1String("--line") && (adding || listing))
            (adding ? b.line : line) = value;
        else if (option == QLatin1String("--by") && !listing)
            person = value;
        else if (option == QLatin1String("--reason") && change)
            reason = value;
        else if (adding && option == QLatin1String("--gtin"))
            b.gtin = value;
        else if (adding && option == QLatin1String("--lot"))
            b.lot = value;
        else if (adding && option == QLatin1String("--expiry"))
            b.expiry = value;
        else if (adding && option == QLatin1String("--made"))
            b.made = value;
        else if (adding && (option == QLatin1String("--planned") || option == QLatin1String("--per-middle")
                            || option == QLatin1String("--per-outer"))) {
            const bool planned = option == QLatin1String("--planned");
            const std::optional<int> n = wholeIn(value, 1, planned ? INT32_MAX : INT16_MAX);
            if (!n) {
                std::fprintf(stderr, "zantrel-db：%s 须为 1 到 %d 之间的整数，现为“%s”\n", local(option).constData(),
                             planned ? INT32_MAX : INT16_MAX, local(value).constData());
                return kError;
            }
            if (planned)
                b.planned = *n;
            else
                (option == QLatin1String("--per-middle") ? b.perMiddle : b.perOuter) = int16_t(*n);
        } else
            return -1;
    }
    if (!listing && person.isEmpty())
        return -1;
    if (adding && (b.line.isEmpty() || b.planned == 0))
        return -1;
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[2]);
        if (listing) {
            for (const Batch &one : batches::list(*db, line))
                printBatch(one);
            return kDone;
        }
        QString signer;
        if (!signIn(*db, person, signer, {operators::Role::Supervisor, operators::Role::Admin}))
            return kError;
        if (adding) {
            batches::add(*db, b, person, signer);
            std::printf("batch %s released on line %s: %d packs planned\n", local(b.number).constData(), local(b.line).constData(),
                        int(b.planned));
            return kDone;
        }
        const Batch now = batches::change(*db, b.number, *change, person, reason, signer);
        std::printf("batch %s is %s: %lld of %d planned packs%s\n", local(now.number).constData(),
                    local(batchstate::word(now.state)).constData(), static_cast<long long>(now.packed), int(now.planned),
                    now.packed > now.planned   ? local(QStringLiteral(" (%1 over plan)").arg(now.packed - now.planned)).constData()
                    : now.packed < now.planned ? local(QStringLiteral(" (%1 short)").arg(now.planned - now.packed)).constData()
                                               : "");
        return kDone;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
        return kError;
    }
}

// A new password: typed twice at a terminal, or one line of standard input.
std::optional<QString> newPassword(SecretInput &input, const QString &id)
{
    std::optional<QString> first = input.next(QStringLiteral("工号 %1 的新密码：").arg(id));
    if (!first)
        return std::nullopt;
    if (!input.typed())
        return first;
    std::optional<QString> again = input.next(QStringLiteral("再输入一次："));
    if (!again || *again != *first) {
        std::fprintf(stderr, "zantrel-db：两次输入的密码不同，未作任何修改\n");
        passwordhash::wipe(*first);
        return std::nullopt;
    }
    passwordhash::wipe(*again);
    return first;
}

int operatorCommand(const QStringList &args)
{
    // operator add|passwd|disable|enable URL ID [--name N --role R] [--by ADMIN]; operator list URL
    if (args.size() < 3)
        return -1;
    const QString &what = args[1];
    if (what == QLatin1String("list")) {
        if (args.size() != 3)
            return -1;
        try {
            const std::unique_ptr<database::Connection> db = database::connect(args[2]);
            for (const operators::Operator &o : operators::list(*db))
                std::printf("%s\n", local(QStringList{o.id, o.name, operators::word(o.role), o.active ? QStringLiteral("active") : QStringLiteral("disabled"),
                                                      o.lockedUntil.isValid() ? o.lockedUntil.toLocalTime().toString(Qt::ISODate) : QStringLiteral("-")}
                                              .join(QLatin1Char('\t')))
                                         .constData());
            return kDone;
        } catch (const RuntimeError &e) {
            std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
            return kError;
        }
    }
    const QStringList kinds{QStringLiteral("add"), QStringLiteral("passwd"), QStringLiteral("disable"), QStringLiteral("enable")};
    if (!kinds.contains(what) || args.size() < 4 || args[3].startsWith(QLatin1String("--")))
        return -1;
    const QString id = args[3];
    QString name, role, by;
    for (qsizetype i = 4; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return -1;
        const QString &option = args[i], &value = args[i + 1];
        if (option == QLatin1String("--by"))
            by = value;
        else if (what == QLatin1String("add") && option == QLatin1String("--name"))
            name = value;
        else if (what == QLatin1String("add") && option == QLatin1String("--role"))
            role = value;
        else
            return -1;
    }
    const std::optional<operators::Role> r = operators::named(role);
    if ((what == QLatin1String("add") && (name.isEmpty() || !r)) || (what != QLatin1String("add") && by.isEmpty()))
        return -1;
    SecretInput input;
    std::optional<QString> password;
    if (what == QLatin1String("add") || what == QLatin1String("passwd")) {
        password = newPassword(input, id);
        if (!password) {
            std::fprintf(stderr, "zantrel-db：没有读到新密码，未作任何修改\n");
            return kError;
        }
    }
    std::optional<operators::Signer> signer;
    if (!by.isEmpty()) {
        std::optional<QString> theirs = input.next(QStringLiteral("管理员 %1 的密码：").arg(by));
        if (!theirs) {
            std::fprintf(stderr, "zantrel-db：没有读到管理员 %s 的密码，未作任何修改\n", local(by).constData());
            return kError;
        }
        signer = operators::Signer{by, *theirs};
        passwordhash::wipe(*theirs);
    }
    int status = kDone;
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[2]);
        if (what == QLatin1String("add"))
            operators::add(*db, id, name, *r, *password, signer);
        else if (what == QLatin1String("passwd"))
            operators::setPassword(*db, id, *password, *signer);
        else if (what == QLatin1String("disable"))
            operators::disable(*db, id, *signer);
        else
            operators::enable(*db, id, *signer);
        const QString done = what == QLatin1String("add")      ? QStringLiteral("added as ") + role
                             : what == QLatin1String("passwd") ? QStringLiteral("password set")
                                                               : what + QLatin1Char('d');
        std::printf("operator %s: %s\n", local(id).constData(), local(done).constData());
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
        status = kError;
    }
    if (password)
        passwordhash::wipe(*password);
    if (signer)
        passwordhash::wipe(signer->password);
    return status;
}

// 2026-12-08, 2026-12-08T06:00, 2026-12-08T06:00:00+08:00 …; without an offset, this machine's time.
QDateTime timeArgument(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid())
            t = QDateTime(day, QTime(0, 0));
    }
    return t;
}

// GS1's list is a few MiB; far beyond it is no such list.
constexpr int64_t kGcpTableLimit = 256ll << 20;

// GS1's list of company prefix lengths, from a file a person downloaded; told when it does not read.
bool readGcpTable(const QString &path, epcis::Options &o)
{
    QString why = QStringLiteral("没有这个文件");
    std::optional<QByteArray> bytes;
    try {
        bytes = regularfile::read(path, kGcpTableLimit);
    } catch (const RuntimeError &e) {
        why = e.description();
    }
    if (bytes)
        o.gcpTable = gs1uri::GcpLengths::fromJson(*bytes, &why);
    if (!bytes || !o.gcpTable) {
        std::fprintf(stderr, "zantrel-db：--gcp-table %s 无法使用：%s\n", local(path).constData(), local(why).constData());
        return false;
    }
    return true;
}

int epcisCommand(const QStringList &args)
{
    if (args.size() < 2)
        return -1;
    epcis::Options o;
    QStringList companies;
    for (qsizetype i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return -1;
        const QString &option = args[i], &value = args[i + 1];
        if (option == QLatin1String("--from"))
            o.from = timeArgument(value);
        else if (option == QLatin1String("--to"))
            o.to = timeArgument(value);
        else if (option == QLatin1String("--station"))
            o.station = value;
        else if (option == QLatin1String("--id-base"))
            o.idBase = value;
        else if (option == QLatin1String("--company-prefix-digits"))
            o.companyPrefixDigits = value.toInt();
        else if (option == QLatin1String("--gcp-length"))
            o.gcpLength = value.toInt();
        else if (option == QLatin1String("--gcp"))
            companies << value;
        else if (option == QLatin1String("--gcp-table")) {
            if (!readGcpTable(value, o))
                return kError;
        } else if (option == QLatin1String("--dl-base"))
            o.dlBase = value;
        else
            return -1;
    }
    if (!companies.isEmpty() && !o.gcpTable)
        o.gcpTable = gs1uri::GcpLengths();
    for (const QString &prefix : companies)
        if (!o.gcpTable->addCompany(prefix)) {
            std::fprintf(stderr, "zantrel-db：--gcp %s 不是 6 到 12 位数字的厂商识别代码\n", local(prefix).constData());
            return kError;
        }
    if (o.gcpLength && o.gcpTable) {
        std::fprintf(stderr, "zantrel-db：--gcp-length 不能与 --gcp 或 --gcp-table 同用：已知的厂商识别代码之外，一律用数字链接\n");
        return kError;
    }
    if (o.gcpLength && (*o.gcpLength < 6 || *o.gcpLength > 12)) {
        std::fprintf(stderr, "zantrel-db：--gcp-length 须在 6 到 12 之间\n");
        return kError;
    }
    const QUrl dl(o.dlBase, QUrl::StrictMode);
    if (!dl.isValid() || !dl.scheme().startsWith(QLatin1String("http")) || !o.dlBase.endsWith(QLatin1Char('/'))) {
        std::fprintf(stderr, "zantrel-db：--dl-base 须为以 / 结尾的 http(s) 地址，如 https://id.gs1.org/\n");
        return kError;
    }
    const QUrl base(o.idBase, QUrl::StrictMode);
    if (!o.from.isValid() || !o.to.isValid() || o.from >= o.to) {
        std::fprintf(stderr, "zantrel-db：--from 和 --to 须为时间（如 2026-12-08 或 2026-12-08T06:00+08:00），且 --from 早于 --to\n");
        return kError;
    }
    if (!base.isValid() || base.scheme().isEmpty() || !(o.idBase.endsWith(QLatin1Char('/')) || o.idBase.endsWith(QLatin1Char(':')))) {
        std::fprintf(stderr, "zantrel-db：--id-base 须为以 / 或 : 结尾的 URI，如 https://id.example.com/\n");
        return kError;
    }
    if (o.companyPrefixDigits < 6 || o.companyPrefixDigits > 12) {
        std::fprintf(stderr, "zantrel-db：--company-prefix-digits 须在 6 到 12 之间\n");
        return kError;
    }
    StandardOutput out; // a failed write raises in epcis::write, naming why
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[1]);
        const qint64 events = epcis::write(*db, o, out);
        std::fprintf(stderr, "zantrel-db：%lld 个 EPCIS 事件\n", static_cast<long long>(events));
        return kDone;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s（输出不完整，请勿使用）\n", local(e.description()).constData());
        return kError;
    }
}

int companyCommand(const QStringList &args)
{
    const bool initShape = args.size() == 3 && args[1] == QLatin1String("init");
    const bool addShape = args.size() == 5 && args[1] == QLatin1String("add-plant");
    const bool dropShape = args.size() == 4 && args[1] == QLatin1String("drop-plant");
    if (!initShape && !addShape && !dropShape)
        return -1;
    try {
        const std::unique_ptr<database::Connection> db = database::connect(args[2]);
        if (initShape) {
            const QStringList done = company::init(*db);
            for (const QString &line : done)
                std::printf("%s\n", local(line).constData());
            if (done.isEmpty())
                std::printf("company schema zantrel is up to date: nothing to do\n");
            return kDone;
        }
        if (dropShape) {
            const company::Dropped dropped = company::dropPlant(*db, args[3]);
            std::printf("plant %s dropped: subscription %s and the plant's rows removed\n", local(args[3].trimmed()).constData(),
                        local(dropped.subscription).constData());
            if (dropped.slotLeft)
                std::printf("the plant's server did not drop replication slot %s: if it still has it, drop it there"
                            " (SELECT pg_drop_replication_slot('%s')), or it keeps WAL\n",
                            local(dropped.subscription).constData(), local(dropped.subscription).constData());
            return kDone;
        }
        const company::Added added = company::addPlant(*db, args[3], args[4]);
        if (added.already)
            std::printf("plant %s (record %s) was added before: subscription %s, nothing to do\n", local(args[3].trimmed()).constData(),
                        local(added.plantId).constData(), local(added.subscription).constData());
        else
            std::printf("plant %s (record %s) added: subscription %s copies its record, then follows it\n",
                        local(args[3].trimmed()).constData(), local(added.plantId).constData(), local(added.subscription).constData());
        return kDone;
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
        return kError;
    }
}

void usage()
{
    std::fprintf(stderr, "用法：zantrel-db init URL\n      zantrel-db status URL\n      zantrel-db conflicts URL\n"
                         "      zantrel-db station add NAME LOGIN URL\n"
                         "      zantrel-db backfill URL --folder DIR [--station S]\n"
                         "      zantrel-db rework URL take-out|put-in 外箱 内包条码 --by 姓名 --reason 原因 [--note 说明] [--station 工位] [--middle 中箱 [--new-middle]]\n"
                         "      zantrel-db rework URL void|restore 外箱 --by 姓名 --reason 原因 [--note 说明] [--station 工位]\n"
                         "      （原因：抽样、损坏更换、重新装箱、重复包裁定、其他）\n"
                         "      zantrel-db batch add URL 批次号 --line 产线 --planned 数量 [--gtin GTIN --lot 批号 --expiry YYMMDD]\n"
                         "                [--made YYMMDD] [--per-middle 中箱数量 --per-outer 外箱数量] --by 姓名\n"
                         "      zantrel-db batch hold|resume|close|abort URL 批次号 --by 姓名 [--reason 原因]\n"
                         "      zantrel-db batch list URL [--line 产线]\n"
                         "      zantrel-db operator add URL 工号 --name 姓名 --role packer|supervisor|qa|admin [--by 管理员工号]\n"
                         "      zantrel-db operator passwd|disable|enable URL 工号 --by 管理员工号\n"
                         "      zantrel-db operator list URL\n"
                         "      zantrel-db epcis URL --from 时间 --to 时间 --id-base URI [--station 工位] [--company-prefix-digits N]\n"
                         "                [--gcp 厂商识别代码]... [--gcp-table 文件] | [--gcp-length N]  [--dl-base URI]\n"
                         "      zantrel-db company init URL\n"
                         "      zantrel-db company add-plant 公司库URL 厂名 工厂库URL\n"
                         "      zantrel-db company drop-plant 公司库URL 厂名\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args[0] == QLatin1String("station")) {
        if (args.size() != 5 || args[1] != QLatin1String("add")) {
            usage();
            return kError;
        }
        try {
            const std::unique_ptr<database::Connection> db = database::connect(args[4]);
            plantschema::addStation(*db, args[2], args[3]);
            std::printf("station %s belongs to login %s\n", local(args[2]).constData(), local(args[3]).constData());
            return kDone;
        } catch (const RuntimeError &e) {
            std::fprintf(stderr, "zantrel-db：%s\n", local(e.description()).constData());
            return kError;
        }
    }
    // Commands that read their own arguments: below 0, they were not as the usage says.
    const std::pair<const char *, int (*)(const QStringList &)> parsed[] = {
        {"epcis", epcisCommand}, {"company", companyCommand}, {"rework", reworkCommand}, {"batch", batchCommand}, {"operator", operatorCommand}};
    for (const auto &[name, command] : parsed) {
        if (args.isEmpty() || args[0] != QLatin1String(name))
            continue;
        const int status = command(args);
        if (status < 0)
            usage();
        return status < 0 ? kError : status;
    }
    if (!args.isEmpty() && args[0] == QLatin1String("backfill")) {
        const qsizetype folder = args.indexOf(QStringLiteral("--folder"));
        const qsizetype station = args.indexOf(QStringLiteral("--station"));
        const bool shaped = args.size() >= 4 && folder == 2 && folder + 1 < args.size()
                            && (station < 0 ? args.size() == 4 : station == 4 && args.size() == 6);
        if (!shaped) {
            usage();
            return kError;
        }
        return backfill(args[1], args[folder + 1], station < 0 ? QString() : args[station + 1]);
    }
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
