#include "labels/LabelSpool.h"

#include "core/RuntimeError.h"
#include "labels/LabelPage.h"
#include "packing/PackingState.h"
#include "platform/AtomicFile.h"
#include "platform/PrintSpooler.h"
#include "platform/RegularFile.h"
#include "station/Box.h"
#include "station/BoxExport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace labels {

namespace {

constexpr int64_t kKeptLimit = 16 << 20; // one label with its packs: far below
const QString kLast = QStringLiteral("last-outer.json");

QString keyOf(const QString &kind, const QString &identity)
{
    return kind + QLatin1Char('-')
           + QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));
}

Label outerLabelOf(const Box &box, const QString &station, const QDateTime &at, bool sscc)
{
    Label l;
    l.kind = Label::Kind::Outer;
    l.text = box.outerLabel();
    l.sscc = sscc;
    l.station = station;
    l.written = at;
    for (const BoxRow &r : box.rows()) {
        if (r.kind == BoxRow::MiddleLabel)
            l.middles << r.text;
        else if (r.kind == BoxRow::Pack)
            ++l.packs;
    }
    return l;
}

} // namespace

LabelSpool::LabelSpool(Options options) : m_options(std::move(options))
{
    QDir().mkpath(folder());
    // The last outer label, for a reprint after a restart.
    try {
        if (const std::optional<QByteArray> last = regularfile::read(QDir(folder()).filePath(kLast), kKeptLimit))
            m_lastOuter = Label::fromJson(QJsonDocument::fromJson(*last).object());
    } catch (const RuntimeError &) {
        // Not a file this program wrote: there is nothing to reprint until the next box.
    }
    m_state = QStringLiteral("标签：打印机 %1（F9 补打上一箱）").arg(m_options.print.printer);
    m_thread = std::thread([this] { run(); });
}

LabelSpool::~LabelSpool()
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QString LabelSpool::folder() const
{
    return QDir(m_options.programFolder).filePath(QLatin1String(kFolder));
}

void LabelSpool::setState(const QString &line)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_state = line;
}

QString LabelSpool::stateLine() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_state;
}

int LabelSpool::waiting() const
{
    return int(QDir(folder()).entryList({QStringLiteral("*.label")}, QDir::Files).size());
}

void LabelSpool::keep(const QString &key, const Label &label)
{
    const QString path = QDir(folder()).filePath(key + QStringLiteral(".label"));
    if (QFileInfo::exists(path))
        return; // already waiting: the same box handed over again
    const QJsonObject o{{QStringLiteral("title"), QStringLiteral("zantrel ") + key},
                        {QStringLiteral("added"), double(QDateTime::currentMSecsSinceEpoch())},
                        {QStringLiteral("label"), label.toJson()}};
    try {
        QDir().mkpath(folder());
        replaceFileAtomically(path, QJsonDocument(o).toJson(QJsonDocument::Compact));
    } catch (const RuntimeError &e) {
        // Printing never stops the line: the box is written; its label is told as not printed.
        setState(QStringLiteral("标签：未打印 %1：无法保存待打印标签（%2）").arg(label.text, e.description()));
        return;
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_added = true;
    }
    m_wake.notify_all();
}

void LabelSpool::boxWritten(const Box &box, const ExportReceipt &receipt)
{
    const Label label = outerLabelOf(box, m_options.station, receipt.at, m_options.print.sscc);
    // A box has its id from its export target; one without (never in practice) by its place.
    const QString identity = box.exportTarget() && !box.exportTarget()->boxId.isNull()
                                 ? box.exportTarget()->boxId.toString(QUuid::WithoutBraces)
                                 : receipt.workbook + QLatin1Char(':') + QString::number(receipt.firstRow);
    keep(keyOf(QStringLiteral("box"), identity), label);
    try {
        replaceFileAtomically(QDir(folder()).filePath(kLast), QJsonDocument(label.toJson()).toJson(QJsonDocument::Compact));
    } catch (const RuntimeError &) {
        // Only a reprint after a restart needs it; the label itself is kept above.
    }
    std::lock_guard<std::mutex> g(m_lock);
    m_lastOuter = label;
}

void LabelSpool::middleFilled(const Box &box, const QString &middleLabel)
{
    if (!m_options.print.middle || middleLabel.isEmpty())
        return;
    Label l;
    l.kind = Label::Kind::Middle;
    l.text = middleLabel;
    l.outer = box.outerLabel();
    l.station = m_options.station;
    l.written = QDateTime::currentDateTime();
    QString under;
    for (const BoxRow &r : box.rows()) {
        if (r.kind == BoxRow::MiddleLabel)
            under = r.text;
        else if (r.kind == BoxRow::Pack && under == middleLabel)
            l.packList << r.text;
    }
    l.packs = int(l.packList.size());
    keep(keyOf(QStringLiteral("middle"), l.outer + QLatin1Char('\n') + middleLabel + QLatin1Char('\n')
                                             + l.written.date().toString(Qt::ISODate)),
         l);
}

void LabelSpool::reprintLast()
{
    std::optional<Label> last;
    {
        std::lock_guard<std::mutex> g(m_lock);
        last = m_lastOuter;
    }
    if (!last) {
        setState(QStringLiteral("标签：还没有可补打的外箱标签"));
        return;
    }
    last->reprint = true;
    keep(QStringLiteral("reprint-") + QUuid::createUuid().toString(QUuid::Id128), *last);
}

