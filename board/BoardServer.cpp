#include "board/BoardServer.h"

#include "platform/PasswordHash.h"

#include "board/BoardJson.h"
#include "core/Characters.h"
#include "core/RuntimeError.h"
#include "platform/BuiltIn.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUrl>
#include <cstdio>

namespace board {

namespace {

const QByteArray kCookie = QByteArrayLiteral("zantrel_board");
// A page of another site cannot send this header without the board's consent.
const QByteArray kDecideHeader = QByteArrayLiteral("x-zantrel-board");
constexpr qsizetype kLongestQuery = 200;
constexpr int kWorkers = 2;

http::Reply json(const QJsonObject &o, int status = 200)
{
    return {status, QByteArrayLiteral("application/json; charset=utf-8"), QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
}

http::Reply problem(int status, const QString &message)
{
    return json(QJsonObject{{QStringLiteral("error"), message}}, status);
}

http::Reply resource(const QString &name, const QByteArray &type)
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

http::Reply secured(http::Reply r)
{
    r.headers.append({
        {"Content-Security-Policy", "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                                    "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    return r;
}

// 503 with a plain reason for the page; the whole failure to the log.
http::Reply unavailable(const RuntimeError &e, const QString &what)
{
    std::fprintf(stderr, "zantrel-board：%s\n", e.description().toLocal8Bit().constData());
    return problem(503, QStringLiteral("%1：%2").arg(what, SharedSnapshot::reasonFor(e.number())));
}

bool addressedToLoopback(const http::Request &request)
{
    QByteArray host = request.header("host");
    const qsizetype colon = host.lastIndexOf(':');
    if (colon > 0 && !host.endsWith(']'))
        host.truncate(colon);
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

std::vector<std::unique_ptr<BoardData>> workerConnections(const Options &o)
{
    std::vector<std::unique_ptr<BoardData>> c;
    for (int i = 0; i < kWorkers; ++i)
        c.push_back(std::make_unique<BoardData>(o.url, o.idleMinutes, o.answerSeconds, o.writeUrl));
    return c;
}

http::Limits limitsOf(const Options &o)
{
    http::Limits l;
    l.idleSeconds = o.idleSeconds;
    l.body = BoardServer::kLongestBody;
    return l;
}

QString queryText(const http::Request &r, const QByteArray &name)
{
    return QString::fromUtf8(r.queryValue(name).value_or(QByteArray()));
}

} // namespace

BoardServer::BoardServer(Options options)
    : m_options(std::move(options)),
      m_snapshot(std::make_unique<BoardData>(m_options.url, m_options.idleMinutes, m_options.answerSeconds),
                 [rules = PageRules{m_options.idleMinutes, !m_options.token.isEmpty()}](const Snapshot *last, const Freshness &f) {
                     return QJsonDocument(snapshotJson(last, f, QDateTime::currentSecsSinceEpoch(), rules))
                         .toJson(QJsonDocument::Compact);
                 },
                 m_options.refresh),
      m_workers(workerConnections(m_options)), m_http(*this, limitsOf(m_options))
{
}

BoardServer::~BoardServer()
{
    m_http.stop();
}

quint16 BoardServer::start()
{
    m_port = m_http.start(m_options.address, m_options.port);
    return m_port;
}

QByteArray BoardServer::cookieName() const
{
    // A browser sends a host's cookies to every port of it: the port in the name keeps
    // two boards on one host from logging each other out.
    return kCookie + '_' + QByteArray::number(m_port);
}

bool BoardServer::carriesToken(const http::Request &request) const
{
    const QByteArray token = m_options.token.toUtf8();
    const QByteArray authorization = request.header("authorization");
    if (authorization.startsWith("Bearer ") && sameSecret(authorization.mid(7).trimmed(), token))
        return true;
    const QByteArray name = cookieName() + '=';
    for (const QByteArray &part : request.header("cookie").split(';')) {
        const QByteArray c = part.trimmed();
        if (c.startsWith(name) && sameSecret(c.mid(name.size()), token))
            return true;
    }
    return false;
}

std::optional<http::Reply> BoardServer::judge(const http::Request &head)
{
    const QByteArray &path = head.path;
    const bool get = head.method == "GET" || head.method == "HEAD";
    if (m_options.token.isEmpty()) {
        if (!addressedToLoopback(head))
            return secured(problem(403, QStringLiteral("没有令牌的看板只能用 127.0.0.1 或 localhost 访问")));
    } else if (!carriesToken(head)) {
        // The link a supervisor is given: the token once in the address, then a cookie.
        const QString offered = queryText(head, "token");
        if (get && path == "/" && sameSecret(offered.toUtf8(), m_options.token.toUtf8()))
            return secured({303, {}, {},
                            {{"Location", "/"},
                             {"Set-Cookie", cookieName() + '=' + m_options.token.toUtf8() + "; Path=/; HttpOnly; SameSite=Strict"}}});
        return secured({401, QByteArrayLiteral("text/plain; charset=utf-8"),
                        QStringLiteral("需要令牌：请用管理员给的带令牌的链接打开看板。\n").toUtf8(),
                        {{"WWW-Authenticate", "Bearer realm=\"zantrel-board\""}}});
    }
    if (path == "/api/decide" || path == "/api/rework" || path == "/api/login" || path == "/api/logout") {
        if (head.method != "POST")
            return secured(problem(405, QStringLiteral("只接受 POST")));
        if (m_options.token.isEmpty())
            return secured(problem(403, QStringLiteral("看板未以令牌启动（--token-file），不能修改记录")));
        if (head.header(kDecideHeader) != "decide")
            return secured(problem(403, QStringLiteral("决定只能从看板页面提交")));
        return std::nullopt; // the body is read, at most kLongestBody
    }
    if (!get)
        return secured(problem(405, QStringLiteral("只接受 GET")));
    if (path == "/")
        return secured(resource(QStringLiteral("index.html"), QByteArrayLiteral("text/html; charset=utf-8")));
    if (path == "/board.js")
        return secured(resource(QStringLiteral("board.js"), QByteArrayLiteral("text/javascript; charset=utf-8")));
    if (path == "/board.css")
        return secured(resource(QStringLiteral("board.css"), QByteArrayLiteral("text/css; charset=utf-8")));
    if (path == "/api/board" || path == "/api/me")
        return std::nullopt;
    if (path == "/api/find") {
        const QString q = queryText(head, "q").trimmed();
        if (q.isEmpty() || characters::count(q) > kLongestQuery)
            return secured(problem(400, QStringLiteral("请输入内包条码或外箱号（至多 %1 个字符）").arg(kLongestQuery)));
        return std::nullopt;
    }
    if (path == "/api/batch") {
        const QString b = queryText(head, "b").trimmed();
        if (b.isEmpty() || characters::count(b) > kLongestQuery)
            return secured(problem(400, QStringLiteral("请给出批次号（至多 %1 个字符）").arg(kLongestQuery)));
        return std::nullopt;
    }
    return secured(problem(404, QStringLiteral("没有这一页")));
}

void BoardServer::answer(const http::Request &request, http::Done done)
{
    if (request.path == "/api/board") {
        m_snapshot.watch([done](PageData page) {
            done(secured({200, QByteArrayLiteral("application/json; charset=utf-8"), *page, {}}));
        });
    } else if (request.path == "/api/find") {
        find(request, std::move(done));
    } else if (request.path == "/api/batch") {
        const QString b = queryText(request, "b").trimmed();
        onWorker(done, [b, done](BoardData &data) {
            try {
                done(secured(json(batchBoxesJson(b, data.batchBoxes(b)))));
            } catch (const RuntimeError &e) {
                done(secured(unavailable(e, QStringLiteral("批次的外箱无法读取"))));
            }
        });
    } else if (request.path == "/api/rework") {
        rework(request, std::move(done));
    } else if (request.path == "/api/login") {
        logIn(request, std::move(done));
    } else if (request.path == "/api/logout") {
        m_sessions.end(sessionToken(request));
        http::Reply r = json(QJsonObject{{QStringLiteral("loggedIn"), false}});
        r.headers.push_back({"Set-Cookie", sessionCookieName() + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0"});
        done(secured(r));
    } else if (request.path == "/api/me") {
        me(request, std::move(done));
    } else {
        decide(request, std::move(done));
    }
}

void BoardServer::onWorker(http::Done done, DatabaseWorkers::Job job)
{
    if (!m_workers.post(std::move(job)))
        done(secured(problem(503, QStringLiteral("看板正忙，请稍后再试"))));
}

void BoardServer::find(const http::Request &request, http::Done done)
{
    const QString q = queryText(request, "q").trimmed();
    onWorker(done, [q, done](BoardData &data) {
        try {
            done(secured(json(lookupJson(q, data.lookup(q), data.history(q)))));
        } catch (const RuntimeError &e) {
            done(secured(unavailable(e, QStringLiteral("查找失败"))));
        }
    });
}

void BoardServer::rework(const http::Request &request, http::Done done)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    const std::optional<rework::Kind> kind = changekind::named(doc.object().value(QStringLiteral("kind")).toString());
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !kind)
        return done(secured(problem(400, QStringLiteral("提交的内容无法识别"))));
    const QJsonObject o = doc.object();
    rework::Change c;
    c.kind = *kind;
    c.box = o.value(QStringLiteral("box")).toString();
    c.station = o.value(QStringLiteral("station")).toString();
    c.barcode = o.value(QStringLiteral("barcode")).toString();
    c.person = o.value(QStringLiteral("person")).toString();
    c.reason = o.value(QStringLiteral("reason")).toString();
    c.note = o.value(QStringLiteral("note")).toString();
    if (c.box.isEmpty() || characters::count(c.box) > kLongestQuery || characters::count(c.station) > kLongestQuery
        || characters::count(c.barcode) > kLongestQuery)
        return done(secured(problem(400, QStringLiteral("请填写外箱号（至多 %1 个字符）").arg(kLongestQuery))));
    // Signed by the one logged in, his password asked again: the change is his, by his name.
    const std::optional<OnDuty> who = sessionOf(request);
    QString password = o.value(QStringLiteral("password")).toString();
    onWorker(done, [c, who, password, done](BoardData &data) mutable {
        try {
            QString signedBy;
            if (who) {
                const OnDuty signer = data.logIn(who->id, password);
                passwordhash::wipe(password);
                signedBy = signer.id;
                c.person = signer.name;
            }
            done(secured(json(QJsonObject{{QStringLiteral("changeId"), QString::number(data.rework(c, signedBy))}})));
        } catch (const RuntimeError &e) {
            if (e.number() == RuntimeError::DatabaseNotAllowed)
                return done(secured(problem(403, QStringLiteral("看板的数据库登录不属于 zantrel_rework，不能修改记录"))));
            // The change's own refusals are plain Chinese; the server's words stay in the log.
            if (e.number() == RuntimeError::ChangeRefused)
                return done(secured(problem(409, e.description())));
            done(secured(unavailable(e, QStringLiteral("修改未记录"))));
        }
    });
}

QByteArray BoardServer::sessionCookieName() const
{
    return "zantrel_session_" + QByteArray::number(m_port);
}

QByteArray BoardServer::sessionToken(const http::Request &request) const
{
    const QByteArray name = sessionCookieName() + '=';
    for (const QByteArray &part : request.header("cookie").split(';')) {
        const QByteArray c = part.trimmed();
        if (c.startsWith(name))
            return c.mid(name.size());
    }
    return {};
}

std::optional<OnDuty> BoardServer::sessionOf(const http::Request &request)
{
    const QByteArray token = sessionToken(request);
    return token.isEmpty() ? std::nullopt : m_sessions.find(token);
}

void BoardServer::logIn(const http::Request &request, http::Done done)
{
    const QJsonObject o = QJsonDocument::fromJson(request.body).object();
    const QString id = o.value(QStringLiteral("id")).toString().trimmed();
    QString password = o.value(QStringLiteral("password")).toString();
    if (id.isEmpty() || password.isEmpty())
        return done(secured(problem(400, QStringLiteral("请填写工号和密码"))));
    onWorker(done, [this, id, password, done](BoardData &data) mutable {
        try {
            const OnDuty who = data.logIn(id, password);
            passwordhash::wipe(password);
            const QByteArray token = m_sessions.begin(who);
            http::Reply r = json(QJsonObject{{QStringLiteral("loggedIn"), true}, {QStringLiteral("id"), who.id}, {QStringLiteral("name"), who.name}});
            // The browser keeps it from scripts and sends it to this board only.
            r.headers.push_back({"Set-Cookie", sessionCookieName() + '=' + token + "; Path=/; HttpOnly; SameSite=Strict; Max-Age="
                                                   + QByteArray::number(qint64(std::chrono::seconds(BoardSessions::kLongest).count()))});
            done(secured(r));
        } catch (const RuntimeError &e) {
            passwordhash::wipe(password);
            if (e.number() == RuntimeError::ChangeRefused)
                return done(secured(problem(403, e.description())));
            done(secured(unavailable(e, QStringLiteral("登录失败"))));
        }
    });
}

void BoardServer::me(const http::Request &request, http::Done done)
{
    const std::optional<OnDuty> who = sessionOf(request);
    onWorker(done, [who, done](BoardData &data) {
        try {
            done(secured(json(QJsonObject{{QStringLiteral("operators"), data.hasOperators()},
                                          {QStringLiteral("loggedIn"), who.has_value()},
                                          {QStringLiteral("id"), who ? who->id : QString()},
                                          {QStringLiteral("name"), who ? who->name : QString()}})));
        } catch (const RuntimeError &e) {
            done(secured(unavailable(e, QStringLiteral("无法读取"))));
        }
    });
}

void BoardServer::decide(const http::Request &request, http::Done done)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return done(secured(problem(400, QStringLiteral("提交的内容无法识别"))));
    const QJsonObject o = doc.object();
    Decision d;
    d.secondBoxId = o.value(QStringLiteral("secondBoxId")).toString();
    d.barcode = o.value(QStringLiteral("barcode")).toString();
    d.firstBoxId = o.value(QStringLiteral("firstBoxId")).toString();
    d.keepIn = o.value(QStringLiteral("keepIn")).toString();
    d.decidedBy = o.value(QStringLiteral("decidedBy")).toString();
    d.reason = o.value(QStringLiteral("reason")).toString();
    d.corrects = o.value(QStringLiteral("corrects")).toString();
    // Signed by the one logged in, his password asked again: the decision is his, by his name.
    const std::optional<OnDuty> who = sessionOf(request);
    QString password = o.value(QStringLiteral("password")).toString();
    onWorker(done, [d, who, password, done](BoardData &data) mutable {
        try {
            if (who) {
                const OnDuty signer = data.logIn(who->id, password);
                passwordhash::wipe(password);
                d.signedBy = signer.id;
                d.decidedBy = signer.name;
            }
            switch (data.decide(d)) {
            case DecisionResult::NotSigned:
                return done(secured(problem(403, QStringLiteral("中央记录有操作员：请先用工号登录看板，决定时再输入密码"))));
            case DecisionResult::Recorded:
                return done(secured(json(QJsonObject{{QStringLiteral("recorded"), true}})));
            case DecisionResult::AlreadySettled:
                return done(secured(problem(409, d.corrects.isEmpty() ? QStringLiteral("这个重复包已经有人决定了")
                                                                      : QStringLiteral("这个决定已被他人更正，请看最新的决定"))));
            case DecisionResult::NoSuchConflict:
                return done(secured(problem(404, QStringLiteral("中央记录中没有这个重复包"))));
            case DecisionResult::NotAllowed:
                return done(secured(problem(403, QStringLiteral("看板的数据库登录不属于 zantrel_supervisor，不能记录决定"))));
            case DecisionResult::Invalid:
                break;
            }
            done(secured(problem(400, QStringLiteral("请填写姓名（至多 %1 字）和原因（至多 %2 字），并选择保留在哪一箱")
                                          .arg(kLongestName).arg(kLongestReason))));
        } catch (const RuntimeError &e) {
            if (e.number() == RuntimeError::ChangeRefused)
                return done(secured(problem(403, e.description())));
            done(secured(unavailable(e, QStringLiteral("决定未记录"))));
        }
    });
}

} // namespace board
