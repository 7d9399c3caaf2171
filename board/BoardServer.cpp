#include "board/BoardServer.h"

#include "board/BoardJson.h"
#include "core/RuntimeError.h"
#include "platform/BuiltIn.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <cstdio>
#include <QTcpSocket>
#include <QUrlQuery>

namespace board {

namespace {

const QByteArray kCookie = QByteArrayLiteral("zantrel_board");
// A page of another site cannot send this header without the board's consent.
const QByteArray kDecideHeader = QByteArrayLiteral("x-zantrel-board");
constexpr qsizetype kLongestQuery = 200;
constexpr qsizetype kLongestBody = 16 * 1024;

Response json(const QJsonObject &o, int status = 200)
{
    return {status, QByteArrayLiteral("application/json; charset=utf-8"), QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
}

Response problem(int status, const QString &message)
{
    return json(QJsonObject{{QStringLiteral("error"), message}}, status);
}

Response resource(const QString &name, const QByteArray &type)
{
    const std::optional<QByteArray> page = builtin::read(QStringLiteral(":/board/page/") + name);
    if (!page)
        return problem(404, QStringLiteral("没有这一页"));
    return {200, type, *page, {}};
}

// The same time for both, whatever the token, so that no comparison tells how much matched.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    if (b.isEmpty())
        return false;
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i % b.size()]);
    return diff == 0;
}

qint64 localMidnight()
{
    return QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
}

void send(QHttpServerResponder &responder, const Response &r)
{
    responder.writeStatusLine(QHttpServerResponder::StatusCode(r.status));
    const QList<QPair<QByteArray, QByteArray>> always{
        {"Content-Security-Policy", "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                                    "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    for (const auto &h : always)
        responder.writeHeader(h.first, h.second);
    for (const auto &h : r.headers)
        responder.writeHeader(h.first, h.second);
    if (!r.type.isEmpty())
        responder.writeHeader("Content-Type", r.type);
    responder.writeHeader("Content-Length", QByteArray::number(r.body.size()));
    responder.writeBody(r.body);
}

} // namespace

BoardServer::BoardServer(Options options, BoardData &data, QObject *parent)
    : QAbstractHttpServer(parent), m_options(std::move(options)), m_data(data)
{
}

quint16 BoardServer::start()
{
    m_port = listen(m_options.address, m_options.port);
    return m_port;
}

bool BoardServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, respond(request));
    return true;
}

void BoardServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Every request is answered by handleRequest; this is never reached.
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, problem(404, QStringLiteral("没有这一页")));
}

bool BoardServer::carriesToken(const QHttpServerRequest &request) const
{
    const QByteArray token = m_options.token.toUtf8();
    const QByteArray authorization = request.value("authorization");
    if (authorization.startsWith("Bearer ") && sameSecret(authorization.mid(7).trimmed(), token))
        return true;
    const QByteArray name = cookieName() + '=';
    for (const QByteArray &part : request.value("cookie").split(';')) {
        const QByteArray c = part.trimmed();
        if (c.startsWith(name) && sameSecret(c.mid(name.size()), token))
            return true;
    }
    return false;
}

QByteArray BoardServer::cookieName() const
{
    // A browser sends a host's cookies to every port of it: the port in the name keeps
    // two boards on one host from logging each other out.
    return kCookie + '_' + QByteArray::number(m_port);
}

bool BoardServer::addressedToLoopback(const QHttpServerRequest &request) const
{
    QByteArray host = request.value("host");
    const qsizetype colon = host.lastIndexOf(':');
    if (colon > 0 && !host.endsWith(']'))
        host.truncate(colon);
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

Response BoardServer::respond(const QHttpServerRequest &request)
{
    const QString path = request.url().path();
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    if (m_options.token.isEmpty()) {
        if (!addressedToLoopback(request))
            return problem(403, QStringLiteral("没有令牌的看板只能用 127.0.0.1 或 localhost 访问"));
    } else if (!carriesToken(request)) {
        // The link a supervisor is given: the token once in the address, then a cookie.
        const QString offered = request.query().queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        if (get && path == QLatin1String("/") && sameSecret(offered.toUtf8(), m_options.token.toUtf8()))
            return {303, {}, {},
                    {{"Location", "/"},
                     {"Set-Cookie", cookieName() + '=' + m_options.token.toUtf8() + "; Path=/; HttpOnly; SameSite=Strict"}}};
        Response r{401, QByteArrayLiteral("text/plain; charset=utf-8"),
                   QStringLiteral("需要令牌：请用管理员给的带令牌的链接打开看板。\n").toUtf8(), {}};
        r.headers.append(qMakePair(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer realm=\"zantrel-board\"")));
        return r;
    }
    if (path == QLatin1String("/api/decide")) {
        if (request.method() != QHttpServerRequest::Method::Post)
            return problem(405, QStringLiteral("只接受 POST"));
        return decide(request);
    }
    if (!get)
        return problem(405, QStringLiteral("只接受 GET"));
    if (path == QLatin1String("/"))
        return resource(QStringLiteral("index.html"), QByteArrayLiteral("text/html; charset=utf-8"));
    if (path == QLatin1String("/board.js"))
        return resource(QStringLiteral("board.js"), QByteArrayLiteral("text/javascript; charset=utf-8"));
    if (path == QLatin1String("/board.css"))
        return resource(QStringLiteral("board.css"), QByteArrayLiteral("text/css; charset=utf-8"));
    if (path == QLatin1String("/api/board"))
        return data();
    if (path == QLatin1String("/api/find"))
        return find(request);
    return problem(404, QStringLiteral("没有这一页"));
}

