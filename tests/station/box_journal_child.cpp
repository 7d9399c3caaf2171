// Scans journalscript's run with the box journaled in the given folder and prints
// "scan N" after each scan's handling has returned. The journal test kills it.
// With a third argument N, boxes go to real workbooks in the folder's files/, and
// the child kills itself at the N-th step of a file replace (workbook or journal):
// the fifth step of a workbook's replace comes right after the new file took the
// old one's name. With a fourth argument "short", the script is four packs, F8's
// short box (封箱), "closed", and two packs of the next box.
#include "JournalScript.h"

#include "platform/FaultSeam.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BoxJournal.h"
#include "station/DailyWorkbookExport.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3 || argc > 5)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const quint32 seed = quint32(QByteArray(argv[2]).toUInt());
    journalscript::Station station;
    xls::NativeWorkbookFile workbook;
    DailyWorkbookExport daily(workbook);
    BarcodeIntake realIntake(station.state, station.box, station.messages, daily);
    BarcodeIntake &intake = argc >= 4 ? realIntake : station.intake;
    if (argc >= 4) {
        program::setFolder(folder);
        program::setClock(journalscript::clock);
        realIntake.sCfMode = QStringLiteral("0");
        const int killAt = QByteArray(argv[3]).toInt();
        faultseam::setForTests([killAt, steps = 0](faultseam::Point p, const QString &) mutable {
            if (faultseam::replacing(p) && ++steps == killAt)
                std::raise(SIGKILL);
            return 0;
        });
    }
    BoxJournal journal(folder);
    journal.startWith({}, false, station.state.lMiddleNo, station.state.lOuterNo);
    station.box.setLog(&journal);
    if (argc == 5) {
        for (const char *pack : {"S00001\r\n", "S00002\r\n", "S00003\r\n", "S00004\r\n"})
            intake.receive(QString::fromLatin1(pack));
        station.messages.answers = QStringList{QStringLiteral("封箱")};
        intake.closeShortBox();
        std::printf("closed\n");
        std::fflush(stdout);
        for (const char *pack : {"S00005\r\n", "S00006\r\n"})
            intake.receive(QString::fromLatin1(pack));
        return 0;
    }
    const QStringList scans = journalscript::scans(seed);
    for (int i = 0; i < scans.size(); ++i) {
        intake.receive(scans[i]);
        std::printf("scan %d\n", i + 1);
        std::fflush(stdout);
    }
    return 0;
}
