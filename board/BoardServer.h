#pragma once

#include "board/BoardData.h"
#include "board/BoardOptions.h"
#include "core/RuntimeError.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QList>
#include <QPair>

// The board's web server: the page, its data and the one write, a decision on a
// conflict. With a token every request must carry it (a cookie the page got from
// "/?token=…", or an "Authorization: Bearer" header), otherwise 401 and no data.
// Without a token it answers only requests addressed to this machine by a loopback
// name (so that a web page elsewhere cannot rebind a name of its own onto it), and
// records no decision. Every answer forbids inline script and framing.
namespace board {

struct Response
{
    int status = 200;
    QByteArray type;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

class BoardServer : public QAbstractHttpServer
{
public:
    BoardServer(Options options, BoardData &data, QObject *parent = nullptr);

    // Listens where the options say; the port the system gave, 0 when it failed.
    quint16 start();

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Response respond(const QHttpServerRequest &request);
    // 503 with a plain reason for the page; the whole failure to the log.
    Response unavailable(const RuntimeError &e, const QString &what) const;
    QByteArray cookieName() const;
    bool carriesToken(const QHttpServerRequest &request) const;
    bool addressedToLoopback(const QHttpServerRequest &request) const;
    Response data();
    Response find(const QHttpServerRequest &request);
    Response decide(const QHttpServerRequest &request);

    Options m_options;
    BoardData &m_data;
    quint16 m_port = 0;
};

} // namespace board
