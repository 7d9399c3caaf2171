#include "plant/PlantLink.h"

#include "core/RuntimeError.h"
#include "core/Worker.h"
#include "station/ports/BoxExport.h"
#include "plant/Batches.h"
#include "plant/Operators.h"
#include "platform/PasswordHash.h"
#include "station/files/KeptLogins.h"
#include "plant/PlantCheck.h"
#include "plant/PlantSender.h"
#include "plant/RecordedLabels.h"
#include "plant/ToldConflicts.h"
#include "plant/WorkbookBoxes.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <functional>
#include <cstdlib>
#include <chrono>
#include <mutex>
#include <optional>

namespace {

// Notices wait until the scan window shows them; several are shown as one.
void tell(QString &notice, const QString &text)
{
    notice += (notice.isEmpty() ? QString() : QStringLiteral("\n\n")) + text;
}

// The record is brought level with the workbooks this often, besides at start and
// after every reconnect; and at start over this many days of workbooks.
constexpr int kLevelEverySeconds = 300;
constexpr int kLevelDaysAtStart = 7;

// Runs the question on a thread of its own while the windows keep painting; clicks wait,
// so that what asked (Start, a login) is not clicked twice meanwhile.
void askWithWindowsPainted(const std::function<void()> &question)
{
    QEventLoop loop;
    QEventLoop *waiting = &loop; // lives until the thread is joined
    std::thread asking([&question, waiting] {
        question();
        QMetaObject::invokeMethod(waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    asking.join();
}

} // namespace

// What the window's thread and the sender's thread share, under the worker's lock.
// A link destroyed while the thread waits for a server interrupts that wait, and the
// thread ends before anything here does.
struct PlantLink::Shared
{
    Shared(const QString &programFolder, Options o) : options(std::move(o)), folder(programFolder), outbox(programFolder) {}

    const Options options;
    const QString folder;
    Outbox outbox;

    Worker worker;
    database::Interrupt interrupt;
    bool boxWaiting = false;
    int addedDuringDelivery = 0; // handed over after the sender read the outbox
    OpenBoxReport packing;
    QSet<QString> expected; // places of boxes being written, until handed over
    QSet<QString> toldRefusals; // boxes of the workbooks the record refused, told once
    ToldConflicts told{folder};
    QSet<QString> toldKeys = told.read(); // conflicts the operator was shown, this run or before
    QStringList untold;                   // conflicts in the notice, not yet shown
    std::optional<Batch> following;       // the batch Start took, as taken
    std::optional<Batch> batchNow;        // as the record last told of it
    bool packingChanged = false;          // a station of a batch reports its open box at once
    QString onDuty;                       // the operator on duty, who writes the boxes

    // With the lock held: the state after a delivery, and what the operator is told of it.
    void noteReport(const PlantSender::Report &report)
    {
        ++state.attempts;
        tellConflicts(report.conflicts);
        state.backlog = report.backlog + addedDuringDelivery;
        for (const QString &label : report.refused)
            if (!state.refused.contains(label))
                tell(notice, QStringLiteral("中央记录拒收外箱 %1，它已移到 %2 保留，其后的外箱照常上传。工作簿中的记录不受影响。")
                                 .arg(label, PlantSender::refusedFileName()));
        state.refused = report.refused;
        if (report.clockSkew)
            state.clockSkew = report.clockSkew;
        if (report.recorded) {
            state.kind = State::Recorded;
            state.why.clear();
            state.delivered = QDateTime::currentDateTime();
            if (report.sent > 0)
                state.lastBox = state.delivered;
            schemaTold = outboxTold = false;
            return;
        }
        state.kind = State::Offline;
        state.why = report.why;
        if (report.schemaUnusable && !schemaTold) {
            schemaTold = true;
            tell(notice, QStringLiteral("中央记录不可用：%1\n本站照常写入工作簿，外箱留在 outbox.txt 中等待上传。").arg(report.why));
        }
        if (report.outboxDamaged && !outboxTold) {
            outboxTold = true;
            tell(notice, QStringLiteral("待上传记录无法读取：%1\n其中的外箱不会上传；请检查该文件，工作簿中的记录不受影响。").arg(report.why));
        }
    }

    // Without the lock: the record brought level with the workbooks from that day on,
    // the boxes it refused again, and the conflicts never shown. True when every
    // workbook was read and the record answered throughout.
    bool bringLevel(PlantSender &sender, const QDate &from)
    {
        workbookboxes::Found found = workbookboxes::read(folder, options.station, from, options.gs1Packs);
        // A box on its way is not missing. Read after the workbooks, the expected boxes
        // before the outbox: a box is expected before it enters its workbook and stays
        // so until it is in the outbox.
        std::unique_lock<std::mutex> hold(worker.lock());
        QSet<QString> onTheirWay = expected;
        hold.unlock();
        try {
            for (const Outbox::Entry &e : outbox.pending())
                onTheirWay.insert(e.place());
        } catch (const RuntimeError &) {
            // A damaged outbox sends nothing: every box of the workbooks may be missing.
        }
        std::erase_if(found.boxes, [&](const Outbox::Entry &e) { return onTheirWay.contains(e.place()); });
        const PlantSender::Retried retried = sender.retryRefused(); // the schema may have changed since
        const PlantSender::Levelled levelled = sender.bringLevel(found.boxes);
        std::vector<PlantSender::Conflict> open;
        try {
            open = sender.openConflicts();
        } catch (const RuntimeError &) {
            // Asked again at the next reconnect or pass.
        }
        hold.lock();
        tellConflicts(retried.conflicts);
        for (const QString &refusal : levelled.refused)
            if (!toldRefusals.contains(refusal)) {
                toldRefusals.insert(refusal);
                tell(notice, QStringLiteral("中央记录拒收工作簿中的外箱 %1").arg(refusal));
            }
        state.levelled += levelled.delivered;
        tellConflicts(levelled.conflicts);
        tellConflicts(open); // recorded while the station was down, or never shown
        // Compared only when the record answered throughout; a try that failed says nothing.
        if (levelled.why.isEmpty())
            state.levelledAt = QDateTime::currentDateTime();
        return levelled.why.isEmpty() && found.unreadable.isEmpty();
    }

    // Conflicts not yet told go into the notice, each once.
    void tellConflicts(const std::vector<PlantSender::Conflict> &conflicts)
    {
        if (!options.tellConflicts)
            return; // repeats are this station's way: the board tells a supervisor
        QStringList lines;
        for (const PlantSender::Conflict &c : conflicts) {
            if (toldKeys.contains(c.key) || untold.contains(c.key))
                continue;
            untold << c.key;
            ++state.conflicts;
            lines << QStringLiteral("内包 %1 已在 %2 的外箱 %3（%4 写入），本站的外箱 %5 也有它。")
                         .arg(c.barcode, c.otherStation, c.otherBox, c.otherWritten, c.ourBox);
        }
        if (lines.isEmpty())
            return;
        lines.prepend(QStringLiteral("该内包条码重复！"));
        lines << QStringLiteral("两箱都已记录，请主管决定这些内包留在哪一箱。");
        tell(notice, lines.join(QLatin1Char('\n')));
    }
    // With the lock held: waits for a box or until then, asking meanwhile how the batch
    // followed stands, every batchSeconds.
    void waitFollowingBatch(std::unique_lock<std::mutex> &hold, std::chrono::steady_clock::time_point until)
    {
        while (!worker.stopping() && !boxWaiting && !packingChanged) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until)
                return;
            if (!following) {
                worker.waitUntil(hold, until, [&] { return boxWaiting || packingChanged || following.has_value(); });
                continue;
            }
            const Batch asked = *following;
            hold.unlock();
            std::optional<Batch> told = askBatch(asked);
            hold.lock();
            if (told && following && following->number == asked.number)
                batchNow = told;
            worker.waitUntil(hold, std::min(until, std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, options.batchSeconds))),
                             [&] { return boxWaiting || packingChanged || (following && following->number != asked.number); });
        }
    }

    // Without the lock: the batch as the record has it, with the packs of its boxes
    // still in the outbox; nothing when the record does not answer.
    std::optional<Batch> askBatch(const Batch &asked)
    {
        try {
            if (!batchDb)
                batchDb = database::connect(options.url, std::max(1, options.answerSeconds), options.answerSeconds, &interrupt);
            std::optional<Batch> now = batches::find(*batchDb, asked.number);
            if (!now)
                return std::nullopt;
            for (const Outbox::Entry &e : outbox.pending())
                if (e.job && e.job->sBatch == asked.number)
                    for (const BoxRow &row : e.rows)
                        now->packed += row.kind == BoxRow::Pack ? 1 : 0;
            return now;
        } catch (const RuntimeError &) {
            batchDb.reset(); // asked again on a new connection next time
            return std::nullopt;
        }
    }
    std::unique_ptr<database::Connection> batchDb; // the sender's thread's only

    State state;
    QString notice;
    bool schemaTold = false;
    bool outboxTold = false;
};

