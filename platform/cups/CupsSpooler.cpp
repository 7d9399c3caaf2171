#include "platform/PrintSpooler.h"

#include "core/RuntimeError.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <memory>

namespace printing {

namespace {

const QString kSource = QStringLiteral("Print");
constexpr int kConnectMs = 5000;
constexpr double kAnswerSeconds = 10.0;

[[noreturn]] void fail(const QString &what)
{
    throw RuntimeError(RuntimeError::PrintFailed, kSource, what, RuntimeError::Kind::Labels);
}

QString lastError()
{
    return QString::fromUtf8(cupsLastErrorString());
}

// A connection of our own, so that a print system that stopped answering gives the
// thread back after the answer time.
using Http = std::unique_ptr<http_t, void (*)(http_t *)>;

int giveUp(http_t *, void *)
{
    return 0; // do not wait any longer
}

Http connect()
{
    http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (!http)
        fail(QStringLiteral("无法连接打印服务（CUPS）"));
    httpSetTimeout(http, kAnswerSeconds, giveUp, nullptr);
    return Http(http, httpClose);
}

JobState stateOf(ipp_jstate_t s)
{
    switch (s) {
    case IPP_JSTATE_PENDING:
        return JobState::Waiting;
    case IPP_JSTATE_HELD:
    case IPP_JSTATE_STOPPED:
        return JobState::Held;
    case IPP_JSTATE_PROCESSING:
        return JobState::Printing;
    case IPP_JSTATE_COMPLETED:
        return JobState::Done;
    case IPP_JSTATE_CANCELED:
    case IPP_JSTATE_ABORTED:
        break;
    }
    return JobState::Failed;
}

template <typename Match>
std::optional<Job> findJob(const QString &queue, Match match)
{
    Http http = connect();
    cups_job_t *jobs = nullptr;
    const int n = cupsGetJobs2(http.get(), &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    if (n < 0)
        fail(QStringLiteral("打印服务未列出队列 %1 的作业：%2").arg(queue, lastError()));
    std::optional<Job> found;
    for (int i = 0; i < n; ++i)
        if (match(jobs[i]) && (!found || jobs[i].id > found->id))
            found = Job{jobs[i].id, stateOf(jobs[i].state), {}};
    cupsFreeJobs(n, jobs);
    return found;
}

} // namespace

int submit(const QString &queue, const QString &title, const QByteArray &pdf)
{
    // One Print-Job request carries the document: the print system holds a job with
    // its document, or none at all, whatever happens to the connection.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/zantrel-label-XXXXXX.pdf"));
    if (!file.open() || file.write(pdf) != pdf.size() || !file.flush())
        fail(QStringLiteral("无法写出标签的临时文件：%1").arg(file.errorString()));
    Http http = connect();
    const int id = cupsPrintFile2(http.get(), queue.toUtf8().constData(), QFile::encodeName(file.fileName()).constData(),
                                  title.toUtf8().constData(), 0, nullptr);
    if (id == 0)
        fail(QStringLiteral("打印队列 %1 未接受标签：%2").arg(queue, lastError()));
    return id;
}

std::optional<Job> findByTitle(const QString &queue, const QString &title)
{
    const QByteArray wanted = title.toUtf8();
    return findJob(queue, [&](const cups_job_t &j) { return j.title && wanted == j.title; });
}

std::optional<Job> find(const QString &queue, int id)
{
    return findJob(queue, [&](const cups_job_t &j) { return j.id == id; });
}

} // namespace printing
