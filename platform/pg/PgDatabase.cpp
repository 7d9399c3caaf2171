#include "platform/Database.h"

#include "core/RuntimeError.h"

#include <QElapsedTimer>
#include <QDateTime>
#include <QSet>
#include <cerrno>
#include <map>
#include <libpq-fe.h>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace database {

namespace {

const QString kSource = QStringLiteral("Database");

RuntimeError failure(const QString &what, const char *libpqText, int number = RuntimeError::DatabaseFailed)
{
    return RuntimeError(number, kSource, QStringLiteral("%1：%2").arg(what, QString::fromUtf8(libpqText).trimmed()),
                        RuntimeError::Kind::Database);
}

[[noreturn]] void fail(const QString &what, const char *libpqText, int number = RuntimeError::DatabaseFailed)
{
    throw failure(what, libpqText, number);
}

// Refusals that the same values meet every time: a data exception, a broken
// constraint, a limit of the server's (an index entry too large), a refusal of the
// record's own (class ZR). Everything else (the connection, a timeout, a lock, a
// right not yet granted) may pass on a retry.
int numberFor(const QByteArray &state)
{
    if (state == "42501")
        return RuntimeError::DatabaseNotAllowed;
    const QByteArray klass = state.left(2);
    return klass == "22" || klass == "23" || klass == "54" || klass == "ZR" ? RuntimeError::DatabaseRefusedData
                                                                           : RuntimeError::DatabaseFailed;
}

// A statement's failure with the server's code and detail, when it gave them.
[[noreturn]] void failStatement(const PGresult *result, const char *connectionText)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char *detail = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr;
    const QByteArray code = state ? QByteArray(state) : QByteArray();
    throw failure(QStringLiteral("数据库语句失败"), result ? PQresultErrorMessage(result) : connectionText, numberFor(code))
        .withServerCode(QString::fromLatin1(code), detail ? QString::fromUtf8(detail) : QString());
}

RuntimeError interrupted()
{
    return RuntimeError(RuntimeError::DatabaseTimedOut, kSource, QStringLiteral("等待数据库已中止（程序正在结束）"),
                        RuntimeError::Kind::Database);
}

class PgConnection : public Connection
{
public:
    PgConnection(PGconn *conn, int answerSeconds, const Interrupt *interrupt)
        : m_conn(conn), m_answerSeconds(answerSeconds), m_interrupt(interrupt)
    {
        // A bounded wait covers the sending too: a long statement to a server that
        // stopped reading would otherwise wait in the send for as long as it stays so.
        if (waitsItself())
            PQsetnonblocking(m_conn, 1);
    }
    ~PgConnection() override
    {
        if (m_conn)
            PQfinish(m_conn);
    }

    std::vector<Row> run(const QString &sql, const QStringList &parameters) override
    {
        const Values values(parameters);
        const QByteArray text = sql.toUtf8();
        usable();
        if (!waitsItself())
            return rowsOf(PQexecParams(m_conn, text.constData(), values.count(), nullptr, values.pointers(), nullptr, nullptr, 0));
        if (!PQsendQueryParams(m_conn, text.constData(), values.count(), nullptr, values.pointers(), nullptr, nullptr, 0))
            fail(QStringLiteral("数据库语句无法发送"), PQerrorMessage(m_conn));
        return awaitResults();
    }

    std::vector<Row> runOften(const QString &sql, const QStringList &parameters) override
    {
        const Values values(parameters);
        const QByteArray text = sql.toUtf8();
        usable();
        auto known = m_prepared.find(text);
        if (known == m_prepared.end()) {
            // A statement prepared outside the protocol's transactions stays when one rolls back.
            const QByteArray name = "zantrel_" + QByteArray::number(m_prepared.size() + 1);
            if (!waitsItself()) {
                rowsOf(PQprepare(m_conn, name.constData(), text.constData(), values.count(), nullptr));
            } else {
                if (!PQsendPrepare(m_conn, name.constData(), text.constData(), values.count(), nullptr))
                    fail(QStringLiteral("数据库语句无法发送"), PQerrorMessage(m_conn));
                awaitResults();
            }
            known = m_prepared.emplace(text, name).first;
        }
        const char *name = known->second.constData();
        if (!waitsItself())
            return rowsOf(PQexecPrepared(m_conn, name, values.count(), values.pointers(), nullptr, nullptr, 0));
        if (!PQsendQueryPrepared(m_conn, name, values.count(), values.pointers(), nullptr, nullptr, 0))
            fail(QStringLiteral("数据库语句无法发送"), PQerrorMessage(m_conn));
        return awaitResults();
    }

