#pragma once

#include "support/PgServer.h"

#include "platform/Database.h"
#include "plant/PlantSchema.h"

#include <QString>
#include <QStringList>

// Databases of a test's own server with the plant schema in place, and the login a
// station uses: "line3", a member of zantrel_station, as the README tells a DBA,
// owning the stations named.
namespace plantdb {

inline const QStringList kLine3Stations{QStringLiteral("line3-a"), QStringLiteral("line3-b"), QStringLiteral("line3-c"),
                                        QStringLiteral("line3-d"), QStringLiteral("line3-e")};

inline QString make(PgServer &server, const QString &name, const QStringList &stations = kLine3Stations)
{
    auto admin = database::connect(server.url());
    admin->run(QStringLiteral("CREATE DATABASE %1").arg(name));
    auto db = database::connect(server.url(QStringLiteral("postgres"), name));
    plantschema::migrate(*db);
    db->runScript(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'line3') THEN "
                                 "CREATE ROLE line3 LOGIN; END IF; END $$; GRANT zantrel_station TO line3;"));
    for (const QString &station : stations)
        plantschema::addStation(*db, station, QStringLiteral("line3"));
    return name;
}

// The login a line's board uses, "board": it reads, and records supervisors' decisions.
inline void addBoardLogin(database::Connection &db)
{
    db.runScript(QStringLiteral("CREATE ROLE board LOGIN; GRANT zantrel_reader, zantrel_supervisor TO board;"));
}

// The first column of the first row as text ("<null>" for NULL, "" for no row).
inline QString one(database::Connection &db, const QString &sql, const QStringList &parameters = {})
{
    const auto rows = db.run(sql, parameters);
    return rows.empty() || rows[0].empty() ? QString() : rows[0][0].value_or(QStringLiteral("<null>"));
}

} // namespace plantdb
