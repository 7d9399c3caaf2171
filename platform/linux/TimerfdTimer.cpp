#include "core/RuntimeError.h"
#include "platform/linux/SystemCall.h"
#include "platform/EventPump.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

const QString kSource = QStringLiteral("OneShotTimer");

// A timerfd; a socket notifier on it wakes the event loop when it fires.
class TimerfdTimer : public OneShotTimer
{
public:
    TimerfdTimer()
    {
        m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        if (m_fd < 0)
            throw RuntimeError::fromErrno(errno, kSource, QStringLiteral("无法创建定时器"));
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        // Once fired the descriptor stays readable; the notifier only has to wake the loop once.
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { m_notifier->setEnabled(false); });
    }

    ~TimerfdTimer() override
    {
        m_notifier.reset();
        ::close(m_fd);
    }

    void arm(int64_t dueTime) override
    {
        // Zero in the settings would disarm a timerfd; the shortest real delay stands for "already due".
        int64_t nanos = dueTime < 0 ? -dueTime * 100 : 1;
        if (nanos == 0)
            nanos = 1;
        itimerspec due {};
        due.it_value.tv_sec = time_t(nanos / 1000000000);
        due.it_value.tv_nsec = long(nanos % 1000000000);
        if (::timerfd_settime(m_fd, 0, &due, nullptr) != 0)
            throw RuntimeError::fromErrno(errno, kSource, QStringLiteral("无法设置定时器"));
        m_notifier->setEnabled(true);
    }

    Wake sleepUntilTimerOrEvents() override
    {
        if (fired())
            return TimerFired;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return fired() ? TimerFired : EventsWaiting;
    }

private:
    bool fired()
    {
        pollfd p {m_fd, POLLIN, 0};
        const int n = sys::retried([&] { return ::poll(&p, 1, 0); });
        if (n < 0 || (p.revents & (POLLERR | POLLNVAL)))
            throw RuntimeError::fromErrno(n < 0 ? errno : EIO, kSource, QStringLiteral("定时器等待失败"));
        return n == 1;
    }

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

std::unique_ptr<OneShotTimer> createOneShotTimer()
{
    return std::make_unique<TimerfdTimer>();
}

void handleWaitingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
