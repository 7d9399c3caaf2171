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
    return plantdb::make(server, name);
}