Response BoardServer::data()
{
    try {
        const Snapshot s = m_data.snapshot(localMidnight());
        return json(snapshotJson(s, QDateTime::currentSecsSinceEpoch(), m_options.idleMinutes, !m_options.token.isEmpty()));
    } catch (const RuntimeError &e) {
        return unavailable(e, QStringLiteral("中央记录不可用"));
    }
}

Response BoardServer::unavailable(const RuntimeError &e, const QString &what) const
{
    // The page gets a plain reason; the server's words, socket paths and host names go
    // to the board's log only.
    std::fprintf(stderr, "zantrel-board：%s\n", e.description().toLocal8Bit().constData());
    const int n = e.number();
    const QString why = n == RuntimeError::DatabaseUnreachable ? QStringLiteral("无法连接中央记录")
                        : n == RuntimeError::DatabaseTimedOut  ? QStringLiteral("中央记录无响应")
                        : n == RuntimeError::SchemaUnusable    ? QStringLiteral("中央记录的架构不可用，请管理员运行 zantrel-db init")
                                                               : QStringLiteral("中央记录出错，详情见看板的日志");
    return problem(503, QStringLiteral("%1：%2").arg(what, why));
}

Response BoardServer::find(const QHttpServerRequest &request)
{
    const QString q = request.query().queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed();
    if (q.isEmpty() || q.size() > kLongestQuery)
        return problem(400, QStringLiteral("请输入内包条码或外箱号（至多 %1 个字符）").arg(kLongestQuery));
    try {
        return json(lookupJson(q, m_data.lookup(q)));
    } catch (const RuntimeError &e) {
        return unavailable(e, QStringLiteral("中央记录不可用"));
    }
}

Response BoardServer::decide(const QHttpServerRequest &request)
{
    if (m_options.token.isEmpty())
        return problem(403, QStringLiteral("看板未以令牌启动（--token-file），不能记录决定"));
    if (request.value(kDecideHeader) != "decide")
        return problem(403, QStringLiteral("决定只能从看板页面提交"));
    if (request.body().size() > kLongestBody)
        return problem(413, QStringLiteral("提交的内容太长"));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return problem(400, QStringLiteral("提交的内容无法识别"));
    const QJsonObject o = doc.object();
    Decision d;
    d.secondBoxId = o.value(QStringLiteral("secondBoxId")).toString();
    d.barcode = o.value(QStringLiteral("barcode")).toString();
    d.firstBoxId = o.value(QStringLiteral("firstBoxId")).toString();
    d.keepIn = o.value(QStringLiteral("keepIn")).toString();
    d.decidedBy = o.value(QStringLiteral("decidedBy")).toString();
    d.reason = o.value(QStringLiteral("reason")).toString();
    try {
        switch (m_data.decide(d)) {
        case DecisionResult::Recorded:
            return json(QJsonObject{{QStringLiteral("recorded"), true}});
        case DecisionResult::AlreadySettled:
            return problem(409, QStringLiteral("这个重复包已经有人决定了"));
        case DecisionResult::NoSuchConflict:
            return problem(404, QStringLiteral("中央记录中没有这个重复包"));
        case DecisionResult::NotAllowed:
            return problem(403, QStringLiteral("看板的数据库登录不属于 zantrel_supervisor，不能记录决定"));
        case DecisionResult::Invalid:
            break;
        }
        return problem(400, QStringLiteral("请填写姓名（至多 %1 字）和原因（至多 %2 字），并选择保留在哪一箱")
                                .arg(BoardData::kLongestName).arg(BoardData::kLongestReason));
    } catch (const RuntimeError &e) {
        return unavailable(e, QStringLiteral("中央记录不可用，决定未记录"));
    }
}

} // namespace board