PlantLink::PlantLink(const QString &programFolder, Options options)
    : m_station(options.station), m_shared(std::make_shared<Shared>(programFolder, std::move(options)))
{
    // A damaged outbox must not stop the boxes that follow: it is kept for a person
    // under another name and a new one begins.
    try {
        const QString aside = m_shared->outbox.setAsideIfDamaged();
        if (!aside.isEmpty())
            m_shared->notice = QStringLiteral("待上传记录 %1 无法读取，已改名为 %2 保留；其中的外箱不会上传，请检查该文件。工作簿中的记录不受影响。")
                                   .arg(Outbox::fileName(), aside);
        m_shared->state.backlog = m_shared->outbox.oldest(0).total;
    } catch (const RuntimeError &) {
        // Neither read nor renamed: the sender finds the same and says so once.
    }
    m_shared->worker.start([shared = m_shared.get()] { run(*shared); });
}

PlantLink::~PlantLink()
{
    // Never waits for the database: its wait ends at once, and the thread with it.
    m_shared->worker.stop([this] { m_shared->interrupt.raise(); });
}

void PlantLink::handOver(const Box &box, const ExportReceipt &receipt)
{
    Outbox::Entry entry;
    const std::optional<ExportTarget> &target = box.exportTarget();
    // The id came with the box's export: the record keeps a box once, however often it comes.
    if (!target || target->boxId.isNull())
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("PlantLink"),
                           QStringLiteral("外箱 %1 没有编号，未放入 %2").arg(receipt.outerLabel, Outbox::fileName()), RuntimeError::Kind::Outbox);
    entry.id = target->boxId;
    entry.station = m_station;
    entry.workbook = QFileInfo(receipt.workbook).fileName();
    entry.firstRow = receipt.firstRow;
    entry.writtenAt = receipt.at.isValid() ? receipt.at : QDateTime::currentDateTime();
    entry.job = box.job();
    entry.rows = box.rows();
    entry.operators = box.operators();
    {
        const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
        entry.writtenBy = m_shared->onDuty;
    }
    m_shared->outbox.add(entry);
    const QStringList changes = m_shared->outbox.takeChanges();
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    for (const QString &change : changes)
        tell(m_shared->notice, change + QStringLiteral("；新的外箱写入新的 %1，其中原有的外箱会从工作簿补记到中央记录。").arg(Outbox::fileName()));
    m_shared->expected.remove(entry.place()); // only once it is in the outbox
    ++m_shared->state.backlog;
    ++m_shared->addedDuringDelivery;
    m_shared->boxWaiting = true;
    m_shared->worker.wake();
}

