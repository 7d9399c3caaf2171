#pragma once

#include "station/ports/OperatorLogin.h"

#include <QByteArray>
#include <QHash>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

// The board's logged-in supervisors and QA: a session each, named by a random token the
// browser keeps in an HttpOnly cookie. A session ends after 8 hours, or 15 minutes without
// a request, or when its holder logs out. Safe to use from any thread.
namespace board {

class BoardSessions
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kLongest{8};
    static constexpr std::chrono::minutes kIdle{15};

    // A new session for the operator; its token (64 hex digits).
    QByteArray begin(const OnDuty &who);
    // The operator of a live session, which the request keeps alive; nothing otherwise.
    std::optional<OnDuty> find(const QByteArray &token);
    void end(const QByteArray &token);

    // For tests: what the clock says now.
    void setClockForTests(std::function<Clock::time_point()> now) { m_now = std::move(now); }

private:
    struct Session
    {
        OnDuty who;
        Clock::time_point opened, seen;
    };
    std::mutex m_lock;
    QHash<QByteArray, Session> m_sessions;
    std::function<Clock::time_point()> m_now = [] { return Clock::now(); };
};

} // namespace board
