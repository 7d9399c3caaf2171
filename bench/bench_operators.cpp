// An operator's login: his password checked against the record's argon2id verifier at
// libsodium's interactive limits, the try recorded (target < 1 s), beside the floor of
// the verifier check alone in the same run.
#include "Quantile.h"

#include "support/PgServer.h"
#include "support/PlantDb.h"

#include "platform/PasswordHash.h"
#include "plant/Operators.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PgServer server;
    if (const QString why = server.start(); !why.isEmpty()) {
        std::fprintf(stderr, "bench_operators: %s\n", qPrintable(why));
        return 1;
    }
    const QString name = plantdb::make(server, QStringLiteral("operators"));
    auto owner = database::connect(server.url(QStringLiteral("postgres"), name));
    operators::add(*owner, QStringLiteral("A001"), QStringLiteral("管理员"), operators::Role::Admin, QStringLiteral("bench-admin-pass"), std::nullopt);
    operators::add(*owner, QStringLiteral("P001"), QStringLiteral("包装工"), operators::Role::Packer, QStringLiteral("bench-pack-pass"),
                   operators::Signer{QStringLiteral("A001"), QStringLiteral("bench-admin-pass")});
    auto station = database::connect(server.url(QStringLiteral("line3"), name));
    const QString verifier = operators::logIn(*station, QStringLiteral("P001"), QStringLiteral("bench-pack-pass"), QStringLiteral("bench")).verifier;
    std::vector<double> logins, checks;
    for (int n = 0; n < 10; ++n) {
        QElapsedTimer clock;
        clock.start();
        operators::logIn(*station, QStringLiteral("P001"), QStringLiteral("bench-pack-pass"), QStringLiteral("bench"));
        logins.push_back(clock.nsecsElapsed() / 1e6);
        clock.start();
        if (!passwordhash::verify(verifier, QStringLiteral("bench-pack-pass"))) {
            std::fprintf(stderr, "the verifier did not check\n");
            return 1;
        }
        checks.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(logins.begin(), logins.end());
    std::sort(checks.begin(), checks.end());
    std::printf("login: median %.0f ms, max %.0f ms (target < 1000 ms); the verifier check alone: median %.0f ms\n", quantile(logins, 0.5),
                logins.back(), quantile(checks, 0.5));
    return 0;
}
