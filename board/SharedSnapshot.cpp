#include "board/SharedSnapshot.h"

#include "core/RuntimeError.h"

#include <QDateTime>
#include <cstdio>

namespace board {

namespace {

// Reading stops this long after the last viewer asked.
constexpr auto kWatchedFor = std::chrono::seconds(15);

qint64 localMidnight()
{
    return QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
}

} // namespace

SharedSnapshot::SharedSnapshot(std::unique_ptr<BoardData> data, Compose compose, std::chrono::milliseconds period)
    : m_data(std::move(data)), m_compose(std::move(compose)), m_period(period),
      m_lastWatched(std::chrono::steady_clock::now()), m_nextRead(m_lastWatched)
{
    // The first read starts at once, so that the first viewer seldom waits.
    m_worker.start([this] { run(); });
}

SharedSnapshot::~SharedSnapshot()
{
    m_worker.stop();
}

QString SharedSnapshot::reasonFor(int n)
{
    return n == RuntimeError::DatabaseUnreachable ? QStringLiteral("无法连接中央记录")
           : n == RuntimeError::DatabaseTimedOut  ? QStringLiteral("中央记录无响应")
           : n == RuntimeError::SchemaUnusable    ? QStringLiteral("中央记录的架构不可用，请管理员运行 zantrel-db init")
                                                  : QStringLiteral("中央记录出错，详情见看板的日志");
}

void SharedSnapshot::watch(Ready whenReady)
{
    PageData page;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        const bool wasIdle = std::chrono::steady_clock::now() - m_lastWatched >= kWatchedFor;
        m_lastWatched = std::chrono::steady_clock::now();
        if (wasIdle)
            m_worker.wake();
        page = m_page;
        if (!page) {
            m_waiting.push_back(std::move(whenReady));
            return;
        }
    }
    whenReady(page);
}

void SharedSnapshot::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> g(m_worker.lock());
            for (;;) {
                if (m_worker.stopping())
                    return;
                const auto now = std::chrono::steady_clock::now();
                const bool watched = now - m_lastWatched < kWatchedFor;
                if (watched && now >= m_nextRead)
                    break;
                if (watched)
                    m_worker.waitUntil(g, m_nextRead, [] { return false; });
                else
                    m_worker.wait(g, [this] { return std::chrono::steady_clock::now() - m_lastWatched < kWatchedFor; });
            }
            m_nextRead = std::chrono::steady_clock::now() + m_period;
        }
        readOnce();
    }
}

void SharedSnapshot::readOnce()
{
    Freshness f;
    try {
        auto s = std::make_unique<Snapshot>(m_data->snapshot(localMidnight()));
        m_last = std::move(s);
        m_lastAt = QDateTime::currentSecsSinceEpoch();
        f.fresh = true;
        m_lastLogged.clear();
    } catch (const RuntimeError &e) {
        f.problem = reasonFor(e.number());
        // Told once per kind of failure, not at every read while it lasts.
        if (e.description() != m_lastLogged) {
            std::fprintf(stderr, "zantrel-board：中央记录读取失败：%s\n", e.description().toLocal8Bit().constData());
            m_lastLogged = e.description();
        }
    }
    f.asOf = m_lastAt;
    auto page = std::make_shared<const QByteArray>(m_compose(m_last.get(), f));
    std::vector<Ready> waiting;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_page = page;
        waiting.swap(m_waiting);
    }
    for (Ready &r : waiting)
        r(page);
}

} // namespace board
