#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <signal.h>

// A CUPS scheduler of the test's own: its configuration, socket, spool and logs in a
// temporary folder, its queues writing every job to /dev/null. The scheduler keeps
// each job's document and history, so a test reads what was printed from the spool.
// Programs and libcups in this process find it through CUPS_SERVER.
class CupsServer
{
public:
    ~CupsServer() { stop(); }

    // "" when it runs; else why not (cupsd missing: install cups).
    QString start()
    {
        m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/zantrel-cups-XXXXXX"));
        if (!QFile::exists(QStringLiteral("/usr/sbin/cupsd")))
            return QStringLiteral("/usr/sbin/cupsd not found: install cups");
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                 | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        for (const char *sub : {"conf", "spool", "tmp", "state", "cache", "log"})
            QDir(m_dir->path()).mkpath(QLatin1String(sub));
        write(QStringLiteral("conf/cupsd.conf"),
              QStringLiteral("Listen %1\nLogLevel warn\nPreserveJobHistory Yes\nPreserveJobFiles Yes\nMaxJobs 0\n"
                             "WebInterface No\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                             "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
                             "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                             "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n").arg(socket()));
        const QString d = m_dir->path();
        write(QStringLiteral("conf/cups-files.conf"),
              QStringLiteral("ServerRoot %1/conf\nRequestRoot %1/spool\nTempDir %1/tmp\nStateDir %1/state\nCacheDir %1/cache\n"
                             "AccessLog %1/log/access_log\nErrorLog %1/log/error_log\nPageLog %1/log/page_log\n"
                             "FileDevice Yes\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nSystemGroup root\n").arg(d));
        qputenv("CUPS_SERVER", socket().toLocal8Bit());
        return startAgain();
    }

    // After stop(): the same scheduler, its queues and history as they were.
    QString startAgain()
    {
        m_cupsd = std::make_unique<QProcess>();
        m_cupsd->setProcessChannelMode(QProcess::MergedChannels);
        m_cupsd->start(QStringLiteral("/usr/sbin/cupsd"), {QStringLiteral("-f"), QStringLiteral("-c"), path("conf/cupsd.conf"),
                                                           QStringLiteral("-s"), path("conf/cups-files.conf")});
        if (!m_cupsd->waitForStarted(10000))
            return QStringLiteral("cupsd did not start");
        // Ready once its socket takes a connection.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            QLocalSocket probe;
            probe.connectToServer(socket());
            if (probe.waitForConnected(200))
                return QString();
            if (m_cupsd->state() == QProcess::NotRunning)
                return QStringLiteral("cupsd ended: ") + QString::fromLocal8Bit(m_cupsd->readAll()) + log();
            QThread::msleep(50);
        }
        return QStringLiteral("cupsd never listened: ") + log();
    }

    void stop()
    {
        if (m_cupsd && m_cupsd->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_cupsd->processId()), SIGCONT);
            m_cupsd->terminate();
            if (!m_cupsd->waitForFinished(10000))
                m_cupsd->kill();
            m_cupsd->waitForFinished(5000);
        }
    }

    // The scheduler dies at once, as in a power cut of its own: what it had not yet
    // written of its jobs' state is gone. startAgain() brings it back.
    void kill()
    {
        if (m_cupsd && m_cupsd->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_cupsd->processId()), SIGKILL);
            m_cupsd->waitForFinished(10000);
        }
    }

    // A stopped scheduler, as a hung print server: connections are taken, never answered.
    bool pause() { return m_cupsd && ::kill(pid_t(m_cupsd->processId()), SIGSTOP) == 0; }
    bool resume() { return m_cupsd && ::kill(pid_t(m_cupsd->processId()), SIGCONT) == 0; }

    // A queue whose device swallows every job; "" when made.
    // With another device and options: a queue whose jobs fail, for one.
    QString addQueue(const QString &name, const QString &device = QStringLiteral("file:///dev/null"), const QStringList &options = {})
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("lpadmin"), QStringList{QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"), device} + options);
        p.waitForFinished(30000);
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? QString()
                                                                          : QStringLiteral("lpadmin: ") + QString::fromLocal8Bit(p.readAll());
    }

    // One of CUPS's own commands against this scheduler (cupsdisable, cancel …); "" when it succeeded.
    QString command(const QString &program, const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        p.waitForFinished(30000);
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? QString()
                                                                          : program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
    }

    // The document of a job as it was handed over; empty when there is none.
    QByteArray document(int job) const
    {
        QFile f(QStringLiteral("%1/spool/d%2-001").arg(m_dir->path()).arg(job, 5, 10, QLatin1Char('0')));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Every job the scheduler ever took with its document, in order (the document is
    // on disk once the job is taken; the job's control file is written later).
    QList<int> jobs() const
    {
        QList<int> ids;
        for (const QString &name : QDir(m_dir->path() + QStringLiteral("/spool")).entryList({QStringLiteral("d*-001")}, QDir::Files))
            ids << name.mid(1, name.indexOf(QLatin1Char('-')) - 1).toInt();
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    QString socket() const { return m_dir->path() + QStringLiteral("/cups.sock"); }
    QString log() const
    {
        QFile f(path("log/error_log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private:
    QString path(const char *relative) const { return m_dir->path() + QLatin1Char('/') + QLatin1String(relative); }
    void write(const QString &relative, const QString &text)
    {
        QFile f(m_dir->path() + QLatin1Char('/') + relative);
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_cupsd;
};
