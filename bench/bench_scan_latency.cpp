// Scan-to-listed latency beyond the settle wait: one scan written to a
// pseudo-terminal linked as COM1, timed from its last byte until its row is in
// the list, minus the configured stime. Prints "figure_name: value unit" lines.
#include "packing/PackingState.h"
#include "BenchFakes.h"
#include "platform/ProgramEnvironment.h"
#include "platform/Sound.h"
#include "platform/qtwidgets/QtRecordGrid.h"
#include "ui/scan/frm_SCAN.h"
#include "tools/RawPty.h"
#include "ScanLatency.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSettleMs = 20;
constexpr int kScans = 300;

// The run's packing job: boxes of that size, numbers from 1.
PackingState &freshJob(int16_t perMiddle, int16_t perOuter)
{
    PackingState &state = packingState();
    state = PackingState();
    state.iPerMiddle = perMiddle;
    state.iPerOuter = perOuter;
    state.iMiddleDigits = state.iOuterDigits = 3;
    state.lMiddleNo = state.lOuterNo = 1;
    return state;
}

// A DataMatrix as a scanner sends it: identifier, GS-separated fields, CR LF.
QByteArray gs1Scan(int i)
{
    return QStringLiteral("]d2" "0109501101530003" "21S%1\x1d" "10L24\x1d" "17%2\r\n")
        .arg(i)
        .arg(QDate::currentDate().addYears(1).toString(QStringLiteral("yyMMdd")))
        .toLatin1();
}

// The same with GS1 scans: boxes of 60 written, every scan also checked against the
// day's boxes.
int gs1Latencies(SilentMessages &messages)
{
    QTemporaryDir dir;
    program::setFolder(dir.path());
    RawPty pty;
    if (!prepareScanFolder(dir.path(), kSettleMs, pty, QStringLiteral("[gs1]\r\nscans=1;\r\n[cf]\r\nscope=day;\r\n")))
        return 1;
    PackingState &state = freshJob(10, 60);
    CountingExport counting;
    frm_SCAN window(std::make_unique<ScanSession>(
        ScanSession::Parts{dir.path(), state, counting, messages, operatorSounds(), program::now}));
    window.Form_Load();
    if (!window.port().portOpen() || !window.intake().takesGs1Scans())
        return 1;
    const std::vector<double> ms = scanLatencies(window, pty.master, kSettleMs, kScans, 1, gs1Scan);
    if (ms.empty() || counting.written < kScans / 60)
        return 1;
    std::printf("gs1_scan_latency_beyond_wait_median: %.2f ms\n", quantile(ms, 0.5));
    std::printf("gs1_scan_latency_beyond_wait_p99: %.2f ms\n", quantile(ms, 0.99));
    std::printf("gs1_scan_latency_scans: %zu (%d boxes written)\n", ms.size(), counting.written);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    program::setFolder(dir.path());
    RawPty pty;
    if (!prepareScanFolder(dir.path(), kSettleMs, pty))
        return 1;
    const int master = pty.master;

    SilentMessages messages;
    setOperatorMessages(&messages);
    PackingState &state = freshJob(10, 32000);
    NoExport none;
    frm_SCAN window(std::make_unique<ScanSession>(
        ScanSession::Parts{dir.path(), state, none, messages, operatorSounds(), program::now}));
    window.Form_Load();
    if (!window.port().portOpen()) {
        std::fprintf(stderr, "the scan window could not open its port\n");
        return 1;
    }

    const std::vector<double> beyondWaitMs = scanLatencies(window, master, kSettleMs, kScans);
    if (beyondWaitMs.empty())
        return 1;
    const auto at = [&](double q) { return quantile(beyondWaitMs, q); };
    std::printf("scan_latency_settle_wait: %d ms\n", kSettleMs);
    std::printf("scan_latency_beyond_wait_median: %.2f ms\n", at(0.5));
    std::printf("scan_latency_beyond_wait_p99: %.2f ms\n", at(0.99));
    std::printf("scan_latency_scans: %zu\n", beyondWaitMs.size());
    const int gs1 = gs1Latencies(messages);
    setOperatorMessages(nullptr);
    return gs1;
}