void PlantLink::expect(const QString &workbook, int32_t firstRow)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    m_shared->expected.insert(Outbox::placeOf(workbook, firstRow));
}

void PlantLink::onDuty(const QString &id)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    m_shared->onDuty = id;
}

void PlantLink::packing(const OpenBoxReport &box)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    // A batch is not closed while a station has a box of it open: the record hears of
    // a box opened or closed at once, not with the next heartbeat.
    if (m_shared->following && !(box == m_shared->packing)) {
        m_shared->packingChanged = true;
        m_shared->worker.wake();
    }
    m_shared->packing = box;
}

PlantLink::State PlantLink::state() const
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    return m_shared->state;
}

std::function<std::unique_ptr<DuplicateQuestion>()> PlantLink::questions() const
{
    return [url = m_shared->options.url] { return std::make_unique<PlantCheck>(url); };
}

QString PlantLink::stateLines() const
{
    const State now = state();
    const QString conflicts = now.conflicts > 0 ? QStringLiteral("\n重复内包 %1 个，待主管处理").arg(now.conflicts) : QString();
    // Boxes the outbox had lost, brought to the record from the workbooks.
    const QString levelled = now.levelled > 0 ? QStringLiteral("\n已补记 %1 箱").arg(now.levelled) : QString();
    const QString refused = now.refused.isEmpty() ? QString()
                                                  : QStringLiteral("\n中央记录拒收 %1 箱：%2").arg(now.refused.size()).arg(now.refused.mid(0, 3).join(QStringLiteral("，")));
    return stateLine(now) + refused + levelled + conflicts;
}

