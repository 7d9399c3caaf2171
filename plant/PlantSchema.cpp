#include "plant/PlantSchema.h"

#include "core/RuntimeError.h"
#include "platform/BuiltIn.h"
#include "platform/Database.h"
#include "plant/SchemaScript.h"


namespace plantschema {

namespace {

// From this version a station's name belongs to one login.
constexpr int kStationLoginsVersion = 5;

// Any number that is the same in every program that migrates this schema: two
// zantrel-db runs at once take turns.
const QString kLockKey = QStringLiteral("74657201");

struct Migration
{
    int version;
    QString name;
    QString sql;
};

std::vector<Migration> migrations()
{
    std::vector<Migration> out;
    const QString folder = QStringLiteral(":/db");
    for (const QString &name : builtin::names(folder, QStringLiteral("*.sql"))) {
        const std::optional<QString> sql = schemascript::read(folder + QLatin1Char('/') + name);
        if (!sql)
            continue; // listed a moment ago from the program itself: cannot be missing
        out.push_back({name.section(QLatin1Char('_'), 0, 0).toInt(), name, *sql});
    }
    return out;
}

} // namespace

int knownVersion()
{
    const std::vector<Migration> all = migrations();
    return all.empty() ? 0 : all.back().version;
}

int installedVersion(database::Connection &db)
{
    const auto present = db.run(QStringLiteral("SELECT to_regclass('zantrel.schema_version') IS NOT NULL"));
    if (present.empty() || !database::isTrue(present[0][0]))
        return 0;
    const auto version = db.run(QStringLiteral("SELECT coalesce(max(version), 0) FROM zantrel.schema_version"));
    return version[0][0].value_or(QStringLiteral("0")).toInt();
}

void require(database::Connection &db, int version, const QString &what)
{
    const int installed = installedVersion(db);
    if (installed < version)
        throw RuntimeError(RuntimeError::SchemaUnusable, QStringLiteral("PlantSchema"),
                           QStringLiteral("中央记录的架构版本 %1 还没有%2（需要版本 %3）：请先运行 zantrel-db init").arg(installed).arg(what).arg(version),
                           RuntimeError::Kind::Database);
}

QStringList migrate(database::Connection &db)
{
    QStringList done;
    db.runScript(QStringLiteral("BEGIN;"
                                "SELECT pg_advisory_xact_lock(%1);"
                                "CREATE SCHEMA IF NOT EXISTS zantrel;"
                                "CREATE TABLE IF NOT EXISTS zantrel.schema_version ("
                                "  version integer PRIMARY KEY, name text NOT NULL, applied_at timestamptz NOT NULL DEFAULT now());"
                                "COMMIT;").arg(kLockKey));
    for (const Migration &m : migrations()) {
        db.runScript(QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(%1);").arg(kLockKey));
        try {
            const int installed = installedVersion(db);
            if (installed > knownVersion())
                throw RuntimeError(RuntimeError::SchemaUnusable, QStringLiteral("PlantSchema"),
                                   QStringLiteral("数据库中的架构版本 %1 比本程序认识的版本 %2 新，未作任何改动").arg(installed).arg(knownVersion()), RuntimeError::Kind::Database);
            if (m.version <= installed) {
                db.runScript(QStringLiteral("ROLLBACK;"));
                continue;
            }
            db.runScript(m.sql);
            db.run(QStringLiteral("INSERT INTO zantrel.schema_version (version, name) VALUES ($1, $2)"),
                   {QString::number(m.version), m.name});
            db.runScript(QStringLiteral("COMMIT;"));
        } catch (...) {
            database::rollBackAfterFailure(db);
            throw;
        }
        done << QStringLiteral("applied %1 (version %2)").arg(m.name).arg(m.version);
    }
    return done;
}

void addStation(database::Connection &db, const QString &station, const QString &login)
{
    if (installedVersion(db) < kStationLoginsVersion)
        throw RuntimeError(RuntimeError::SchemaUnusable, QStringLiteral("PlantSchema"),
                           QStringLiteral("数据库中的 zantrel 架构还没有站与登录的对应，请先运行 zantrel-db init"), RuntimeError::Kind::Database);
    if (db.run(QStringLiteral("SELECT FROM pg_roles WHERE rolname = $1 AND rolcanlogin"), {login}).empty())
        throw RuntimeError(RuntimeError::DatabaseFailed, QStringLiteral("PlantSchema"),
                           QStringLiteral("没有名为 %1 的登录").arg(login), RuntimeError::Kind::Database);
    db.run(QStringLiteral("INSERT INTO zantrel.stations (station, login) VALUES ($1, $2)"
                          " ON CONFLICT (station) DO UPDATE SET login = excluded.login"),
           {station, login});
}

} // namespace plantschema
