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

// A connection of our own, so that a print system that stopped answering gives the
// thread back after the answer time; and so that such a silence is told as one
// (libcups then reports whatever errno held, "Success" or "No such file or directory").
struct Connection
{
    http_t *http = nullptr;
    bool silent = false;
    ~Connection()
    {
        if (http)
            httpClose(http);
    }
};

int giveUp(http_t *, void *user)
{
    static_cast<Connection *>(user)->silent = true;
    return 0; // do not wait any longer
}

std::unique_ptr<Connection> connect()
{
    auto c = std::make_unique<Connection>();
    c->http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (!c->http)
        fail(QStringLiteral("无法连接打印服务（CUPS）"));
    httpSetTimeout(c->http, kAnswerSeconds, giveUp, c.get());
    return c;
}

// The print system's last refusal in the operator's words.
QString reason(const Connection &c)
{
    if (c.silent)
        return QStringLiteral("打印服务 %1 秒内没有应答").arg(int(kAnswerSeconds));
    const QString words = QString::fromUtf8(cupsLastErrorString());
    switch (cupsLastError()) {
    case IPP_STATUS_ERROR_NOT_FOUND:
        return QStringLiteral("打印服务没有这个队列（%1）").arg(words);
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
        return QStringLiteral("打印队列不接受作业（%1）").arg(words);
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        return QStringLiteral("打印服务不允许这个登录（%1）").arg(words);
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
        return QStringLiteral("打印服务无法连接（%1）").arg(words);
    default:
        break;
    }
    if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE || httpError(c.http) != 0)
        return QStringLiteral("与打印服务的连接中断");
    return QStringLiteral("打印服务：%1").arg(words);
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

QByteArray queueUri(const QString &queue)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                     queue.toUtf8().constData());
    return QByteArray(uri);
}

using Ipp = std::unique_ptr<ipp_t, void (*)(ipp_t *)>;

Ipp request(ipp_op_t op, const QString &queue)
{
    Ipp r(ippNewRequest(op), ippDelete);
    ippAddString(r.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, queueUri(queue).constData());
    ippAddString(r.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return r;
}

QString text(ipp_t *response, const char *name)
{
    ipp_attribute_t *a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    return a ? QString::fromUtf8(ippGetString(a, 0, nullptr)) : QString();
}

} // namespace

int submit(const QString &queue, const QString &title, const QByteArray &pdf)
{
    // One Print-Job request carries the job and its document in one HTTP request
    // (cupsPrintFile2 sends two: Create-Job, then Send-Document, and a job whose second
    // request never came stays held without a document). The scheduler reads the whole
    // request before it makes the job, so there is a job with its document or none.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/zantrel-label-XXXXXX.pdf"));
    if (!file.open() || file.write(pdf) != pdf.size() || !file.flush())
        fail(QStringLiteral("无法写出标签的临时文件：%1").arg(file.errorString()));
    const auto c = connect();
    Ipp r = request(IPP_OP_PRINT_JOB, queue);
    ippAddString(r.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.toUtf8().constData());
    ippAddString(r.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
    const QByteArray resource = "/printers/" + queue.toUtf8();
    // cupsDoFileRequest frees the request.
    Ipp response(cupsDoFileRequest(c->http, r.release(), resource.constData(), QFile::encodeName(file.fileName()).constData()),
                 ippDelete);
    ipp_attribute_t *id = response ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER) : nullptr;
    if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE || !id)
        fail(QStringLiteral("打印队列 %1 未接受标签：%2").arg(queue, reason(*c)));
    return ippGetInteger(id, 0);
}

std::optional<Job> job(const QString &queue, int id)
{
    const auto c = connect();
    Ipp r = request(IPP_OP_GET_JOB_ATTRIBUTES, queue);
    ippAddInteger(r.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
    static const char *const wanted[] = {"job-id", "job-state", "job-name", "number-of-documents", "job-state-reasons",
                                         "job-printer-state-message"};
    ippAddStrings(r.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)), nullptr, wanted);
    Ipp response(cupsDoRequest(c->http, r.release(), "/jobs/"), ippDelete);
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
        return std::nullopt; // purged from the history, or never made under this id
    if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        fail(QStringLiteral("打印服务未告知作业 %1 的状态：%2").arg(id).arg(reason(*c)));
    Job j;
    j.id = id;
    ipp_attribute_t *state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    j.state = state ? stateOf(ipp_jstate_t(ippGetInteger(state, 0))) : JobState::Waiting;
    j.title = text(response.get(), "job-name");
    if (ipp_attribute_t *docs = ippFindAttribute(response.get(), "number-of-documents", IPP_TAG_INTEGER))
        j.documents = ippGetInteger(docs, 0);
    j.reason = text(response.get(), "job-printer-state-message");
    if (j.reason.isEmpty())
        j.reason = text(response.get(), "job-state-reasons");
    return j;
}

std::optional<Job> findByTitle(const QString &queue, const QString &title)
{
    const auto c = connect();
    cups_job_t *jobs = nullptr;
    const int n = cupsGetJobs2(c->http, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    if (n < 0)
        fail(QStringLiteral("打印服务未列出队列 %1 的作业：%2").arg(queue, reason(*c)));
    const QByteArray wanted = title.toUtf8();
    std::optional<Job> found;
    for (int i = 0; i < n; ++i)
        if (jobs[i].title && wanted == jobs[i].title && (!found || jobs[i].id > found->id))
            found = Job{jobs[i].id, stateOf(jobs[i].state), title, -1, {}};
    cupsFreeJobs(n, jobs);
    return found;
}

void cancel(const QString &queue, int id)
{
    const auto c = connect();
    if (cupsCancelJob2(c->http, queue.toUtf8().constData(), id, 0) > IPP_STATUS_OK_EVENTS_COMPLETE)
        fail(QStringLiteral("打印服务未取消作业 %1：%2").arg(id).arg(reason(*c)));
}

} // namespace printing
