#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <csignal>
#include <unistd.h>

// A throwaway PostgreSQL server of the test's own: initdb into a temporary folder,
// pg_ctl start on a Unix socket there (no TCP port), stopped at the end. As root
// (CI), the server runs as the postgres user, as PostgreSQL requires. Tests that
// need it fail when it cannot start; they never skip.
class PgServer
{
public:
    // Durable: every commit on disk, as a plant's server keeps it (benchmarks); tests
    // skip the flushes.
    explicit PgServer(bool durable = false) : m_durable(durable) {}

    // A setting given to the server at every start ("wal_level", "logical").
    void set(const QString &key, const QString &value) { m_settings += QStringLiteral(" -c %1=%2").arg(key, value); }
    ~PgServer() { stop(); }

    // "" when the server runs; otherwise why not.
    QString start()
    {
        m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/zantrel-pg-XXXXXX"));
        if (!m_dir->isValid())
            return QStringLiteral("no temporary folder");
        QProcess config;
        config.start(QStringLiteral("pg_config"), {QStringLiteral("--bindir")});
        if (!config.waitForFinished(10000) || config.exitCode() != 0)
            return QStringLiteral("pg_config not found: install libpq-dev and postgresql");
        m_bin = QString::fromLocal8Bit(config.readAllStandardOutput()).trimmed();
        if (!QFile::exists(m_bin + QStringLiteral("/initdb")))
            return QStringLiteral("%1/initdb not found: install postgresql").arg(m_bin);
        m_port = 20000 + int(QRandomGenerator::global()->bounded(20000));
        if (::geteuid() == 0 && ::system(qPrintable(QStringLiteral("chown -R postgres:postgres %1").arg(m_dir->path()))) != 0)
            return QStringLiteral("cannot give the folder to the postgres user");
        QString out;
        if (!run(QStringLiteral("initdb"), {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("postgres"),
                                             QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8")},
                 out))
            return QStringLiteral("initdb failed: ") + out;
        return startAgain();
    }

    // A streaming standby of a running primary (pg_basebackup -R), started; "" when it runs.
    QString startStandbyOf(const PgServer &primary)
    {
        m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/zantrel-pg-XXXXXX"));
        m_bin = primary.m_bin;
        m_port = primary.m_port + 1;
        if (::geteuid() == 0 && ::system(qPrintable(QStringLiteral("chown -R postgres:postgres %1").arg(m_dir->path()))) != 0)
            return QStringLiteral("cannot give the folder to the postgres user");
        QString out;
        if (!run(QStringLiteral("pg_basebackup"), {QStringLiteral("-D"), data(), QStringLiteral("-R"), QStringLiteral("-X"),
                                                    QStringLiteral("stream"), QStringLiteral("-c"), QStringLiteral("fast"), QStringLiteral("-h"), primary.m_dir->path(),
                                                    QStringLiteral("-p"), QString::number(primary.m_port), QStringLiteral("-U"),
                                                    QStringLiteral("postgres")},
                 out))
            return QStringLiteral("pg_basebackup failed: ") + out;
        return startAgain();
    }

    // A standby becomes a primary.
    bool promote()
    {
        QString out;
        return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-w"), QStringLiteral("promote")}, out);
    }

    // The folder of its socket, for a host list.
    QString socketFolder() const { return m_dir->path(); }

    // The same cluster started after stop(); "" when it runs.
    QString startAgain()
    {
        QString out;
        const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses=''%3")
                                    .arg(m_dir->path()).arg(m_port).arg(m_durable ? QString() : QStringLiteral(" -c fsync=off")) +
                                m_settings;
        if (!run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-o"), options, QStringLiteral("-l"),
                                             m_dir->path() + QStringLiteral("/log"), QStringLiteral("-w"), QStringLiteral("start")},
                 out))
            return QStringLiteral("pg_ctl start failed: ") + out + QString::fromLocal8Bit(readLog());
        m_running = true;
        return {};
    }

    void stop()
    {
        if (!m_running)
            return;
        QString out;
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")}, out);
        m_running = false;
    }

    // The server process stopped (it accepts connections and never answers) or going on.
    bool pause() { return signalServer(SIGSTOP); }
    bool resume() { return signalServer(SIGCONT); }

    // A connection string for a user (postgres: the superuser) and database.
    QString url(const QString &user = QStringLiteral("postgres"), const QString &db = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4").arg(m_dir->path()).arg(m_port).arg(db, user);
    }

    // The server's socket, for a proxy in front of it.
    QString socketPath() const { return QStringLiteral("%1/.s.PGSQL.%2").arg(m_dir->path()).arg(m_port); }
    int port() const { return m_port; }

    QByteArray readLog() const
    {
        QFile log(m_dir->path() + QStringLiteral("/log"));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

private:
    bool signalServer(int signal) const
    {
        QFile pidFile(data() + QStringLiteral("/postmaster.pid"));
        if (!pidFile.open(QIODevice::ReadOnly))
            return false;
        const pid_t pid = pid_t(pidFile.readLine().trimmed().toInt());
        if (pid <= 0 || ::kill(pid, signal) != 0)
            return false;
        // Each connection has a server process of its own, a child of the postmaster.
        QProcess children;
        children.start(QStringLiteral("pkill"), {QStringLiteral("-%1").arg(signal == SIGSTOP ? "STOP" : "CONT"),
                                                 QStringLiteral("-P"), QString::number(pid)});
        return children.waitForFinished(10000);
    }
    QString data() const { return m_dir->path() + QStringLiteral("/data"); }

    bool run(const QString &tool, const QStringList &args, QString &out)
    {
        QProcess p;
        if (::geteuid() == 0)
            p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), m_bin + '/' + tool} + args);
        else
            p.start(m_bin + '/' + tool, args);
        const bool finished = p.waitForFinished(60000);
        out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
        return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    bool m_durable = false;
    QString m_settings;
};
