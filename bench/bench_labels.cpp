// Labels on paper, measured with a CUPS scheduler of the bench's own:
//  - scan-to-listed latency beyond the settle wait through a box every 10 scans
//    (each written to the day's workbook), without labels (the floor), with labels
//    printed, and with labels while cupsd is SIGSTOPped (a hung print server);
//  - from a box's write to its job in the scheduler's queue, to the scheduler saying
//    the job completed, and to the print line saying 已打印.
// Prints "figure_name: value unit" lines.
#include "BenchFakes.h"
#include "ScanLatency.h"
#include "support/CupsServer.h"

#include "labels/LabelSpool.h"
#include "packing/PackingState.h"
#include "platform/ProgramEnvironment.h"
#include "platform/Sound.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"
#include "station/DailyWorkbookExport.h"
#include "tools/RawPty.h"
#include "ui/scan/frm_SCAN.h"

#include <cups/cups.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <cstdio>

namespace {

constexpr int kSettleMs = 20;
constexpr int kScans = 200;
constexpr int kBoxes = 30;

void report(const char *name, std::vector<double> ms)
{
    std::printf("%s_median: %.2f ms\n", name, quantile(ms, 0.5));
    std::printf("%s_p99: %.2f ms\n", name, quantile(ms, 0.99));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CupsServer cups;
    if (const QString why = cups.start(); !why.isEmpty() || !cups.addQueue(QStringLiteral("labels")).isEmpty()) {
        std::fprintf(stderr, "no CUPS scheduler: %s\n", qPrintable(why));
        return 1;
    }
    QTemporaryDir dir;
    program::setFolder(dir.path());
    RawPty pty;
    if (!prepareScanFolder(dir.path(), kSettleMs, pty))
        return 1;
    SilentMessages messages;
    setOperatorMessages(&messages);
    PackingState &state = packingState();
    state.iInnerLen = 8;
    state.iPerMiddle = 5;
    state.iPerOuter = 10;
    state.iMiddleDigits = state.iOuterDigits = 5;
    state.sOuterPrefix = QStringLiteral("W");
    state.sMiddlePrefix = QStringLiteral("Z");
    state.lMiddleNo = state.lOuterNo = 1;
    xls::NativeWorkbookFile file;
    DailyWorkbookExport daily(file);
    settings::PrintSettings print;
    print.printer = QStringLiteral("labels");
    labels::LabelSpool spool({dir.path(), QStringLiteral("bench"), print, 1});

    // The floor: the same window and workbook without labels.
    std::vector<double> floor, printing, hung;
    int number = 0;
    {
        frm_SCAN window(std::make_unique<ScanSession>(ScanSession::Parts{dir.path(), state, daily, messages, operatorSounds(), program::now}));
        window.Form_Load();
        floor = scanLatencies(window, pty.master, kSettleMs, kScans, number);
        number += kScans;
    }
    ScanSession::Parts parts{dir.path(), state, daily, messages, operatorSounds(), program::now};
    parts.labels = &spool;
    {
        frm_SCAN window(std::make_unique<ScanSession>(parts));
        window.Form_Load();
        printing = scanLatencies(window, pty.master, kSettleMs, kScans, number);
        number += kScans;
        cups.pause();
        hung = scanLatencies(window, pty.master, kSettleMs, kScans, number);
        number += kScans;
        cups.resume();
    }
    if (floor.empty() || printing.empty() || hung.empty())
        return 1;
    // The labels kept while the scheduler hung go out once it answers.
    QElapsedTimer drain;
    drain.start();
    while (spool.waiting() > 0 && drain.elapsed() < 120000)
        QThread::msleep(10);

    // From the box's write to its job in the queue, to CUPS saying the job completed,
    // and to the print line saying 已打印; one box at a time.
    const auto completedJobs = [&] {
        http_t *http = httpConnect2(cups.socket().toLocal8Bit().constData(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
        cups_job_t *list = nullptr;
        const int n = cupsGetJobs2(http, &list, "labels", 0, CUPS_WHICHJOBS_COMPLETED);
        cupsFreeJobs(n, list);
        httpClose(http);
        return n;
    };
    std::vector<double> toQueue, toCompleted, toTold;
    for (int i = 0; i < kBoxes; ++i) {
        Box box;
        box.appendOuterLabel(QStringLiteral("B%1").arg(i, 5, 10, QLatin1Char('0')));
        box.appendMiddleLabel(QStringLiteral("Z1"));
        for (int p = 0; p < 10; ++p)
            box.appendPack(QStringLiteral("Q%1-%2").arg(i).arg(p));
        box.setExportTarget({QStringLiteral("bench.xls"), 2 + i, QUuid::createUuid()});
        const ExportReceipt receipt{box.outerLabel(), QStringLiteral("bench.xls"), 2 + i, QDateTime::currentDateTime(), {}};
        const int jobs = int(cups.jobs().size());
        const int completed = completedJobs();
        const QString told = QStringLiteral("已打印 ") + box.outerLabel();
        QElapsedTimer clock;
        clock.start();
        spool.boxWritten(box, receipt);
        while (int(cups.jobs().size()) == jobs && clock.elapsed() < 30000)
            QThread::usleep(200);
        toQueue.push_back(clock.nsecsElapsed() / 1e6);
        while (completedJobs() == completed && clock.elapsed() < 30000)
            QThread::msleep(2);
        toCompleted.push_back(clock.nsecsElapsed() / 1e6);
        while (!spool.stateLine().contains(told) && clock.elapsed() < 30000)
            QThread::msleep(1);
        toTold.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(toQueue.begin(), toQueue.end());

    std::printf("scan_latency_settle_wait: %d ms\n", kSettleMs);
    report("scan_latency_beyond_wait_without_labels", floor);
    report("scan_latency_beyond_wait_with_labels", printing);
    report("scan_latency_beyond_wait_cupsd_stopped", hung);
    // Every box written with labels on, each once: those of the scans and those timed alone.
    std::printf("labels_printed: %d jobs for %d boxes written with labels on\n", int(cups.jobs().size()),
                (2 * kScans) / state.iPerOuter + kBoxes);
    report("box_written_to_job_in_queue", toQueue);
    report("box_written_to_job_completed", toCompleted);
    report("box_written_to_print_line_printed", toTold);
    setOperatorMessages(nullptr);
    return 0;
}
