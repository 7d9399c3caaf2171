#include "board/BoardSessions.h"

#include <QRandomGenerator>

namespace board {

QByteArray BoardSessions::begin(const OnDuty &who)
{
    QByteArray bytes(32, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    const QByteArray token = bytes.toHex();
    const std::lock_guard<std::mutex> hold(m_lock);
    const Clock::time_point now = m_now();
    // Ended ones go when a new one begins: the table never grows past the sessions alive.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = now - it->opened > kLongest || now - it->seen > kIdle ? m_sessions.erase(it) : std::next(it);
    m_sessions.insert(token, {who, now, now});
    return token;
}

std::optional<OnDuty> BoardSessions::find(const QByteArray &token)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return std::nullopt;
    const Clock::time_point now = m_now();
    if (now - it->opened > kLongest || now - it->seen > kIdle) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->seen = now;
    return it->who;
}

void BoardSessions::end(const QByteArray &token)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_sessions.remove(token);
}

} // namespace board
