#include "platform/HttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>

namespace http {

QByteArray Request::header(const QByteArray &lowerName) const
{
    for (const auto &h : headers)
        if (h.first == lowerName)
            return h.second;
    return QByteArray();
}

std::optional<QByteArray> Request::queryValue(const QByteArray &name) const
{
    for (const auto &q : query)
        if (q.first == name)
            return q.second;
    return std::nullopt;
}

namespace {

// One request from its head to its answer. The answer may come from another thread:
// what it touches is guarded by the lock, and the connection is forgotten once MHD
// is done with it.
struct Pending
{
    std::mutex lock;
    Request request;
    MHD_Connection *connection = nullptr;
    bool dispatched = false;
    bool suspended = false;
    std::optional<Reply> reply;
};

using Slot = std::shared_ptr<Pending>;

MHD_Result queue(MHD_Connection *c, const Reply &r)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(r.body.size()), const_cast<char *>(r.body.constData()),
                                                              MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    // A header MHD refuses (a line break in a value) is left out rather than sent broken.
    for (const auto &h : r.headers)
        MHD_add_response_header(response, h.first.constData(), h.second.constData());
    if (!r.type.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.type.constData());
    const MHD_Result queued = MHD_queue_response(c, unsigned(r.status), response);
    MHD_destroy_response(response);
    return queued;
}

Reply plain(int status, const QString &text)
{
    return {status, QByteArrayLiteral("text/plain; charset=utf-8"), text.toUtf8() + '\n', {}};
}

MHD_Result collect(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *into = static_cast<Headers *>(cls);
    into->append({QByteArray(key), value ? QByteArray(value) : QByteArray("")});
    return MHD_YES;
}

} // namespace

struct Server::Impl
{
    Handler &handler;
    Limits limits;
    MHD_Daemon *daemon = nullptr;
    std::mutex lock;
    std::set<Slot> waiting; // suspended until their answer comes
    bool stopping = false;

    Impl(Handler &h, Limits l) : handler(h), limits(l) {}

    static MHD_Result onRequest(void *cls, MHD_Connection *c, const char *url, const char *method, const char *,
                                const char *upload, size_t *uploadSize, void **slot)
    {
        return static_cast<Impl *>(cls)->request(c, url, method, upload, uploadSize, reinterpret_cast<Slot **>(slot));
    }

    static void onCompleted(void *cls, MHD_Connection *, void **slot, MHD_RequestTerminationCode)
    {
        auto *held = static_cast<Slot *>(*slot);
        if (!held)
            return;
        {
            std::lock_guard<std::mutex> g((*held)->lock);
            (*held)->connection = nullptr; // an answer that comes later goes nowhere
        }
        {
            std::lock_guard<std::mutex> g(static_cast<Impl *>(cls)->lock);
            static_cast<Impl *>(cls)->waiting.erase(*held);
        }
        delete held;
        *slot = nullptr;
    }

    MHD_Result request(MHD_Connection *c, const char *url, const char *method, const char *upload, size_t *uploadSize,
                       Slot **slot)
    {
        if (!*slot)
            return head(c, url, method, slot);
        Slot p = **slot;
        if (*uploadSize > 0) {
            // Only a body without a declared length can grow past the limit here; it is
            // dropped with its connection, as a response cannot be queued mid-upload.
            if (p->request.body.size() + qint64(*uploadSize) > limits.body)
                return MHD_NO;
            p->request.body.append(upload, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        std::unique_lock<std::mutex> g(p->lock);
        if (p->reply)
            return queue(c, *p->reply);
        if (p->dispatched)
            return MHD_YES;
        p->dispatched = true;
        {
            std::lock_guard<std::mutex> s(lock);
            if (stopping)
                return queue(c, plain(503, QStringLiteral("看板正在停止")));
        }
        g.unlock();
        handler.answer(p->request, [p](Reply r) {
            std::lock_guard<std::mutex> done(p->lock);
            if (p->reply)
                return;
            p->reply = std::move(r);
            if (p->suspended && p->connection) {
                p->suspended = false;
                MHD_resume_connection(p->connection);
            }
        });
        g.lock();
        if (p->reply)
            return queue(c, *p->reply);
        MHD_suspend_connection(c);
        p->suspended = true;
        std::lock_guard<std::mutex> s(lock);
        waiting.insert(p);
        return MHD_YES;
    }

    MHD_Result head(MHD_Connection *c, const char *url, const char *method, Slot **slot)
    {
        auto p = std::make_shared<Pending>();
        p->connection = c;
        Request &r = p->request;
        r.method = method;
        r.path = url;
        MHD_get_connection_values(c, MHD_HEADER_KIND, collect, &r.headers);
        for (auto &h : r.headers)
            h.first = h.first.toLower();
        MHD_get_connection_values(c, MHD_GET_ARGUMENT_KIND, collect, &r.query);
        const QByteArray length = r.header("content-length");
        if (!length.isEmpty()) {
            bool ok = false;
            r.contentLength = length.trimmed().toLongLong(&ok);
            if (!ok || r.contentLength < 0)
                return queue(c, plain(400, QStringLiteral("请求的长度无法识别")));
        }
        *slot = new Slot(p);
        // The handler first: a stranger is turned away (401) whatever length he declares.
        if (std::optional<Reply> early = handler.judge(r))
            return queue(c, *early);
        if (r.contentLength > limits.body)
            return queue(c, plain(413, QStringLiteral("请求的内容太长")));
        return MHD_YES;
    }
};

Server::Server(Handler &handler, Limits limits) : m(std::make_unique<Impl>(handler, limits)) {}

Server::~Server()
{
    stop();
}

quint16 Server::start(const QHostAddress &address, quint16 port)
{
    stop();
    m->stopping = false;
    sockaddr_storage where{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&where);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        flags |= MHD_USE_IPv6;
        if (address == QHostAddress::AnyIPv6)
            flags |= MHD_USE_DUAL_STACK;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&where);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    m->daemon = MHD_start_daemon(flags, port, nullptr, nullptr, &Impl::onRequest, m.get(),
                                 MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&where),
                                 MHD_OPTION_CONNECTION_LIMIT, m->limits.connections,
                                 MHD_OPTION_CONNECTION_TIMEOUT, m->limits.idleSeconds,
                                 MHD_OPTION_CONNECTION_MEMORY_LIMIT, m->limits.memoryPerConnection,
                                 MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, m.get(),
                                 MHD_OPTION_END);
    if (!m->daemon)
        return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? quint16(info->port) : port;
}

void Server::stop()
{
    if (!m->daemon)
        return;
    std::set<Slot> waiting;
    {
        std::lock_guard<std::mutex> g(m->lock);
        m->stopping = true;
        waiting = m->waiting;
    }
    // MHD must not be stopped with a connection suspended: each gets its 503 now.
    for (const Slot &p : waiting) {
        std::lock_guard<std::mutex> g(p->lock);
        if (p->suspended && p->connection) {
            p->reply = plain(503, QStringLiteral("看板正在停止"));
            p->suspended = false;
            MHD_resume_connection(p->connection);
        }
    }
    MHD_stop_daemon(m->daemon);
    m->daemon = nullptr;
}

} // namespace http
