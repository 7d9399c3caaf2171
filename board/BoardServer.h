#pragma once

#include "board/BoardData.h"
#include "board/BoardOptions.h"
#include "board/BoardSessions.h"
#include "board/DatabaseWorkers.h"
#include "board/SharedSnapshot.h"
#include "core/RuntimeError.h"
#include "platform/HttpServer.h"

#include <QByteArray>

// The board's web server: the page, its data and the one write, a decision on a
// conflict. With a token every request must carry it (a cookie the page got from
// "/?token=…", or an "Authorization: Bearer" header), otherwise 401, before any body
// is read, and no data. Without a token it answers only requests addressed to this
// machine by a loopback name (so that a web page elsewhere cannot rebind a name of
// its own onto it), and records no decision. Every answer forbids inline script and
// framing.
//
// The files and the shared data are answered at once on the serving thread; the
// record is read by the snapshot's thread and the workers only.
namespace board {

class BoardServer : public http::Handler
{
public:
    explicit BoardServer(Options options);
    ~BoardServer() override;

    // Listens where the options say; the port the system gave, 0 when it failed.
    quint16 start();

    std::optional<http::Reply> judge(const http::Request &head) override;
    void answer(const http::Request &request, http::Done done) override;

    static constexpr qint64 kLongestBody = 16 * 1024;

private:
    QByteArray cookieName() const;
    QByteArray sessionCookieName() const;
    // The operator of the request's session, if it has a live one.
    std::optional<OnDuty> sessionOf(const http::Request &request);
    QByteArray sessionToken(const http::Request &request) const;
    void logIn(const http::Request &request, http::Done done);
    void me(const http::Request &request, http::Done done);
    bool carriesToken(const http::Request &request) const;
    void find(const http::Request &request, http::Done done);
    void decide(const http::Request &request, http::Done done);
    void rework(const http::Request &request, http::Done done);
    // The job on a worker, or 503 at once when every worker is taken.
    void onWorker(http::Done done, DatabaseWorkers::Job job);

    Options m_options;
    quint16 m_port = 0;
    SharedSnapshot m_snapshot;
    BoardSessions m_sessions; // before the workers: their jobs open sessions until they are joined
    DatabaseWorkers m_workers;
    http::Server m_http; // last: stopped first, while the snapshot and the workers still run
};

} // namespace board