    void runScript(const QString &sql) override
    {
        const QByteArray text = sql.toUtf8();
        usable();
        if (!waitsItself()) {
            rowsOf(PQexec(m_conn, text.constData()));
            return;
        }
        if (!PQsendQuery(m_conn, text.constData()))
            fail(QStringLiteral("数据库语句无法发送"), PQerrorMessage(m_conn));
        awaitResults();
    }

private:
    // Parameters as libpq takes them: UTF-8, a null QString as SQL NULL.
    class Values
    {
    public:
        explicit Values(const QStringList &parameters)
        {
            m_bytes.reserve(size_t(parameters.size()));
            for (const QString &p : parameters) {
                m_bytes.push_back(p.toUtf8());
                m_pointers.push_back(p.isNull() ? nullptr : m_bytes.back().constData());
            }
        }
        int count() const { return int(m_pointers.size()); }
        const char *const *pointers() const { return m_pointers.data(); }

    private:
        std::vector<QByteArray> m_bytes;
        std::vector<const char *> m_pointers;
    };

    void usable()
    {
        if (!m_conn)
            throw RuntimeError(RuntimeError::DatabaseTimedOut, kSource, QStringLiteral("数据库连接已关闭（服务器曾无响应）"), RuntimeError::Kind::Database);
    }

    // Every result of what was sent, the last one's rows returned; the first failure
    // raises. Waits at most the answer time in all; then the connection is closed.
    std::vector<Row> awaitResults()
    {
        const qint64 deadline = m_answerSeconds ? QDateTime::currentMSecsSinceEpoch() + qint64(m_answerSeconds) * 1000 : -1;
        // Readable (or writable, while the statement is still being sent) within the time
        // left, unless the interrupt comes first.
        auto waitFor = [&](short events) {
            for (;;) {
                const qint64 left = deadline < 0 ? -1 : std::max<qint64>(0, deadline - QDateTime::currentMSecsSinceEpoch());
                pollfd p[2] = {{PQsocket(m_conn), events, 0}, {m_interrupt ? m_interrupt->fd() : -1, POLLIN, 0}};
                const int ready = left != 0 ? ::poll(p, 2, int(std::min<qint64>(left, INT32_MAX))) : 0;
                if (ready < 0 && errno == EINTR)
                    continue;
                if (ready > 0 && !p[1].revents)
                    return p[0].revents;
                PQfinish(m_conn);
                m_conn = nullptr;
                if (ready > 0)
                    throw interrupted();
                throw RuntimeError(RuntimeError::DatabaseTimedOut, kSource,
                                   QStringLiteral("数据库服务器 %1 秒内没有应答").arg(m_answerSeconds), RuntimeError::Kind::Database);
            }
        };
        for (int flushed = PQflush(m_conn); flushed != 0; flushed = PQflush(m_conn)) {
            if (flushed < 0)
                fail(QStringLiteral("数据库语句无法发送"), PQerrorMessage(m_conn));
            // The server may answer before it has read everything (an error): read it then.
            if ((waitFor(POLLIN | POLLOUT) & POLLIN) && !PQconsumeInput(m_conn))
                fail(QStringLiteral("数据库连接中断"), PQerrorMessage(m_conn));
        }
        std::vector<Row> rows;
        std::optional<RuntimeError> failure;
        for (;;) {
            while (PQisBusy(m_conn)) {
                waitFor(POLLIN);
                if (!PQconsumeInput(m_conn))
                    fail(QStringLiteral("数据库连接中断"), PQerrorMessage(m_conn));
            }
            PGresult *result = PQgetResult(m_conn);
            if (!result)
                break;
            try {
                rows = rowsOf(result);
            } catch (const RuntimeError &e) {
                if (!failure)
                    failure = e; // the rest of the results are still read, so the connection stays usable
            }
        }
        if (failure)
            throw *failure;
        return rows;
    }

    std::vector<Row> rowsOf(PGresult *result)
    {
        struct Owned
        {
            PGresult *r;
            ~Owned() { PQclear(r); }
        } owned{result};
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            failStatement(result, PQerrorMessage(m_conn));
        std::vector<Row> rows;
        const int columns = PQnfields(result);
        for (int r = 0; r < PQntuples(result); ++r) {
            Row row;
            for (int c = 0; c < columns; ++c)
                row.push_back(PQgetisnull(result, r, c) ? std::nullopt
                                                        : std::optional<QString>(QString::fromUtf8(PQgetvalue(result, r, c))));
            rows.push_back(std::move(row));
        }
        return rows;
    }

    // Waits for the server by itself (bounded, or until the interrupt), rather than in libpq.
    bool waitsItself() const { return m_answerSeconds > 0 || m_interrupt; }

    PGconn *m_conn;
    int m_answerSeconds;
    const Interrupt *m_interrupt;
    std::map<QByteArray, QByteArray> m_prepared; // statement text -> its name on the server
};

} // namespace

std::vector<std::pair<QByteArray, QByteArray>> optionsAdded(const QString &url, int timeoutSeconds)
{
    std::vector<std::pair<QByteArray, QByteArray>> added{{"connect_timeout", QByteArray::number(timeoutSeconds)},
                                                         {"client_encoding", "UTF8"}};
    // TCP keepalives, so that a connection the network lost is noticed within about a
    // minute, not hours; what the plant's url sets itself stays as it is.
    const std::pair<QByteArray, QByteArray> keepalives[] = {
        {"keepalives", "1"}, {"keepalives_idle", "30"}, {"keepalives_interval", "10"}, {"keepalives_count", "3"}};
    QSet<QByteArray> set;
    if (PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), nullptr)) {
        for (PQconninfoOption *o = options; o->keyword; ++o)
            if (o->val && *o->val)
                set.insert(o->keyword);
        PQconninfoFree(options);
    }
    for (const auto &option : keepalives)
        if (!set.contains(option.first))
            added.push_back(option);
    return added;
}

