#include "labels/LabelSpool.h"

#include "core/RuntimeError.h"
#include "labels/BoxLabel.h"
#include "labels/LabelContent.h"
#include "labels/LabelFit.h"
#include "labels/PrintLine.h"
#include "labels/LabelPage.h"
#include "platform/AtomicFile.h"
#include "platform/PrintSpooler.h"
#include "platform/RegularFile.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QUuid>
#include <algorithm>
#include <chrono>

namespace labels {

namespace {

const QString kLast = QStringLiteral("last-outer.json");
// While a job is on its way: often right after it was handed over (a label printer
// finishes within a second), then gently.
constexpr auto kWatchSoon = std::chrono::milliseconds(25);
constexpr auto kWatchSoonFor = std::chrono::seconds(2);
constexpr auto kWatchEvery = std::chrono::milliseconds(300);


QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
}

} // namespace

LabelSpool::LabelSpool(Options options) : m_options(std::move(options))
{
    // A folder that cannot be made is told when the first label cannot be kept.
    regularfile::makeFolders(folder());
    // The last outer label printed, for a reprint after a restart.
    try {
        if (const std::optional<QByteArray> last = regularfile::read(QDir(folder()).filePath(kLast), keptlabel::kLimit))
            m_lastOuter = Label::fromJson(QJsonDocument::fromJson(*last).object());
    } catch (const RuntimeError &) {
        // Not a file this program wrote: there is nothing to reprint until the next box.
    }
    m_worker.start([this] { run(); });
}

LabelSpool::~LabelSpool()
{
    m_worker.stop();
}

QString LabelSpool::folder() const
{
    return QDir(m_options.programFolder).filePath(QLatin1String(kFolder));
}

int LabelSpool::waitingUnlocked() const
{
    return int(QDir(folder()).entryList({QStringLiteral("*.label")}, QDir::Files).size() + m_memory.size());
}

int LabelSpool::waiting() const
{
    std::lock_guard<std::mutex> g(m_worker.lock());
    return waitingUnlocked();
}

QString LabelSpool::composeLine() const
{
    PrintLineParts p;
    p.printer = m_options.print.printer;
    p.error = m_error;
    p.handingOver = m_handingOver;
    p.keepProblem = m_keepProblem;
    p.notice = m_notice;
    p.waiting = waitingUnlocked();
    p.inMemory = int(m_memory.size());
    p.oldestFailed = m_failed.empty() ? nullptr : &m_failed.front();
    p.failedCount = m_failed.size();
    p.inFlight = m_inFlight;
    p.lastDone = m_lastDone;
    p.lastOuter = m_lastOuter;
    return printLine(p);
}

QString LabelSpool::stateLine() const
{
    std::lock_guard<std::mutex> g(m_worker.lock());
    return composeLine();
}

bool LabelSpool::writeKept(const QString &path, const Kept &k, QString *why)
{
    try {
        regularfile::makeFolders(folder()); // the replace below tells why it could not
        replaceFileAtomically(path, keptlabel::bytesOf(k));
        return true;
    } catch (const RuntimeError &e) {
        if (why)
            *why = e.description();
        return false;
    }
}

void LabelSpool::keep(const QString &key, const Label &label)
{
    const QString path = QDir(folder()).filePath(key + QStringLiteral(".label"));
    if (QFileInfo::exists(path))
        return; // already waiting: the same box handed over again
    qint64 added = QDateTime::currentMSecsSinceEpoch();
    {
        // Labels go in the order they were kept, also several within one millisecond.
        std::lock_guard<std::mutex> g(m_worker.lock());
        added = m_lastAdded = std::max(added, m_lastAdded + 1);
    }
    Kept k{path, QStringLiteral("zantrel ") + key, added, label, 0, {}, false};
    QString why;
    const bool kept = writeKept(path, k, &why);
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_notice.clear();
        if (!kept) {
            // Printing never stops the line: the label goes from memory, and the print
            // line says so until labels can be kept again.
            k.memory = true;
            if (std::none_of(m_memory.begin(), m_memory.end(), [&](const Kept &m) { return m.title == k.title; }))
                m_memory.push_back(k);
            m_keepProblem = why;
        } else if (m_memory.empty()) {
            m_keepProblem.clear();
        }
        m_added = true;
        m_worker.wake();
    }
}

void LabelSpool::boxWritten(const Box &box, const ExportReceipt &receipt)
{
    keep(outerKeyOf(box, receipt), outerLabelOf(box.rows(), m_options.station, receipt.at, m_options.print.sscc));
}