QString PlantLink::stateLine(const State &state)
{
    switch (state.kind) {
    case State::Recorded:
        if (state.backlog > 0) // on their way, or the sender waits for an answer
            return QStringLiteral("中央记录：上传中，%1 箱等待上传").arg(state.backlog);
        // Two lines of their own, so that the narrow panel never breaks one.
        if (!state.lastBox.isValid())
            return QStringLiteral("中央记录：已连接\n尚未上传外箱");
        return QStringLiteral("中央记录：已记录\n最后上传 %1").arg(state.lastBox.toString(QStringLiteral("HH:mm:ss")));
    case State::Offline:
        return QStringLiteral("中央记录：离线，%1 箱等待上传").arg(state.backlog);
    case State::Connecting:
        break;
    }
    return QStringLiteral("中央记录：连接中，%1 箱等待上传").arg(state.backlog);
}

QString PlantLink::alarm() const
{
    const State now = state();
    const int limit = m_shared->options.maxClockSkewSeconds;
    if (!now.clockSkew || std::abs(*now.clockSkew) <= limit)
        return {};
    // Boxes carry this station's time: a clock far off puts them into the wrong hour or day.
    return QStringLiteral("本机时钟与中央记录相差 %1 分钟，请校准本机时间").arg((std::abs(*now.clockSkew) + 30) / 60);
}

std::optional<QString> PlantLink::recordedUse(const QString &outerLabel)
{
    if (state().kind == State::Offline)
        return std::nullopt; // not waited for: the station goes on as without a record
    const int answer = m_shared->options.answerSeconds > 0 ? m_shared->options.answerSeconds : 10;
    std::optional<QString> use;
    askWithWindowsPainted([&use, url = m_shared->options.url, outerLabel, answer] {
        try {
            auto db = database::connect(url, answer, answer);
            use = recordedlabels::firstUse(*db, outerLabel);
        } catch (const RuntimeError &) {
            // Not reached in time: what the workbooks say is all Start can know.
        }
    });
    return use;
}

BatchSource::Offer PlantLink::startable(const QString &line, const QString &also)
{
    Offer offer;
    const int answer = m_shared->options.answerSeconds > 0 ? m_shared->options.answerSeconds : 10;
    askWithWindowsPainted([&offer, url = m_shared->options.url, station = m_station, line, also, answer] {
        try {
            auto db = database::connect(url, std::min(answer, 5), answer);
            offer.batches = batches::startable(*db, line, also);
            offer.lastPacked = batches::lastOf(*db, station);
            offer.reached = true;
        } catch (const RuntimeError &e) {
            offer.why = e.description();
        }
    });
    return offer;
}

