#include "core/RuntimeError.h"
#include "wait/clsWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace {

// Wraps the real timer and counts what the wait does with it.
struct Counters
{
    int created = 0;
    int destroyed = 0;
    int sleeps = 0;
    int64_t lastDue = 0;
    bool failArm = false;
    bool failSleep = false;
};

class CountingTimer : public OneShotTimer
{
public:
    explicit CountingTimer(Counters &c) : m_c(c), m_real(createOneShotTimer()) { ++m_c.created; }
    ~CountingTimer() override { ++m_c.destroyed; }
    void arm(int64_t due) override
    {
        m_c.lastDue = due;
        if (m_c.failArm)
            throw RuntimeError(87, "SetWaitableTimer", "The parameter is incorrect");
        m_real->arm(due);
    }
    Wake sleepUntilTimerOrEvents() override
    {
        ++m_c.sleeps;
        if (m_c.failSleep)
            throw RuntimeError(6, "MsgWait", "wait failed");
        return m_real->sleepUntilTimerOrEvents();
    }

private:
    Counters &m_c;
    std::unique_ptr<OneShotTimer> m_real;
};

TimerFactory counting(Counters &c)
{
    return [&c] { return std::make_unique<CountingTimer>(c); };
}

class PostedEvent : public QEvent
{
public:
    PostedEvent() : QEvent(QEvent::User) {}
};

class Receiver : public QObject
{
public:
    int posted = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++posted;
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

class TestWait : public QObject
{
    Q_OBJECT
private slots:
    void dueTimes()
    {
        QCOMPARE(clsWait::dueTime(1), -10000LL);
        QCOMPARE(clsWait::dueTime(0), 0LL);
        QCOMPARE(clsWait::dueTime(300000), -3000000000LL);
    }

    void eventsAreHandledDuringTheWait()
    {
        Counters c;
        clsWait waiter(counting(c));
        Receiver receiver;
        // Handled while the wait still holds its timer: during the wait, not after it.
        bool ranDuringTheWait = false;
        QTimer::singleShot(0, [&] { ranDuringTheWait = waiter.holdsTimer(); });
        QCoreApplication::postEvent(&receiver, new PostedEvent);
        QElapsedTimer clock;
        clock.start();
        waiter.Wait(100);
        // The events woke the sleep; they did not end the wait before its time.
        QVERIFY(clock.elapsed() >= 100);
        QVERIFY(ranDuringTheWait);
        QCOMPARE(receiver.posted, 1);
        QCOMPARE(c.lastDue, -1000000LL);
        QVERIFY(!waiter.holdsTimer());
        QCOMPARE(c.destroyed, 1);
    }

    void zeroAndNegativeWaitsPassOnce()
    {
        Counters c;
        clsWait waiter(counting(c));
        waiter.Wait(0);
        QCOMPARE(c.sleeps, 1);
        waiter.Wait(-5);
        QCOMPARE(c.sleeps, 2);
        QCOMPARE(c.created, 2); // a new timer for every wait
    }

    void longDelaysDoNotFireEarly()
    {
        std::unique_ptr<OneShotTimer> timer = createOneShotTimer();
        timer->arm(clsWait::dueTime(300000));
        Receiver receiver;
        QCoreApplication::postEvent(&receiver, new PostedEvent);
        QCOMPARE(timer->sleepUntilTimerOrEvents(), OneShotTimer::EventsWaiting);
    }

    void failuresCarryThePrefix()
    {
        Counters c;
        c.failSleep = true;
        {
            clsWait waiter(counting(c));
            try {
                waiter.Wait(100);
                QFAIL("the wait should fail");
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number(), 6);
                QCOMPARE(e.source(), QStringLiteral("MsgWait"));
                QCOMPARE(e.description(), QStringLiteral("[clsWaitableTimer.Wait]wait failed"));
            }
            QVERIFY(waiter.holdsTimer());
            QCOMPARE(c.destroyed, 0);
        }
        QCOMPARE(c.destroyed, 1); // the teardown released it

        Counters arm;
        arm.failArm = true;
        clsWait armWaiter(counting(arm));
        try {
            armWaiter.Wait(10);
            QFAIL("the wait should fail");
        } catch (const RuntimeError &e) {
            QVERIFY(e.description().startsWith(QStringLiteral("[clsWaitableTimer.Wait]")));
        }

        clsWait noTimer([]() -> std::unique_ptr<OneShotTimer> {
            throw RuntimeError(RuntimeError::kSystemBase + 24, "timerfd_create", "Too many open files");
        });
        try {
            noTimer.Wait(10);
            QFAIL("the wait should fail");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.description(), QStringLiteral("[clsWaitableTimer.Wait]Too many open files"));
        }
    }
};

QTEST_GUILESS_MAIN(TestWait)
#include "tst_wait.moc"
