#include "company/CompanyRecord.h"

#include "core/RuntimeError.h"
#include "platform/BuiltIn.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"
#include "plant/SchemaScript.h"

namespace company {

namespace {

const QString kSource = QStringLiteral("Company");
// The same number in every program that changes a company schema: two runs take turns.
const QString kLockKey = QStringLiteral("74657207");
// A plant's record offers its tables under this name (its migration 7).
const QString kPublication = QStringLiteral("zantrel_record");

[[noreturn]] void refuse(const QString &why)
{
    throw RuntimeError(RuntimeError::DatabaseFailed, kSource, why, RuntimeError::Kind::Database);
}

QString one(database::Connection &db, const QString &sql, const QStringList &parameters = {})
{
    const auto rows = db.run(sql, parameters);
    return rows.empty() || rows[0].empty() ? QString() : rows[0][0].value_or(QString());
}

bool yes(database::Connection &db, const QString &sql)
{
    const auto rows = db.run(sql);
    return !rows.empty() && !rows[0].empty() && database::isTrue(rows[0][0]);
}

int companyVersion(database::Connection &db)
{
    if (!yes(db, QStringLiteral("SELECT to_regclass('zantrel.company_version') IS NOT NULL")))
        return 0;
    return one(db, QStringLiteral("SELECT coalesce(max(version), 0) FROM zantrel.company_version")).toInt();
}

// A string as an SQL literal, for the one statement that takes no parameters.
QString literal(const QString &s)
{
    QString quoted = s;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

bool isCompany(database::Connection &db)
{
    return yes(db, QStringLiteral("SELECT to_regclass('zantrel.plants') IS NOT NULL AND to_regclass('zantrel.company_version') IS NOT NULL"));
}

QStringList init(database::Connection &db)
{
    const QString folder = QStringLiteral(":/db/company");
    QStringList done;
    for (const QString &name : builtin::names(folder, QStringLiteral("*.sql"))) {
        const int version = name.section(QLatin1Char('_'), 0, 0).toInt();
        const std::optional<QString> sql = schemascript::read(folder + QLatin1Char('/') + name);
        if (!sql)
            continue; // listed a moment ago from the program itself: cannot be missing
        db.runScript(QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(%1);").arg(kLockKey));
        try {
            const bool plantRecord = plantschema::installedVersion(db) > 0
                                     && yes(db, QStringLiteral("SELECT to_regclass('zantrel.company_version') IS NULL"));
            if (plantRecord)
                refuse(QStringLiteral("这个数据库里是一个工厂的记录，不能做公司汇总库：请为公司新建一个空数据库"));
            if (version <= companyVersion(db)) {
                db.runScript(QStringLiteral("ROLLBACK;"));
                continue;
            }
            db.runScript(QStringLiteral("CREATE SCHEMA IF NOT EXISTS zantrel;"
                                        "CREATE TABLE IF NOT EXISTS zantrel.schema_version ("
                                        "  version integer PRIMARY KEY, name text NOT NULL, applied_at timestamptz NOT NULL DEFAULT now());"
                                        "CREATE TABLE IF NOT EXISTS zantrel.company_version ("
                                        "  version integer PRIMARY KEY, name text NOT NULL, applied_at timestamptz NOT NULL DEFAULT now());"));
            db.runScript(*sql);
            db.run(QStringLiteral("INSERT INTO zantrel.company_version (version, name) VALUES ($1, $2)"), {QString::number(version), name});
            db.runScript(QStringLiteral("COMMIT;"));
        } catch (...) {
            database::rollBackAfterFailure(db);
            throw;
        }
        done << QStringLiteral("applied company %1 (version %2)").arg(name).arg(version);
    }
    return done;
}

Added addPlant(database::Connection &company, const QString &plantName, const QString &plantUrl)
{
    const QString name = plantName.trimmed();
    if (name.isEmpty() || name.size() > 100)
        refuse(QStringLiteral("厂名不能为空，最长 100 个字"));
    if (!isCompany(company))
        refuse(QStringLiteral("这个数据库不是公司汇总库：请先运行 zantrel-db company init"));

    Added added;
    {
        const std::unique_ptr<database::Connection> plant = database::connect(plantUrl);
        if (plantschema::installedVersion(*plant) < plantschema::kCompanyFeedVersion)
            refuse(QStringLiteral("该厂的记录版本低于 %1：请先对该厂运行 zantrel-db init").arg(plantschema::kCompanyFeedVersion));
        if (one(*plant, QStringLiteral("SHOW wal_level")) != QLatin1String("logical"))
            refuse(QStringLiteral("该厂的数据库服务器须设 wal_level = logical（改后重启服务器），才能向公司汇总库发送记录"));
        if (one(*plant, QStringLiteral("SELECT count(*) FROM pg_publication WHERE pubname = $1"), {kPublication}) != QLatin1String("1"))
            refuse(QStringLiteral("该厂的记录没有发布 %1：请对该厂运行 zantrel-db init").arg(kPublication));
        added.plantId = one(*plant, QStringLiteral("SELECT plant_id FROM zantrel.plant"));
    }

    const auto known = company.run(QStringLiteral("SELECT name, subscription FROM zantrel.plants WHERE plant_id = $1"), {added.plantId});
    if (!known.empty()) {
        const QString knownName = known[0][0].value_or(QString());
        if (knownName != name)
            refuse(QStringLiteral("这个工厂的记录已以“%1”加入公司汇总库").arg(knownName));
        added.subscription = known[0][1].value_or(QString());
        added.already = true;
        return added;
    }
    if (!company.run(QStringLiteral("SELECT FROM zantrel.plants WHERE name = $1"), {name}).empty())
        refuse(QStringLiteral("公司汇总库里已有名为“%1”的另一个工厂").arg(name));

    // A replication slot of this name is made on the plant's server: it names this
    // company database too, so that two company databases may follow one plant.
    added.subscription = QStringLiteral("zantrel_%1_%2")
                             .arg(one(company, QStringLiteral("SELECT left(md5(system_identifier::text || current_database()), 8) FROM pg_control_system()")),
                                  QString(added.plantId).remove(QLatin1Char('-')));
    company.run(QStringLiteral("INSERT INTO zantrel.plants (plant_id, name, subscription) VALUES ($1, $2, $3)"),
                {added.plantId, name, added.subscription});
    try {
        // Cannot run in a transaction: it makes the slot on the plant's server.
        company.runScript(QStringLiteral("CREATE SUBSCRIPTION %1 CONNECTION %2 PUBLICATION %3")
                              .arg(added.subscription, literal(plantUrl), kPublication));
    } catch (const RuntimeError &e) {
        try {
            company.run(QStringLiteral("DELETE FROM zantrel.plants WHERE plant_id = $1"), {added.plantId});
        } catch (const RuntimeError &) {
            // The plant's row stays without a subscription; the first failure is what the person must read.
        }
        refuse(QStringLiteral("公司汇总库未能订阅该厂的记录：%1").arg(e.description()));
    }
    return added;
}

Dropped dropPlant(database::Connection &company, const QString &plantName)
{
    if (!isCompany(company))
        refuse(QStringLiteral("这个数据库不是公司汇总库"));
    const auto known = company.run(QStringLiteral("SELECT plant_id, subscription FROM zantrel.plants WHERE name = $1"), {plantName.trimmed()});
    if (known.empty())
        refuse(QStringLiteral("公司汇总库里没有名为“%1”的工厂").arg(plantName.trimmed()));
    const QString plantId = known[0][0].value_or(QString());
    Dropped dropped;
    dropped.subscription = known[0][1].value_or(QString());
    if (one(company, QStringLiteral("SELECT count(*) FROM pg_subscription WHERE subname = $1 AND subdbid = (SELECT oid FROM pg_database"
                                    " WHERE datname = current_database())"), {dropped.subscription}) == QLatin1String("1")) {
        try {
            // Drops the slot on the plant's server too, when it is there to answer.
            company.runScript(QStringLiteral("DROP SUBSCRIPTION %1").arg(dropped.subscription));
        } catch (const RuntimeError &) {
            // The plant is unreachable or lost the slot: the subscription goes without it.
            company.runScript(QStringLiteral("ALTER SUBSCRIPTION %1 DISABLE").arg(dropped.subscription));
            company.runScript(QStringLiteral("ALTER SUBSCRIPTION %1 SET (slot_name = NONE)").arg(dropped.subscription));
            company.runScript(QStringLiteral("DROP SUBSCRIPTION %1").arg(dropped.subscription));
            dropped.slotLeft = true;
        }
    }
    company.runScript(QStringLiteral("BEGIN"));
    try {
        const QStringList plant{plantId};
        company.run(QStringLiteral("DELETE FROM zantrel.box_rows r USING zantrel.boxes b WHERE b.box_id = r.box_id AND b.plant_id = $1"), plant);
        company.run(QStringLiteral("DELETE FROM zantrel.pack_conflicts c USING zantrel.boxes b WHERE b.box_id = c.box_id AND b.plant_id = $1"), plant);
        for (const char *table : {"boxes", "conflict_decisions", "box_changes", "stations", "station_state", "plants"})
            company.run(QStringLiteral("DELETE FROM zantrel.%1 WHERE plant_id = $1").arg(QLatin1String(table)), plant);
        company.runScript(QStringLiteral("COMMIT"));
    } catch (...) {
        database::rollBackAfterFailure(company);
        throw;
    }
    return dropped;
}

} // namespace company
