#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The plant's record, a PostgreSQL database, in the station's terms: a connection
// made from a libpq connection string or URI (service and password files, TLS
// options: libpq's own, passed through untouched), statements that take their
// values only as parameters, and rows of text back. Never used on the window's
// thread. Every failure raises a RuntimeError (source "Database") with the server's
// or libpq's words.
namespace database {

// One row: each column's text, nothing for NULL.
using Row = std::vector<std::optional<QString>>;

class Connection
{
public:
    virtual ~Connection() = default;

    // A statement with $1, $2 … standing for the parameters, which are sent apart
    // from it: no value is ever pasted into SQL text.
    virtual std::vector<Row> run(const QString &sql, const QStringList &parameters = {}) = 0;
    // The same, for a statement this connection runs over and over (every delivery):
    // prepared on the server at its first use and kept there with its plan, so that it
    // is not planned again each time.
    virtual std::vector<Row> runOften(const QString &sql, const QStringList &parameters = {}) = 0;
    // Several statements without parameters, as one string (a migration file).
    virtual void runScript(const QString &sql) = 0;
};

// A column's text; "" for NULL.
inline QString text(const Row &row, size_t column)
{
    return row[column].value_or(QString());
}
// A whole-number column; none for NULL.
inline qint64 number(const Row &row, size_t column, qint64 none = 0)
{
    return row[column] ? row[column]->toLongLong() : none;
}
// A boolean column as the server sends it in text; false for NULL.
bool isTrue(const std::optional<QString> &value);

// Ends a transaction that failed part-way; when even that fails the connection is
// gone, and the server rolls the transaction back by itself.
void rollBackAfterFailure(Connection &db);

// What the owner of a thread raises to end that thread's waits for a server at once:
// a connection made with it closes and raises from any wait for an answer, and a
// connect to one server ends too (one to several waits for libpq's timeouts). Once
// raised it stays so.
class Interrupt
{
public:
    Interrupt();
    ~Interrupt();
    Interrupt(const Interrupt &) = delete;
    Interrupt &operator=(const Interrupt &) = delete;
    void raise();
    int fd() const { return m_fd; } // readable once raised

private:
    int m_fd;
};

// Raises when the server cannot be reached or refuses the login. Every statement
// of the connection then waits at most answerSeconds for the server (0: for ever):
// a server process that was stopped accepts and never answers, and a caller must
// get its thread back (the connection is closed; connect again).
// Every connection reads and writes UTF-8 and has TCP keepalives (unless the url
// sets its own).
// With an interrupt, every wait also ends when it is raised.
std::unique_ptr<Connection> connect(const QString &url, int timeoutSeconds = 10, int answerSeconds = 0,
                                    const Interrupt *interrupt = nullptr);
// The options connect() adds to the url's, as keyword and value.
std::vector<std::pair<QByteArray, QByteArray>> optionsAdded(const QString &url, int timeoutSeconds);

// The password a connection string or URI holds, if any ("" when none); nothing
// when libpq cannot read it at all, with why in *problem.
std::optional<QString> passwordIn(const QString &url, QString *problem);

} // namespace database