void LabelSpool::middleFilled(const Box &box, const QString &middleLabel)
{
    if (!m_options.print.middle || middleLabel.isEmpty())
        return;
    const Label l = middleLabelOf(box, middleLabel, m_options.station, QDateTime::currentDateTime());
    keep(middleKeyOf(l), l);
}

void LabelSpool::reprintLast()
{
    std::optional<Kept> failed;
    std::optional<Label> again;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        if (!m_failed.empty())
            failed = m_failed.front();
        else
            again = m_lastOuter;
    }
    if (failed) {
        // The oldest label whose job failed, as the print line names it.
        Label l = failed->label;
        l.reprint = true;
        keep(QStringLiteral("reprint-") + QUuid::createUuid().toString(QUuid::Id128), l);
        drop(*failed);
        return;
    }
    if (!again) {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_notice = QStringLiteral("还没有可补打的外箱标签");
        return;
    }
    again->reprint = true;
    keep(QStringLiteral("reprint-") + QUuid::createUuid().toString(QUuid::Id128), *again);
}

QString LabelSpool::misfit(const PackingState &job) const
{
    return labels::misfit(job, m_options.print, m_options.station);
}


void LabelSpool::persistMemory()
{
    std::vector<Kept> memory;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        memory = m_memory;
    }
    if (memory.empty())
        return;
    QString why;
    for (Kept k : memory) {
        k.memory = false;
        if (!writeKept(k.path, k, &why))
            break; // the folder is still not writable: the rest stay in memory too
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_memory.erase(std::remove_if(m_memory.begin(), m_memory.end(), [&](const Kept &m) { return m.title == k.title; }),
                       m_memory.end());
    }
    std::lock_guard<std::mutex> g(m_worker.lock());
    m_keepProblem = m_memory.empty() ? QString() : why;
}

std::vector<Kept> LabelSpool::readKept()
{
    std::vector<Kept> kept;
    const QDir dir(folder());
    for (const QString &name : dir.entryList({QStringLiteral("*.label")}, QDir::Files)) {
        const QString path = dir.filePath(name);
        std::optional<Kept> read;
        try {
            if (const std::optional<QByteArray> bytes = regularfile::read(path, keptlabel::kLimit))
                read = keptlabel::fromBytes(path, *bytes);
        } catch (const RuntimeError &) {
            // Told below like a damaged one.
        }
        if (!read) {
            // Not a label this program kept: set aside under a name of its own and told, never printed.
            const QString why = regularfile::rename(path, path + QStringLiteral(".damaged-") + now());
            // Not renamed, it is found and told again at the next look; never printed.
            std::lock_guard<std::mutex> g(m_worker.lock());
            m_notice = why.isEmpty() ? QStringLiteral("待打印标签文件 %1 无法识别，已另存").arg(name)
                                     : QStringLiteral("待打印标签文件 %1 无法识别，也无法另存（%2）").arg(name, why);
            continue;
        }
        kept.push_back(*read);
    }
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        kept.insert(kept.end(), m_memory.begin(), m_memory.end());
    }
    std::sort(kept.begin(), kept.end(), [](const Kept &a, const Kept &b) { return a.added != b.added ? a.added < b.added : a.path < b.path; });
    return kept;
}

LabelSpool::Outcome LabelSpool::settle(Kept &k)
{
    if (!k.failed.isEmpty())
        return Outcome::Failed; // waits for F9
    const QString &queue = m_options.print.printer;
    int known = k.job;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        known = m_jobs.value(k.title, known);
    }
    if (known == 0) {
        // Its hand-over begins with the look for its title: a print system that does not
        // answer raises here or in the hand-over, and the line names this label meanwhile.
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_handingOver = k.label.text;
    }
    // A job is ours only under our title: the id alone may since name another label's job.
    std::optional<printing::Job> job;
    if (known > 0) {
        job = printing::job(queue, known);
        if (job && job->title != k.title)
            job.reset();
    }
    if (!job) {
        // Handed over before a crash, after the print system took it, or known to a
        // print system that lost it: looked for by title, handed over again only if absent.
        job = printing::findByTitle(queue, k.title);
        if (job && job->state == printing::JobState::Held)
            job = printing::job(queue, job->id);
    }
    if (job && job->state == printing::JobState::Held && job->documents == 0) {
        // A job left without its document (its second request never came) never prints.
        printing::cancel(queue, job->id);
        job.reset();
    }
    if (!job)
        return handOver(k);
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_handingOver.clear(); // answered: its job is known
    }
    if (job->id != known)
        recordJob(k, job->id);
    switch (job->state) {
    case printing::JobState::Done:
        finished(k);
        return Outcome::Printed;
    case printing::JobState::Failed:
        k.failed = QStringLiteral("打印作业 %1 被中止或取消").arg(job->id);
        markFailed(k, k.failed);
        return Outcome::Failed;
    default:
        return Outcome::OnItsWay;
    }
}