Interrupt::Interrupt() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Interrupt::~Interrupt()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Interrupt::raise()
{
    const uint64_t one = 1;
    // Only a full counter refuses it, and a full counter is raised already.
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
}

namespace {

// Whether the url names one server only: a connect to it can be waited for here. With
// several, libpq's own wait gives each its connect_timeout in turn.
bool oneHost(const QString &url)
{
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), nullptr);
    if (!options)
        return true; // refused by the connect itself, at once
    bool one = true;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if ((qstrcmp(o->keyword, "host") == 0 || qstrcmp(o->keyword, "hostaddr") == 0) && o->val && std::strchr(o->val, ','))
            one = false;
    PQconninfoFree(options);
    return one;
}

// A connect to one server, waited for here: within the timeout (0: for ever), or
// until the interrupt. What libpq says of a failure is left in the connection.
PGconn *connectHere(const char *const *keys, const char *const *values, int timeoutSeconds, const Interrupt &interrupt,
                    bool &timedOut)
{
    PGconn *conn = PQconnectStartParams(keys, values, 1);
    if (!conn || PQstatus(conn) == CONNECTION_BAD)
        return conn;
    const qint64 deadline = timeoutSeconds > 0 ? QDateTime::currentMSecsSinceEpoch() + qint64(timeoutSeconds) * 1000 : -1;
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
        const qint64 left = deadline < 0 ? -1 : std::max<qint64>(0, deadline - QDateTime::currentMSecsSinceEpoch());
        pollfd p[2] = {{PQsocket(conn), short(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0}, {interrupt.fd(), POLLIN, 0}};
        const int ready = left != 0 ? ::poll(p, 2, int(std::min<qint64>(left, INT32_MAX))) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && p[1].revents) {
            PQfinish(conn);
            throw interrupted();
        }
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        status = PQconnectPoll(conn);
    }
    return conn;
}

} // namespace

std::unique_ptr<Connection> connect(const QString &url, int timeoutSeconds, int answerSeconds, const Interrupt *interrupt)
{
    // The caller's string goes to libpq as it is; a few options are added (as a
    // second, expanded set of options, so a URI keeps its own meaning).
    const QByteArray dbname = url.toUtf8();
    const std::vector<std::pair<QByteArray, QByteArray>> added = optionsAdded(url, timeoutSeconds);
    std::vector<const char *> keys{"dbname"};
    std::vector<const char *> values{dbname.constData()};
    for (const auto &[key, value] : added) {
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    QElapsedTimer took;
    took.start();
    bool waitedOut = false;
    PGconn *conn = interrupt && oneHost(url) ? connectHere(keys.data(), values.data(), timeoutSeconds, *interrupt, waitedOut)
                                             : PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn)
        fail(QStringLiteral("无法连接数据库"), "out of memory");
    if (PQstatus(conn) != CONNECTION_OK || waitedOut) {
        const QByteArray why = waitedOut ? QByteArray("timeout expired") : QByteArray(PQerrorMessage(conn)).trimmed();
        PQfinish(conn);
        // A server that accepts and never answers (stopped, or a host gone behind a
        // proxy) is told apart from one that refuses or is not there. libpq gives a
        // failed connection no code: its words for a timeout are the only sign when
        // the url's own connect_timeout is shorter than ours.
        const bool timedOut = why.contains("timeout expired") || (timeoutSeconds > 0 && took.elapsed() >= timeoutSeconds * 1000 - 50);
        throw RuntimeError(timedOut ? RuntimeError::DatabaseTimedOut : RuntimeError::DatabaseUnreachable, kSource,
                           QStringLiteral("无法连接数据库：%1").arg(QString::fromUtf8(why)), RuntimeError::Kind::Database);
    }
    return std::make_unique<PgConnection>(conn, answerSeconds, interrupt);
}

bool isTrue(const std::optional<QString> &value)
{
    // PostgreSQL's text output of a boolean is "t" or "f".
    return value && *value == QLatin1String("t");
}

void rollBackAfterFailure(Connection &db)
{
    try {
        db.runScript(QStringLiteral("ROLLBACK"));
    } catch (const RuntimeError &) {
        // The connection is gone as well; the server rolls the transaction back itself.
    }
}

std::optional<QString> passwordIn(const QString &url, QString *problem)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(url.toUtf8().constData(), &error);
    if (!options) {
        if (problem)
            *problem = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("无法识别");
        PQfreemem(error);
        return std::nullopt;
    }
    QString password;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (qstrcmp(o->keyword, "password") == 0 && o->val)
            password = QString::fromUtf8(o->val);
    PQconninfoFree(options);
    return password;
}

} // namespace database