OperatorLogin::Result PlantLink::logIn(const QString &id, const QString &password)
{
    Result result;
    std::optional<operators::LoggedIn> in;
    QString unreachable;
    const int answer = m_shared->options.answerSeconds > 0 ? m_shared->options.answerSeconds : 10;
    askWithWindowsPainted([&, url = m_shared->options.url, station = m_station, answer] {
        try {
            auto db = database::connect(url, std::min(answer, 5), answer);
            in = operators::logIn(*db, id, password, station);
        } catch (const RuntimeError &e) {
            // A refusal is the record's answer; anything else means it was not reached.
            if (e.number() == RuntimeError::ChangeRefused)
                result.why = e.description();
            else
                unreachable = e.description();
        }
    });
    if (in) {
        result.who = OnDuty{in->who.id, in->who.name, false};
        try {
            keptlogins::keep(m_shared->folder, {in->who.id, in->who.name, operators::word(in->who.role), QDateTime::currentDateTime(), in->verifier});
        } catch (const RuntimeError &) {
            // Not kept: he cannot log in offline here until a login is kept, which loses nothing.
        }
        return result;
    }
    if (unreachable.isEmpty())
        return result;
    // The record out of reach: only someone who logged in here lately, by what was kept.
    const int hours = m_shared->options.offlineHours;
    for (const keptlogins::Kept &k : keptlogins::read(m_shared->folder)) {
        if (k.id != id)
            continue;
        if (k.at.secsTo(QDateTime::currentDateTime()) > qint64(hours) * 3600)
            break;
        if (!passwordhash::verify(k.verifier, password)) {
            result.why = QStringLiteral("工号或密码不正确。");
            return result;
        }
        result.who = OnDuty{k.id, k.name, true};
        return result;
    }
    result.why = QStringLiteral("无法连接中央记录（%1）；工号 %2 在 %3 小时内没有在本站登录过，不能离线登录。").arg(unreachable, id).arg(hours);
    return result;
}

void PlantLink::follow(const Batch &batch)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    m_shared->following = batch;
    m_shared->batchNow = batch;
    m_shared->worker.wake();
}

std::optional<Batch> PlantLink::followed() const
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    return m_shared->batchNow;
}

QString PlantLink::takeNotice()
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    if (!m_shared->untold.isEmpty()) {
        // Shown now: not again after a restart.
        try {
            m_shared->told.add(m_shared->untold);
        } catch (const RuntimeError &) {
            // Not kept: after a restart these are told once more, which loses nothing.
        }
        for (const QString &key : std::as_const(m_shared->untold))
            m_shared->toldKeys.insert(key);
        m_shared->untold.clear();
    }
    return std::exchange(m_shared->notice, QString());
}

void PlantLink::run(Shared &shared)
{
    const Options &o = shared.options;
    PlantSender sender(o.url, o.station, shared.outbox, o.answerSeconds, o.clock, &shared.interrupt);
    int pause = 1; // seconds before the next try after a failure, doubled each time
    // The workbooks are the station's truth: what the outbox lost (a damaged, cut or
    // moved file) reaches the record from them.
    QDate levelFrom = QDate::currentDate().addDays(-kLevelDaysAtStart);
    std::optional<std::chrono::steady_clock::time_point> levelledAt;
    bool wasRecorded = false;
    std::unique_lock<std::mutex> hold(shared.worker.lock());
    while (!shared.worker.stopping()) {
        shared.boxWaiting = false;
        shared.packingChanged = false;
        shared.addedDuringDelivery = 0;
        const OpenBoxReport packing = shared.packing;
        hold.unlock();
        const PlantSender::Report report = sender.deliver(packing);
        hold.lock();
        shared.noteReport(report);
        const auto now = std::chrono::steady_clock::now();
        if (report.recorded && (!wasRecorded || !levelledAt || now - *levelledAt > std::chrono::seconds(kLevelEverySeconds))) {
            const QDate today = QDate::currentDate();
            hold.unlock();
            const bool level = shared.bringLevel(sender, levelFrom);
            hold.lock();
            if (level) {
                levelFrom = today.addDays(-1); // past midnight, yesterday's last boxes still count
                levelledAt = now;
            }
        }
        wasRecorded = report.recorded;
        // Recorded: wait for the next box or the next report of the state. Not
        // recorded: back off, and a new box does not cut the pause short.
        pause = report.recorded ? 1 : pause;
        const auto until = std::chrono::steady_clock::now()
                           + std::chrono::seconds(report.recorded ? o.heartbeatSeconds : pause);
        if (report.recorded)
            shared.waitFollowingBatch(hold, until);
        else
            shared.worker.waitUntil(hold, until, [] { return false; });
        if (!report.recorded)
            pause = std::min(pause * 2, std::max(1, o.longestPauseSeconds));
    }
}
