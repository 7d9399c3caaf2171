#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// A web server for an open network, in the board's terms: every request is judged
// on its head (method, path, headers, declared length) before a byte of its body
// is read, a body is bounded, connections are bounded in number, memory and idle
// time, and an answer may be given later from another thread without holding the
// thread that serves everyone else. HEAD is answered like GET without the body;
// "Connection: close" and HTTP/1.0 are honoured.
namespace http {

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct Request
{
    QByteArray method; // "GET", "HEAD" …
    QByteArray path;   // decoded, without the query
    Headers headers;   // names in lower case
    Headers query;     // decoded
    qint64 contentLength = -1; // -1: none declared
    QByteArray body;   // only for answer(), at most Limits::body bytes

    QByteArray header(const QByteArray &lowerName) const;
    std::optional<QByteArray> queryValue(const QByteArray &name) const;
};

struct Reply
{
    int status = 200;
    QByteArray type;
    QByteArray body;
    Headers headers;
};

struct Limits
{
    unsigned connections = 400;         // at once; more are refused at accept
    unsigned idleSeconds = 30;          // a connection silent this long is closed
    size_t memoryPerConnection = 32 * 1024; // head and buffers of one connection
    qint64 body = 16 * 1024;            // longer: 413, unread
};

using Done = std::function<void(Reply)>;

class Handler
{
public:
    virtual ~Handler() = default;
    // The head alone: a reply here ends the request and its body is never read.
    virtual std::optional<Reply> judge(const Request &head) = 0;
    // The whole request; done() once, now or later from any thread.
    virtual void answer(const Request &request, Done done) = 0;
};

class Server
{
public:
    Server(Handler &handler, Limits limits);
    ~Server();

    // Listens in a thread of its own; the port the system gave, 0 when it failed.
    quint16 start(const QHostAddress &address, quint16 port);
    // Answers what waits with 503 and stops listening.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace http
