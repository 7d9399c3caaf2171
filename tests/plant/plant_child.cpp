// A station without windows that the plant-record kill test runs again and again
// in one program folder: it starts as Start does (a box the journal kept is found
// written or continued), scans COUNT packs numbered from FIRST into real workbooks
// in files/, and waits until its outbox is delivered and its workbooks compared with
// the record. With KILL above 0 it kills
// itself at that step, counting every step of a file replace (workbook, journal,
// outbox) and of a delivery (each statement, the outbox's compaction), on either
// thread. It prints "steps N" when it ends by itself.
//
//   plant_child FOLDER URL KILL FIRST COUNT [STATION]
#include "station/JournalScript.h"

#include "packing/PackingState.h"
#include "platform/FaultSeam.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "settings/StationSettings.h"
#include "station/DailyWorkbookExport.h"
#include "plant/PlantLink.h"
#include "plant/PlantSender.h"
#include "station/ScanSession.h"
#include "station/StartChecks.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

std::atomic<int> g_steps{0};
int g_killAt = 0;

void step()
{
    if (++g_steps == g_killAt)
        std::raise(SIGKILL);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 6 && argc != 7)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    g_killAt = QByteArray(argv[3]).toInt();
    const int first = QByteArray(argv[4]).toInt();
    const int count = QByteArray(argv[5]).toInt();
    program::setFolder(folder);
    program::setClock(journalscript::clock);
    // Every replace of a file and every step of a delivery is a point to be killed at.
    faultseam::setForTests([](faultseam::Point p, const QString &) {
        if (faultseam::replacing(p) || p == faultseam::Point::DeliveryStep)
            step();
        return 0;
    });

    PlantLink::Options options;
    options.url = QString::fromLocal8Bit(argv[2]);
    options.station = argc == 7 ? QString::fromLocal8Bit(argv[6]) : QStringLiteral("line3-a");
    options.heartbeatSeconds = 1;
    options.longestPauseSeconds = 1;
    PlantLink link(folder, options);

    PackingState state;
    journalscript::setUp(state);
    RecordingMessages messages; // every question answered with its default: go on with the kept box
    RecordingSounds sounds;
    xls::NativeWorkbookFile workbook;
    DailyWorkbookExport daily(workbook);
    ScanSession session({folder, state, daily, messages, sounds, journalscript::clock, &link});
    settings::ScanSettings scan;
    scan.cfMode = QStringLiteral("0");
    session.configure(scan);

    const startchecks::KeptBox kept = startchecks::offerKeptBox(folder, state.iPerOuter, daily, &link, messages);
    if (!kept.goOn)
        return 3;
    if (kept.box) {
        // The numbers go on from where the kept box left them.
        state.lMiddleNo = kept.box->middleNo.value_or(1);
        state.lOuterNo = kept.box->outerNo.value_or(1);
    } else if (const std::optional<BoxJournal::Saved> numbers = BoxJournal::load(folder)) {
        state.lMiddleNo = numbers->middleNo.value_or(1);
        state.lOuterNo = numbers->outerNo.value_or(1);
    }
    state.buildLabels();
    if (!session.startBox(kept.box))
        return 4;
    for (int i = first; i < first + count; ++i)
        session.receive(QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0')), 0);

    // Done when the outbox is delivered and the record was compared with the workbooks
    // (what a record that came back without some boxes lacks is then delivered too); a
    // minute is far more than it takes.
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (link.state().kind != PlantLink::State::Recorded || link.state().backlog > 0 || !link.state().levelledAt.isValid()) {
        if (std::chrono::steady_clock::now() > until)
            return 5;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("steps %d\n", int(g_steps));
    std::fflush(stdout);
    return 0;
}