QString LabelSpool::misfit(const PackingState &job) const
{
    // The largest label of this job: a full box with every middle label.
    Label outer;
    outer.text = job.outerLabelFor(job.lOuterNo);
    outer.sscc = m_options.print.sscc;
    outer.station = m_options.station;
    outer.written = QDateTime::currentDateTime();
    outer.packs = job.iPerOuter;
    const int middles = job.iPerMiddle > 0 ? (job.iPerOuter + job.iPerMiddle - 1) / job.iPerMiddle : 1;
    for (int i = 0; i < middles; ++i)
        outer.middles << job.middleLabelFor(job.lMiddleNo + i);
    PageSize size{m_options.print.widthMm, m_options.print.heightMm, m_options.print.dpi};
    const Drawn drawn = draw(outer, size);
    if (!drawn.misfit.isEmpty() || !m_options.print.middle)
        return drawn.misfit;
    Label middle = outer;
    middle.kind = Label::Kind::Middle;
    middle.text = job.middleLabelFor(job.lMiddleNo);
    middle.outer = outer.text;
    middle.packs = job.iPerMiddle;
    for (int i = 0; i < job.iPerMiddle; ++i)
        middle.packList << QString(std::max<int>(1, job.iInnerLen - 1), QLatin1Char('0'));
    return draw(middle, size).misfit;
}

std::vector<LabelSpool::Kept> LabelSpool::readKept()
{
    std::vector<Kept> kept;
    const QDir dir(folder());
    for (const QString &name : dir.entryList({QStringLiteral("*.label")}, QDir::Files)) {
        const QString path = dir.filePath(name);
        std::optional<Label> label;
        QJsonObject o;
        try {
            if (const std::optional<QByteArray> bytes = regularfile::read(path, kKeptLimit)) {
                o = QJsonDocument::fromJson(*bytes).object();
                label = Label::fromJson(o.value(QStringLiteral("label")).toObject());
            }
        } catch (const RuntimeError &) {
            // Told below like a damaged one.
        }
        const QString title = o.value(QStringLiteral("title")).toString();
        if (!label || !title.startsWith(QLatin1String("zantrel ")) || title.size() > 200) {
            // Not a label this program kept: set aside under a name of its own and told, never printed.
            const QString why = regularfile::rename(
                path, path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")));
            // Not renamed, it is found and told again at the next look; never printed.
            setState(why.isEmpty() ? QStringLiteral("标签：待打印标签文件 %1 无法识别，已另存").arg(name)
                                   : QStringLiteral("标签：待打印标签文件 %1 无法识别，也无法另存（%2）").arg(name, why));
            continue;
        }
        kept.push_back({path, title, qint64(o.value(QStringLiteral("added")).toDouble()), *label});
    }
    std::sort(kept.begin(), kept.end(), [](const Kept &a, const Kept &b) { return a.added != b.added ? a.added < b.added : a.path < b.path; });
    return kept;
}

void LabelSpool::handOver(const Kept &k)
{
    const QString &queue = m_options.print.printer;
    // Handed over before a crash, after the print system took it: not twice.
    // A kept file that cannot be removed is found again and, the print system holding
    // its job, removed then; it is never printed twice.
    if (std::optional<printing::Job> there = printing::findByTitle(queue, k.title)) {
        regularfile::remove(k.path);
        return;
    }
    const Drawn drawn = draw(k.label, {m_options.print.widthMm, m_options.print.heightMm, m_options.print.dpi});
    if (drawn.pdf.isEmpty()) {
        // Start refused what does not fit; a label that still does not (a longer text) is set aside, told.
        // Not renamed, it is drawn, refused and told again at the next look.
        regularfile::rename(k.path, k.path + QStringLiteral(".unprintable"));
        setState(QStringLiteral("标签：未打印 %1：%2").arg(k.label.text, drawn.misfit));
        return;
    }
    const int id = printing::submit(queue, k.title, drawn.pdf);
    regularfile::remove(k.path);
    std::lock_guard<std::mutex> g(m_lock);
    m_watched.emplace_back(id, k.label.text);
    m_state = QStringLiteral("标签：已打印 %1%2（F9 补打上一箱）").arg(k.label.reprint ? QStringLiteral("补打 ") : QString(), k.label.text);
}

void LabelSpool::watchJobs()
{
    std::vector<std::pair<int, QString>> watched;
    {
        std::lock_guard<std::mutex> g(m_lock);
        watched = m_watched;
    }
    for (const auto &[id, text] : watched) {
        const std::optional<printing::Job> job = printing::find(m_options.print.printer, id);
        if (job && job->state != printing::JobState::Failed && job->state != printing::JobState::Done)
            continue;
        std::lock_guard<std::mutex> g(m_lock);
        m_watched.erase(std::remove(m_watched.begin(), m_watched.end(), std::make_pair(id, text)), m_watched.end());
        // A job the print system no longer lists was purged from its history after it ended.
        if (job && job->state == printing::JobState::Failed)
            m_state = QStringLiteral("标签：%1 打印失败（打印作业 %2 被中止或取消），按 F9 补打").arg(text).arg(id);
    }
}

void LabelSpool::run()
{
    for (;;) {
        bool failed = false;
        try {
            for (const Kept &k : readKept()) {
                {
                    std::lock_guard<std::mutex> g(m_lock);
                    if (m_stop)
                        return;
                }
                handOver(k);
            }
            watchJobs();
        } catch (const RuntimeError &e) {
            failed = true;
            const int n = waiting();
            setState(QStringLiteral("标签：未打印：%1（待打印 %2 张，打印服务恢复后自动打印）").arg(e.description()).arg(n));
        }
        std::unique_lock<std::mutex> g(m_lock);
        const auto wait = std::chrono::seconds(failed ? m_options.retrySeconds : (m_watched.empty() ? 3600 : 2));
        m_wake.wait_for(g, wait, [this] { return m_stop || m_added; });
        if (m_stop)
            return;
        m_added = false;
    }
}

} // namespace labels
