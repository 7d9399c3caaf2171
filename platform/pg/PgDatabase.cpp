#include "platform/Database.h"

#include "core/RuntimeError.h"

#include <libpq-fe.h>

namespace database {

namespace {

const QString kSource = QStringLiteral("Database");

[[noreturn]] void fail(const QString &what, const char *libpqText)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, kSource,
                       QStringLiteral("%1：%2").arg(what, QString::fromUtf8(libpqText).trimmed()));
}

class PgConnection : public Connection
{
public:
    explicit PgConnection(PGconn *conn) : m_conn(conn) {}
    ~PgConnection() override { PQfinish(m_conn); }

    std::vector<Row> run(const QString &sql, const QStringList &parameters) override
    {
        std::vector<QByteArray> values;
        values.reserve(size_t(parameters.size()));
        std::vector<const char *> pointers;
        for (const QString &p : parameters) {
            values.push_back(p.toUtf8());
            pointers.push_back(p.isNull() ? nullptr : values.back().constData());
        }
        const QByteArray text = sql.toUtf8();
        PGresult *result = PQexecParams(m_conn, text.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr,
                                        nullptr, 0);
        return rowsOf(result);
    }

    void runScript(const QString &sql) override
    {
        const QByteArray text = sql.toUtf8();
        rowsOf(PQexec(m_conn, text.constData()));
    }

private:
    std::vector<Row> rowsOf(PGresult *result)
    {
        struct Owned
        {
            PGresult *r;
            ~Owned() { PQclear(r); }
        } owned{result};
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(QStringLiteral("数据库语句失败"), result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn));
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

    PGconn *m_conn;
};

} // namespace

std::unique_ptr<Connection> connect(const QString &url, int timeoutSeconds)
{
    // The caller's string goes to libpq as it is; only a connect timeout is added
    // (as a second, expanded set of options, so a URI keeps its own meaning).
    const QByteArray dbname = url.toUtf8();
    const QByteArray timeout = QByteArray::number(timeoutSeconds);
    const char *keys[] = {"dbname", "connect_timeout", "client_encoding", nullptr};
    const char *values[] = {dbname.constData(), timeout.constData(), "UTF8", nullptr};
    PGconn *conn = PQconnectdbParams(keys, values, 1);
    if (!conn)
        fail(QStringLiteral("无法连接数据库"), "out of memory");
    if (PQstatus(conn) != CONNECTION_OK) {
        const QString why = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQfinish(conn);
        throw RuntimeError(RuntimeError::WorkbookFailed, kSource, QStringLiteral("无法连接数据库：%1").arg(why));
    }
    return std::make_unique<PgConnection>(conn);
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
