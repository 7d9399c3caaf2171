#pragma once

#include "support/PgServer.h"
#include "support/PlantDb.h"

#include <cstdio>
#include <cstdlib>

// A durable server of the benchmark's own and a database on it with the plant
// schema; the benchmark ends, saying why, when the server cannot start.
inline QString benchDatabase(PgServer &server, const QString &name)
{
    const QString why = server.start();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(why));
        std::exit(1);
    }
    // Every station a benchmark runs, owned by the stations' login.
    QStringList stations{QStringLiteral("bench-lag"), QStringLiteral("bench-drain"), QStringLiteral("bench-scan"), QStringLiteral("bench-level")};
    for (int n = 0; n < 100; ++n)
        stations << QStringLiteral("load-%1").arg(n, 2, 10, QLatin1Char('0'));
    return plantdb::make(server, name, stations);
}
