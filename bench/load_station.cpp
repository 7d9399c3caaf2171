// One station of the plant-wide load run (bench_plant_load starts 20): intake,
// journal and outbox as at a station, without windows; boxes to no workbook. It
// scans RATE packs a second for SECONDS, its own packs, and now and then (1 in 100)
// a pack that the next station scanned shortly before. Then it waits for its
// outbox to be delivered and prints what it did:
//   scans N repeats R refused F boxes B
//   receive_ms p50 p99 max
//
//   load_station FOLDER URL INDEX STATIONS SECONDS RATE
#include "BenchFakes.h"

#include "station/BoxJournal.h"
#include "plant/PlantCheck.h"
#include "plant/PlantLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

QString packOf(int station, int n)
{
    return QStringLiteral("S%1-%2").arg(station, 2, 10, QLatin1Char('0')).arg(n, 8, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 7)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString url = QString::fromLocal8Bit(argv[2]);
    const int index = QByteArray(argv[3]).toInt();
    const int stations = QByteArray(argv[4]).toInt();
    const int seconds = QByteArray(argv[5]).toInt();
    const int rate = QByteArray(argv[6]).toInt();

    PlantLink::Options options;
    options.url = url;
    options.station = QStringLiteral("load-%1").arg(index, 2, 10, QLatin1Char('0'));
    options.tellConflicts = true;
    options.heartbeatSeconds = 5;
    options.longestPauseSeconds = 2;
    PlantLink link(folder, options);
    PlantCheck check(url);

    PackingState state;
    state.iInnerLen = 14;
    state.iPerMiddle = 5;
    state.iPerOuter = 20;
    state.iMiddleDigits = state.iOuterDigits = 6;
    state.sOuterPrefix = QStringLiteral("L%1-").arg(index, 2, 10, QLatin1Char('0'));
    state.sMiddlePrefix = QStringLiteral("M%1-").arg(index, 2, 10, QLatin1Char('0'));
    state.lMiddleNo = state.lOuterNo = 1;
    state.buildLabels();
    Box box;
    SilentMessages messages;
    CountingExport exports;
    BarcodeIntake intake(state, box, messages, exports);
    intake.sCfMode = QStringLiteral("0");
    BoxJournal journal(folder);
    journal.startWith({}, false, 1, 1);
    box.setLog(&journal);
    intake.handOverWrittenBoxesTo(&link);
    intake.checkWholePlant(&check, 150, {});

    const auto period = std::chrono::microseconds(1000000 / rate);
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> receiveMs;
    int scans = 0, repeats = 0, refused = 0, own = 0;
    for (auto next = start; next < start + std::chrono::seconds(seconds); next += period) {
        std::this_thread::sleep_until(next);
        ++scans;
        // One scan in a hundred is a pack the next station scanned: 20 scans ago (in a
        // box it has recorded, most likely) or 2 scans ago (still in its open box).
        const bool repeat = scans % 100 == 50 && own > 20;
        const int back = (scans / 100) % 2 == 0 ? 20 : 2;
        const QString pack = repeat ? packOf((index + 1) % stations, own - back) : packOf(index, ++own);
        QElapsedTimer took;
        took.start();
        intake.receive(pack + QStringLiteral("\r\n"));
        receiveMs.push_back(double(took.nsecsElapsed()) / 1e6);
        if (repeat) {
            ++repeats;
            refused += intake.lastScanListed() ? 0 : 1;
            std::printf("repeat %s %s\n", qPrintable(pack), intake.lastScanListed() ? "taken" : "refused");
        }
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (link.state().kind != PlantLink::State::Recorded || link.state().backlog > 0) {
        if (std::chrono::steady_clock::now() > until)
            return 5;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(receiveMs.begin(), receiveMs.end());
    std::printf("scans %d repeats %d refused %d boxes %d\n", scans, repeats, refused, exports.written);
    std::printf("receive_ms %.3f %.3f %.3f\n", receiveMs[receiveMs.size() / 2], receiveMs[size_t(double(receiveMs.size() - 1) * 0.99)],
                receiveMs.back());
    std::fflush(stdout);
    return 0;
}