LabelSpool::Outcome LabelSpool::handOver(const Kept &k)
{
    const Drawn drawn = draw(k.label, {m_options.print.widthMm, m_options.print.heightMm, m_options.print.dpi});
    if (drawn.pdf.isEmpty()) {
        // Start refused what does not fit; a label that still does not (a longer text) is set aside, told.
        // Not renamed, it is drawn, refused and told again at the next look.
        if (!k.memory)
            regularfile::rename(k.path, k.path + QStringLiteral(".unprintable"));
        drop(k);
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_notice = QStringLiteral("未打印 %1：%2").arg(k.label.text, drawn.misfit);
        return Outcome::SetAside;
    }
    const int id = printing::submit(m_options.print.printer, k.title, drawn.pdf);
    m_handedOver = std::chrono::steady_clock::now(); // only this thread reads it
    recordJob(k, id);
    return Outcome::OnItsWay;
}

void LabelSpool::rewrite(const Kept &changed)
{
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        for (Kept &m : m_memory)
            if (m.title == changed.title)
                m = changed;
    }
    // Not written, the file says less than we know: the job is known here until a
    // restart (and after one its title finds it); a failure is found again and told.
    if (!changed.memory)
        writeKept(changed.path, changed, nullptr);
}

void LabelSpool::recordJob(const Kept &k, int id)
{
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_jobs.insert(k.title, id);
    }
    Kept with = k;
    with.job = id;
    rewrite(with);
}

void LabelSpool::finished(const Kept &k)
{
    drop(k);
    Label done = k.label;
    {
        std::lock_guard<std::mutex> g(m_worker.lock());
        m_lastDone = done;
        if (done.kind != Label::Kind::Outer)
            return;
        done.reprint = false;
        m_lastOuter = done;
    }
    try {
        replaceFileAtomically(QDir(folder()).filePath(kLast), QJsonDocument(done.toJson()).toJson(QJsonDocument::Compact));
    } catch (const RuntimeError &) {
        // Only a reprint after a restart needs it; this run reprints from memory.
    }
}

void LabelSpool::markFailed(const Kept &k, const QString &why)
{
    Kept failed = k;
    failed.failed = why;
    rewrite(failed);
}

void LabelSpool::drop(const Kept &k)
{
    // A kept file that cannot be removed is found again and, the print system holding
    // its job under its title, removed then; it is never printed twice.
    if (!k.memory)
        regularfile::remove(k.path);
    std::lock_guard<std::mutex> g(m_worker.lock());
    m_memory.erase(std::remove_if(m_memory.begin(), m_memory.end(), [&](const Kept &m) { return m.title == k.title; }),
                   m_memory.end());
    m_failed.erase(std::remove_if(m_failed.begin(), m_failed.end(), [&](const Kept &m) { return m.title == k.title; }),
                   m_failed.end());
    m_jobs.remove(k.title);
}

bool LabelSpool::pass()
{
    persistMemory();
    QStringList onItsWay;
    std::vector<Kept> failed;
    for (Kept &k : readKept()) {
        {
            std::lock_guard<std::mutex> g(m_worker.lock());
            if (m_worker.stopping())
                return false;
        }
        switch (settle(k)) {
        case Outcome::OnItsWay:
            onItsWay << k.label.text;
            break;
        case Outcome::Failed:
            failed.push_back(k);
            break;
        case Outcome::Printed:
        case Outcome::SetAside:
            break;
        }
    }
    std::lock_guard<std::mutex> g(m_worker.lock());
    m_error.clear();
    m_handingOver.clear();
    m_inFlight = onItsWay;
    m_failed = failed;
    return !onItsWay.isEmpty();
}

void LabelSpool::run()
{
    for (;;) {
        bool failed = false, watching = false;
        try {
            watching = pass();
        } catch (const RuntimeError &e) {
            failed = true;
            std::lock_guard<std::mutex> g(m_worker.lock());
            m_error = e.description();
        }
        std::unique_lock<std::mutex> g(m_worker.lock());
        const bool soon = std::chrono::steady_clock::now() - m_handedOver < kWatchSoonFor;
        const auto wait = failed     ? std::chrono::milliseconds(std::chrono::seconds(m_options.retrySeconds))
                          : watching ? (soon ? kWatchSoon : kWatchEvery)
                                     : std::chrono::milliseconds(std::chrono::hours(1));
        m_worker.waitUntil(g, std::chrono::steady_clock::now() + wait, [this] { return m_added; });
        if (m_worker.stopping())
            return;
        m_added = false;
    }
}

} // namespace labels
