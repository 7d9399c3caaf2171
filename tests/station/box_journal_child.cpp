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
    PackingState state;
    journalscript::setUp(state);
    RecordingMessages messages;
    RecordingExport nowhere; // exports succeed; what matters is the box around them
    Box box;
    BoxJournal journal(folder);
    journal.startWith({}, false, state.lMiddleNo, state.lOuterNo);
    box.setLog(&journal);
    BarcodeIntake intake(state, box, messages, nowhere);
    intake.sCfMode = QStringLiteral("0");
    const QStringList scans = journalscript::scans(seed);
    for (int i = 0; i < scans.size(); ++i) {
        intake.receive(scans[i]);
        std::printf("scan %d\n", i + 1);
        std::fflush(stdout);
    }
    return 0;
}
