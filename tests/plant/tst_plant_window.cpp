#include "station/Fakes.h"
#include "station/Pty.h"
#include "support/PlantDb.h"

#include "packing/PackingState.h"
#include "platform/ProgramEnvironment.h"
#include "plant/PlantLink.h"
#include "ui/scan/frm_SCAN.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using plantdb::one;

// The scan window with the plant record on a real server that stops answering while
// the operator goes on scanning.
class TestPlantWindow : public QObject
{
    Q_OBJECT
    PgServer m_server;

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // A failed test must not leave the server stopped.
    void cleanup() { m_server.resume(); }

    void aStoppedServerCostsTheOperatorNothing()
    {
        const QString name = plantdb::make(m_server, QStringLiteral("scanning"));
        auto admin = database::connect(m_server.url(QStringLiteral("postgres"), name));
        QTemporaryDir dir;
        program::setFolder(dir.path());
        QFile config(dir.filePath("config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[length]\r\nnlen=8;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\nscope=plant;\r\n[waittime]\r\nstime=20;\r\n");
        config.close();
        Pty scanner(dir.path(), 1);
        RecordingMessages messages;
        RecordingExport exports;
        RecordingSounds sounds;
        setOperatorMessages(&messages);
        PackingState &state = packingState();
        state.iInnerLen = 8;
        state.iPerMiddle = 2;
        state.iPerOuter = 4;
        state.iMiddleDigits = state.iOuterDigits = 3;
        state.lMiddleNo = state.lOuterNo = 1;
        state.buildLabels();
        // The sender may wait for the stopped server for ever: a window that waited
        // with it would never list another scan, and this test would not end.
        PlantLink::Options options;
        options.url = m_server.url(QStringLiteral("line3"), name);
        options.station = QStringLiteral("line3-a");
        options.answerSeconds = 0;
        PlantLink link(dir.path(), options);
        frm_SCAN window(std::make_unique<ScanSession>(
            ScanSession::Parts{dir.path(), state, exports, messages, sounds, program::now, &link, link.questions()}));
        window.Form_Load();
        window.show();
        QVERIFY(window.startBox(std::nullopt));
        auto panel = [&] { return window.findChild<QLabel *>("lblPlant")->text(); };
        // Connected, before any box: nothing is said to be recorded.
        QTRY_VERIFY2(panel().startsWith(QStringLiteral("中央记录：已连接\n尚未上传外箱")), qPrintable(panel()));

        int scanned = 0;
        auto scan = [&] {
            ++scanned;
            scanner.send(QStringLiteral("A%1\r\n").arg(scanned, 5, 10, QLatin1Char('0')).toLatin1());
            // Listed, or the box it filled went out.
            QTRY_VERIFY(window.box().iInnerCount() == scanned % 4);
        };
        for (int i = 0; i < 8; ++i)
            scan();
        QTRY_COMPARE(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QStringLiteral("2"));
        QTRY_VERIFY2(panel().startsWith(QStringLiteral("中央记录：已记录\n最后上传 ")), qPrintable(panel()));
        QVERIFY2(panel().contains(QStringLiteral("查重：全厂")), qPrintable(panel()));

        // No answers, and the scans go on: six boxes more while the sender waits on its
        // first, every scan's own question unanswered.
        QVERIFY(m_server.pause());
        for (int i = 0; i < 6 * 4; ++i)
            scan();
        const int boxes = scanned / 4;
        QCOMPARE(boxes, 8);
        QCOMPARE(int(exports.boxes.size()), boxes);
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('|')));
        // The boxes written meanwhile are counted on the panel.
        QTRY_VERIFY2(panel().contains(QStringLiteral("，6 箱等待上传")), qPrintable(panel()));
        // Each scan waited for the plant-wide check no longer than its budget, and was checked here.
        QVERIFY2(panel().contains(QStringLiteral("查重：仅本站（中央记录未及时回答）")), qPrintable(panel()));
        QVERIFY(m_server.resume());

        // Back again: every box is recorded, every pack once, and the panel says so.
        QTRY_COMPARE_WITH_TIMEOUT(one(*admin, "SELECT count(*) FROM zantrel.boxes"), QString::number(boxes), 60000);
        QCOMPARE(one(*admin, "SELECT count(DISTINCT barcode) FROM zantrel.pack_locations"), QString::number(boxes * 4));
        QTRY_VERIFY_WITH_TIMEOUT(panel().startsWith(QStringLiteral("中央记录：已记录")), 15000);
        // Answered in time again, once the question the stopped server held is done.
        for (int i = 0; i < 50 && !panel().contains(QStringLiteral("查重：全厂")); ++i)
            scan();
        QVERIFY2(panel().contains(QStringLiteral("查重：全厂")), qPrintable(panel()));
        setOperatorMessages(nullptr);
    }
};

QTEST_MAIN(TestPlantWindow)
#include "tst_plant_window.moc"
