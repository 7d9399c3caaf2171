// Scans journalscript's run with the box journaled in the given folder and prints
// "scan N" after each scan's handling has returned. The journal test kills it.
#include "JournalScript.h"

#include "station/BoxJournal.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const quint32 seed = quint32(QByteArray(argv[2]).toUInt());
    journalscript::Station station;
    BoxJournal journal(folder);
    journal.startWith({}, false, station.state.lMiddleNo, station.state.lOuterNo);
    station.box.setLog(&journal);
    const QStringList scans = journalscript::scans(seed);
    for (int i = 0; i < scans.size(); ++i) {
        station.intake.receive(scans[i]);
        std::printf("scan %d\n", i + 1);
        std::fflush(stdout);
    }
    return 0;
}
