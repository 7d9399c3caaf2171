#include "FileBytes.h"
#include "../station/Fakes.h"
#include "../station/Pty.h"

#include "packing/PackingState.h"
#include "platform/ProgramEnvironment.h"
#include "platform/qtwidgets/QtMessageBox.h"
#include "platform/qtwidgets/ToolkitTranslation.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayWorkbooks.h"
#include "../platform/WorkbookReaders.h"
#include "ui/scan/frm_SCAN.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTableView>
#include <QTemporaryDir>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QSignalSpy>
#include <QFileInfo>
#include <memory>

namespace {

void writeConfig(const QString &folder, const QByteArray &stime = "150", const QByteArray &port = "1",
                 const QByteArray &nlen = "8", const QByteArray &encoding = {})
{
    QFile f(folder + "/config.ini");
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("[length]\r\nnlen=" + nlen + ";\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=" + port
            + (encoding.isEmpty() ? QByteArray() : ";\r\nencoding=" + encoding)
            + ";\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=" + stime + ";\r\n");
}

QStringList barcodes(frm_SCAN &w)
{
    QStringList out;
    for (int r = 0; r < w.box().rowCount(); ++r)
        if (!w.box().cellText(r, 2).isEmpty())
            out << w.box().cellText(r, 2);
    return out;
}

} // namespace

class TestScanWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingMessages m_messages;
    RecordingExport m_export;
    RecordingSounds m_sounds;

    QString folder() const { return m_dir->path(); }
    std::unique_ptr<ScanSession> session()
    {
        return std::make_unique<ScanSession>(ScanSession::Parts{folder(), packingState(), m_export, m_messages, m_sounds, program::now});
    }
    std::unique_ptr<frm_SCAN> openWindow()
    {
        auto w = std::make_unique<frm_SCAN>(session());
        w->Form_Load();
        w->show();
        return w;
    }

    // A GS1 station checking the day, boxes W… of middle boxes Z… of two packs.
    bool setUpGs1Day(int16_t perOuter)
    {
        QFile config(folder() + "/config.ini");
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("[length]\r\nnlen=8;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\nscope=day;\r\n"
                     "[gs1]\r\nscans=1;\r\n[waittime]\r\nstime=100;\r\n");
        packingState().iPerMiddle = 2;
        packingState().iPerOuter = perOuter;
        packingState().sOuterPrefix = "W";
        packingState().sMiddlePrefix = "Z";
        return true;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        program::setFolder(folder());
        setOperatorMessages(&m_messages);
        setOperatorSounds(&m_sounds);
        m_sounds.played.clear();
        m_messages.texts.clear();
        m_messages.whileOpen = nullptr;
        m_export = RecordingExport();
        PackingState &s = packingState();
        s = PackingState();
        s.iPerMiddle = 2;
        s.iPerOuter = 10;
        s.iMiddleDigits = s.iOuterDigits = 3;
        s.lMiddleNo = s.lOuterNo = 1;
    }
    void cleanup()
    {
        setOperatorMessages(nullptr);
        setOperatorSounds(nullptr);
    }

    void layoutCaptionsFontsAndTabOrder()
    {
        writeConfig(folder());
        Pty scanner(folder(), 1);
        auto w = openWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Zantrel系统V1.0"));
        {
            // A station with a name says it: two stations on one screen are told apart.
            ScanSession::Parts named{folder(), packingState(), m_export, m_messages, m_sounds, program::now};
            named.stationName = QStringLiteral("line3-a");
            frm_SCAN other(std::make_unique<ScanSession>(named));
            QCOMPARE(other.windowTitle(), QStringLiteral("Zantrel系统V1.0 — line3-a"));
        }
        QCOMPARE(w->size(), QSize(620, 557));
        QCOMPARE(w->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(w->font().families().contains(QStringLiteral("宋体")));
        QCOMPARE(w->font().pointSizeF(), 15.75);
        auto *title = w->findChild<QLabel *>("lblTitle");
        QCOMPARE(title->text(), QStringLiteral("扫描条码"));
        QCOMPARE(title->geometry(), QRect(0, 0, 628, 67));
        QCOMPARE(title->font().pointSizeF(), 36.0);
        QVERIFY(title->font().bold());
        QCOMPARE(title->palette().color(QPalette::Window), QColor(128, 128, 255));
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::white));
        auto *exit = w->findChild<QPushButton *>("cmdCancel");
        QCOMPARE(exit->text(), QStringLiteral("退出"));
        QCOMPARE(exit->geometry(), QRect(456, 464, 153, 68));
        QCOMPARE(exit->font().pointSizeF(), 26.25);
        auto *text1 = w->findChild<QLineEdit *>("Text1");
        QCOMPARE(text1->geometry(), QRect(8, 72, 425, 49));
        QCOMPARE(text1->font().pointSizeF(), 24.0);
        QVERIFY(text1->text().isEmpty());
        auto *list = w->findChild<QTableView *>("fg1");
        QCOMPARE(list->geometry(), QRect(8, 128, 417, 409));
        QCOMPARE(list->model()->columnCount(), 3);
        QCOMPARE(list->columnWidth(0), 133);
        QVERIFY(list->font().bold());
        QCOMPARE(exit->nextInFocusChain(), text1);
        QCOMPARE(text1->nextInFocusChain(), list);
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE(QApplication::focusWidget(), exit);
        QVERIFY(m_messages.texts.isEmpty());
    }

    // A message box as on a Chinese desktop: 确定, its text at the windows' size.
    void messageBoxesSpeakChinese()
    {
        QVERIFY2(toolkit::installChineseTexts(), "qtbase_zh_CN.qm not found: install qt6-translations-l10n");
        QString button;
        qreal size = 0;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            button = box->buttons().value(0) ? box->buttons().value(0)->text() : QString();
            size = box->font().pointSizeF();
            box->accept();
        });
        QtMessageBox messages;
        messages.show(QStringLiteral("条码长度不正确！"));
        QCOMPARE(button.remove(QLatin1Char('&')), QStringLiteral("确定"));
        QCOMPARE(size, 15.75);
    }

    void tabGoesRoundAndRowsAre360Twips()
    {
        writeConfig(folder());
        Pty scanner(folder(), 1);
        auto w = openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        scanner.send("A00001\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00001"});
        auto *exit = w->findChild<QPushButton *>("cmdCancel");
        auto *text1 = w->findChild<QLineEdit *>("Text1");
        auto *list = w->findChild<QTableView *>("fg1");
        exit->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), exit);
        for (QWidget *next : {static_cast<QWidget *>(text1), static_cast<QWidget *>(list), static_cast<QWidget *>(exit)}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTRY_COMPARE(QApplication::focusWidget(), next); // the list with rows lets Tab go on
        }
        QCOMPARE(list->rowHeight(0), 24); // 360 twips
        QVERIFY(!w->findChild<QWidget *>("statusPanel")->focusPolicy());
    }

    void theStatusPanelAndTheSoundsFollowTheBox()
    {
        writeConfig(folder(), "30");
        auto scanner = std::make_unique<Pty>(folder(), 1);
        packingState().iPerOuter = 2;
        auto w = openWindow();
        auto text = [&](const char *name) { return w->findChild<QLabel *>(name)->text(); };
        QCOMPARE(text("lblPacks"), QStringLiteral("内包 0 / 2"));
        QCOMPARE(text("lblLastBox"), QStringLiteral("上一箱：尚无"));
        QVERIFY(text("lblScanner").startsWith(QStringLiteral("扫描枪 COM1 → /dev/pts/")));
        // A station without a plant record shows no line of it.
        QCOMPARE(text("lblPlant"), QString());
        QVERIFY(w->findChild<QLabel *>("lblPlant")->isHidden());

        scanner->send("A00001\r\n");
        QTRY_COMPARE(text("lblPacks"), QStringLiteral("内包 1 / 2"));
        QCOMPARE(text("lblBox"), QStringLiteral("外箱 001\n中箱 001"));
        QVERIFY(m_sounds.played.empty());

        scanner->send("A00001\r\n"); // a repeat: refused, with its sound
        QTRY_COMPARE(m_messages.texts.size(), 1);
        QCOMPARE(m_sounds.played, std::vector<Sound>{Sound::Refused});

        scanner->send("A00002\r\n"); // the box is full and written
        QTRY_COMPARE(m_export.boxes.size(), size_t(1));
        QTRY_VERIFY(text("lblLastBox").startsWith(QStringLiteral("上一箱 001 已写入 recorded.xls（")));
        QCOMPARE(text("lblPacks"), QStringLiteral("内包 0 / 2"));
        QCOMPARE(m_sounds.played.back(), Sound::BoxWritten);

        m_export.failNext = 5; // the next box cannot be written
        scanner->send("B00001\r\n");
        QTRY_COMPARE(text("lblPacks"), QStringLiteral("内包 1 / 2"));
        scanner->send("B00002\r\n");
        QTRY_VERIFY(text("lblLastBox").startsWith(QStringLiteral("外箱 002 等待写入工作簿：")));
        QVERIFY(text("lblLastBox").contains(QStringLiteral("磁盘已满")));
        QCOMPARE(m_sounds.played.back(), Sound::Refused);

        scanner.reset(); // unplugged
        QTRY_COMPARE(text("lblScanner"), QStringLiteral("扫描枪 COM1 未连接"));
    }

    void whatWaitedBeforeThePortOpenedIsNoScan()
    {
        writeConfig(folder(), "30");
        Pty scanner(folder(), 1);
        // Scanned while no window listened: a real line would have lost it.
        scanner.send("A00001\r\nA00002\r\n");
        auto w = openWindow();
        scanner.send("A00003\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00003"});
        QVERIFY(m_messages.texts.isEmpty());
        const QByteArray record = bytesOf(folder() + "/files/refused-" + program::now().toString("yyyyMMdd").toLatin1() + ".txt");
        QVERIFY2(record.contains("\t串口打开前收到的数据已丢弃\t1/1\t16 个字节\n"), record.constData());

        // Nothing waited: nothing on record.
        QFile::remove(folder() + "/files/refused-" + program::now().toString("yyyyMMdd") + ".txt");
        w.reset();
        auto again = openWindow();
        QVERIFY(!QFileInfo::exists(folder() + "/files/refused-" + program::now().toString("yyyyMMdd") + ".txt"));
    }

    void scansFromTheWireReachTheList()
    {
        writeConfig(folder(), "150");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        QVERIFY(w->port().portOpen());
        QCOMPARE(w->intake().sCfMode, QStringLiteral("0")); // read through the CONFIG.ini spelling

        // A scan in pieces is listed once, after the settle wait.
        // (The second piece is sent once the settle wait has begun, the port no longer raising
        // receive events; it runs nested in this test's own waits.)
        QTimer secondPiece;
        secondPiece.setInterval(0);
        QObject::connect(&secondPiece, &QTimer::timeout, [&] {
            if (w->port().rThreshold() == 0) {
                secondPiece.stop();
                scanner.send("01\r\n");
            }
        });
        scanner.send("A000");
        secondPiece.start();
        QTRY_COMPARE(barcodes(*w), QStringList{"A00001"});

        // Two scans within one settle wait are one text of the wrong length, named piece by piece.
        scanner.send("A00002\r\nA00003\r\n");
        QTRY_COMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kWrongLength});
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("2 段")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("1. A00002\n  2. A00003")));
        QCOMPARE(barcodes(*w), QStringList{"A00001"});

        // Characters arriving while a message is open are handled once it is closed,
        // as a text of their own; the next scan is not spoilt by them.
        int opened = 0;
        m_messages.whileOpen = [&](const QString &) {
            if (++opened == 1)
                scanner.send("ZZ");
        };
        scanner.send("short\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 3);
        QVERIFY(m_messages.texts[2].contains(QStringLiteral("1. ZZ")));
        scanner.send("A00004\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList({"A00001", "A00004"}));
        QCOMPARE(m_messages.texts.size(), 3); // and A00001 was not listed or refused twice
    }

    // GS1 scans from the wire, in every spelling a scanner sends: listed and written in
    // human-readable form, as xlrd reads it; the same pack spelled otherwise is a repeat
    // of the day; F8 writes a short box.
    void gs1ScansFromTheWireLandInTheWorkbook()
    {
        QVERIFY(setUpGs1Day(3));
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Pty scanner(folder(), 1);
        auto w = std::make_unique<frm_SCAN>(
            std::make_unique<ScanSession>(ScanSession::Parts{folder(), packingState(), daily, m_messages, m_sounds, program::now}));
        w->Form_Load();
        w->show();
        QVERIFY(w->port().portOpen());
        const QByteArray gs("\x1d");
        const QString lot = QStringLiteral("(10)L24(17)%1").arg(QDate::currentDate().addYears(1).toString("yyMMdd"));
        const QByteArray tail = lot.mid(4, 3).toLatin1() + gs + "17" + lot.right(6).toLatin1();
        scanner.send("]d2" "0109501101530003" "21A1" + gs + "10" + tail + gs + "\r\n");
        QTRY_COMPARE(barcodes(*w).size(), 1);
        scanner.send(gs + "0109501101530003" "21A2" + gs + "10" + tail + "\r\n");
        QTRY_COMPARE(barcodes(*w).size(), 2);
        scanner.send(("(01)09501101530003(21)A3" + lot + "\r\n").toUtf8());
        QTRY_COMPARE(w->box().rowCount(), 0); // full, written
        QCOMPARE(m_messages.texts, QStringList());

        const QString workbook = dayworkbooks::path(folder(), QDate::currentDate());
        const QString a1 = "(01)09501101530003(21)A1" + lot;
        XlrdView view = readWithXlrd(workbook);
        QCOMPARE(view.rows.size(), 1);
        QCOMPARE(view.rows[0].rows.mid(1), QStringList({"W001", "|Z001", "||" + a1, "||(01)09501101530003(21)A2" + lot, "|Z002",
                                                        "||(01)09501101530003(21)A3" + lot}));

        // A1 again, its fields in another order: a repeat of the day's box.
        scanner.send("]C1" "0109501101530003" "10" + tail + gs + "21A1\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 1);
        QCOMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kDuplicate});
        QVERIFY2(m_messages.texts[0].contains(QStringLiteral("W001")), qPrintable(m_messages.texts[0]));

        // The end of the lot: one pack, F8, 封箱.
        scanner.send(("(01)09501101530003(21)A4" + lot + "\r\n").toUtf8());
        QTRY_COMPARE(barcodes(*w).size(), 1);
        m_messages.answers = QStringList{QStringLiteral("封箱")};
        QTest::keyClick(w.get(), Qt::Key_F8);
        QTRY_COMPARE(w->box().rowCount(), 0);
        QCOMPARE(m_messages.questions.last(), QStringLiteral("外箱 W002 只有 1 个内包（每箱 3 个）。现在封箱并写入工作簿吗？"));
        view = readWithXlrd(workbook);
        QCOMPARE(view.rows[0].rows.mid(7), QStringList({"W002", "|Z003", "||(01)09501101530003(21)A4" + lot}));
        QCOMPARE(w->findChild<QLabel *>("lblKeys")->text(), QStringLiteral("F8 不足一箱时封箱"));

        // A window opened afresh knows the day's packs from the workbook's cells.
        w.reset();
        w = std::make_unique<frm_SCAN>(
            std::make_unique<ScanSession>(ScanSession::Parts{folder(), packingState(), daily, m_messages, m_sounds, program::now}));
        w->Form_Load();
        w->show();
        m_messages.texts.clear();
        scanner.send("0109501101530003" "10" + tail + gs + "21A2\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 1);
        QCOMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kDuplicate});
        QVERIFY2(m_messages.texts[0].contains(QStringLiteral("第 5 行")), qPrintable(m_messages.texts[0]));
    }

    // GS1 as GS1 defines it, from the wire: AIs the station has no use for are listed and
    // written; pairs GS1 forbids and codes that are no GS1 are refused. A pack whose data
    // holds "(NN)" is still the same pack when the window opens afresh and reads the
    // day's workbook: scanned again, it is a repeat.
    void gs1PacksKeepTheirIdentityInTheWorkbook()
    {
        QVERIFY(setUpGs1Day(4));
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        Pty scanner(folder(), 1);
        const auto open = [&] {
            auto w = std::make_unique<frm_SCAN>(
                std::make_unique<ScanSession>(ScanSession::Parts{folder(), packingState(), daily, m_messages, m_sounds, program::now}));
            w->Form_Load();
            w->show();
            return w;
        };
        auto w = open();
        QVERIFY(w->port().portOpen());
        const QByteArray gs("\x1d");
        const QByteArray eaeu = "]d2" "010460012345678221" "5Cq7rZk4fe3Ye" + gs + "91EE07" + gs + "92Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=";
        // Serials and a lot that hold what looks like an AI; one lot a box.
        const QByteArray lot = gs + "10(21)9(17)";
        const QList<QByteArray> tricky{"]d2" "0109501101530003" "21A(10)B" + lot, "]d2" "0109501101530003" "21X(24)Y" + lot,
                                       "]d2" "0109501101530003" "21S7" + lot, "]d2" "0109501101530003" "21(10)" + lot};
        scanner.send(eaeu + "\r\n");
        QTRY_COMPARE(barcodes(*w).size(), 1);
        scanner.send("(01)09501101530003(02)09501101530003(21)Q\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 1);
        scanner.send("81234567890123456789\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 2);
        QCOMPARE(m_messages.firstLines(), QStringList({QStringLiteral("GS1 条码不正确：(02) 不能与 (01) 同在一个条码中"), gs1::kNotGs1}));
        m_messages.answers = QStringList{QStringLiteral("封箱")}; // another product follows: its box closed short
        QTest::keyClick(w.get(), Qt::Key_F8);
        QTRY_COMPARE(w->box().rowCount(), 0);
        for (const QByteArray &scan : tricky) {
            scanner.send(scan + "\r\n");
            if (&scan != &tricky.back())
                QTRY_COMPARE(barcodes(*w).size() + m_messages.texts.size(), int(&scan - &tricky[0]) + 3);
            QVERIFY2(m_messages.texts.size() == 2, qPrintable(m_messages.texts.join('|')));
        }
        QTRY_COMPARE(w->box().rowCount(), 0); // four packs: written

        const XlrdView view = readWithXlrd(dayworkbooks::path(folder(), QDate::currentDate()));
        QCOMPARE(view.rows[0].rows.mid(1), QStringList({"W001", "|Z001",
                                                        "||(01)04600123456782(21)5Cq7rZk4fe3Ye(91)EE07(92)Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=",
                                                        "W002", "|Z002", "||[01]09501101530003[21]A(10)B[10](21)9(17)",
                                                        "||[01]09501101530003[21]X(24)Y[10](21)9(17)", "|Z003",
                                                        "||[01]09501101530003[21]S7[10](21)9(17)", "||[01]09501101530003[21](10)[10](21)9(17)"}));

        // The station stopped and started: each pack again, spelled as a person types it
        // where it can be, is a repeat of the day.
        w.reset();
        w = open();
        m_messages.texts.clear();
        const QList<QByteArray> again{"(01)04600123456782(21)5Cq7rZk4fe3Ye(91)EE07(92)Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=",
                                      "0109501101530003" "21A(10)B", "[01]09501101530003[21]X(24)Y[10](21)9(17)",
                                      "0109501101530003" "21S7" + lot, "]C1" "0109501101530003" "21(10)"};
        for (const QByteArray &scan : again) {
            scanner.send(scan + "\r\n");
            QTRY_COMPARE(m_messages.texts.size(), int(&scan - &again[0]) + 1);
            QVERIFY2(m_messages.texts.last().startsWith(BarcodeIntake::kDuplicate), qPrintable(scan + ": " + m_messages.texts.last()));
        }
        QCOMPARE(barcodes(*w), QStringList());
    }

    void scansDuringAMessageAreNamedAndTheLineStaysAlive()
    {
        writeConfig(folder(), "40");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        // 70 packs scanned while a duplicate message is open: more than a 512-byte buffer holds.
        int opened = 0;
        m_messages.whileOpen = [&](const QString &) {
            if (++opened != 1)
                return;
            QByteArray scans;
            for (int i = 1; i <= 70; ++i)
                scans += QByteArray("B%1\r\n").replace("%1", QByteArray::number(i).rightJustified(5, '0'));
            scanner.send(scans);
            QTRY_COMPARE(w->port().inBufferCount(), 70 * 8);
        };
        scanner.send("A00001\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00001"});
        scanner.send("A00001\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 2);
        QCOMPARE(m_messages.firstLines(), QStringList({BarcodeIntake::kDuplicate, BarcodeIntake::kWrongLength}));
        const QString &named = m_messages.texts[1];
        QVERIFY(named.contains(QStringLiteral("收到 560 个字符")));
        QVERIFY(named.contains(QStringLiteral("70 段")));
        QVERIFY(named.contains(QStringLiteral("1. B00001")));
        QVERIFY(named.contains(QStringLiteral("3. B00003")));
        const QString record = QStringLiteral("files/refused-%1.txt").arg(program::now().toString("yyyyMMdd"));
        QVERIFY2(named.contains(QStringLiteral("中间 64 段未在此列出；全部 70 段都记在 %1 中").arg(record)), qPrintable(named));
        QVERIFY(named.contains(QStringLiteral("70. B00070")));
        QVERIFY(!named.contains(QStringLiteral("B00004")));
        QVERIFY(named.contains(QStringLiteral("都没有记录")));
        // Every refused pack is on record, one a line, with the repeat that opened the message.
        const QStringList lines = QString::fromUtf8(bytesOf(folder() + "/" + record)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 71);
        QVERIFY(lines[0].endsWith(QStringLiteral("\t该内包条码重复\t1/1\tA00001")));
        for (int i = 1; i <= 70; ++i)
            QVERIFY2(lines[i].endsWith(QStringLiteral("\t条码长度不正确\t%1/70\tB%2").arg(i).arg(i, 5, 10, QLatin1Char('0'))),
                     qPrintable(lines[i]));

        scanner.send("A00002\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList({"A00001", "A00002"}));
        QCOMPARE(m_messages.texts.size(), 2);
    }

    void failedHandlingTellsAndCarriesOn()
    {
        writeConfig(folder(), "100");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        packingState().iPerMiddle = 0; // the boundary test divides by zero
        scanner.send("A00001\r\n");
        QTRY_COMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("Division by zero")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("没有记录")));
        // On record like any refused scan.
        const QByteArray record = bytesOf(folder() + "/files/refused-" + program::now().toString("yyyyMMdd").toLatin1() + ".txt");
        QVERIFY2(record.endsWith("\t扫描处理失败\t1/1\tA00001\n"), record.constData());
        QVERIFY(w->port().portOpen());
        QCOMPARE(w->port().rThreshold(), 1);
        QCOMPARE(w->box().rowCount(), 0); // not even its label rows

        packingState().iPerMiddle = 2;
        scanner.send("A00001\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList({"A00001"}));
        scanner.send("A00002\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList({"A00001", "A00002"}));
        QCOMPARE(w->box().rowCount(), 5); // W, Z, two packs, the next Z
        QCOMPARE(m_messages.texts.size(), 1);

        // An event of another kind only switches receive events back on.
        w->port().setRThreshold(0);
        w->port().raiseEvent(SerialPort::LineError);
        QCOMPARE(w->port().rThreshold(), 1);
        QCOMPARE(barcodes(*w).size(), 2);

        // OpenPort on an open port closes and reopens it; on a closed one it opens it.
        QVERIFY(!w->OpenPort());
        QVERIFY(w->port().portOpen());
        w->port().setPortOpen(false);
        QVERIFY(!w->OpenPort());
        QVERIFY(w->port().portOpen());
        scanner.send("A00003\r\n");
        QTRY_COMPARE(barcodes(*w).size(), 3);
    }

    void closedDuringAMessageGoesAfterTheScan()
    {
        writeConfig(folder(), "30");
        Pty scanner(folder(), 1);
        QPointer<frm_SCAN> w = new frm_SCAN(session());
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->Form_Load();
        w->show();
        m_messages.whileOpen = [&](const QString &) {
            w->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // a deletion would run here
            QVERIFY(w);
        };
        scanner.send("short\r\n");
        QTRY_VERIFY(!w);
        QCOMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kWrongLength});
    }

    void settingsThatCannotServeAreReported()
    {
        writeConfig(folder(), "soon", "x", "");
        auto w = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        const QString &text = m_messages.texts[0];
        QVERIFY(text.contains(QStringLiteral("config.ini")));
        QVERIFY(text.contains(QStringLiteral("[length] nlen")));
        QVERIFY(text.contains(QStringLiteral("[com] ComPort1")));
        QVERIFY(text.contains(QStringLiteral("[waittime] stime")));
        QVERIFY(!w->port().portOpen());

        m_messages.texts.clear();
        writeConfig(folder(), "20", "70000");
        auto outside = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("[com] ComPort1 = \"70000\"")));

        // Values that would leave every barcode empty or the station waiting for minutes.
        Pty scanner(folder(), 1);
        m_messages.texts.clear();
        writeConfig(folder(), "600000", "1", "2");
        auto stalling = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("[length] nlen = \"2\"")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("[waittime] stime = \"600000\"")));
        QVERIFY(!stalling->port().portOpen());
    }

    void portThatCannotOpen()
    {
        writeConfig(folder(), "20", "250");
        auto absent = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("COM250 (/dev/ttyS249)")));
        QVERIFY(!absent->port().portOpen());
        QVERIFY(absent->isVisible());
        absent.reset();

        // A scanner plugged in after the window opened is connected by itself.
        m_messages.texts.clear();
        writeConfig(folder(), "20", "200");
        auto late = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("COM200 (/dev/ttyS199)")));
        Pty scanner(folder(), 200);
        QTRY_VERIFY_WITH_TIMEOUT(late->port().portOpen(), 5000);
        scanner.send("A00009\r\n");
        QTRY_COMPARE(barcodes(*late), QStringList{"A00009"});
        QCOMPARE(m_messages.texts.size(), 1);
        late.reset();

        // The device held by another program (exclusive use does not bind root).
        if (::geteuid() == 0)
            return;
        m_messages.texts.clear();
        QSerialPort holder(scanner.device());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        auto held = openWindow();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("COM200 (")));
        QVERIFY(!held->port().portOpen());
    }

    void reopeningTheWindowStartsAfresh()
    {
        writeConfig(folder(), "50");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        scanner.send("A00001\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00001"});
        w.reset(); // closed with its close box: the window and its port go
        writeConfig(folder(), "60", "1", "9");
        auto again = openWindow();
        QCOMPARE(again->box().rowCount(), 0);
        QCOMPARE(int(again->intake().iInnerCount()), 0);
        QCOMPARE(int(packingState().iInnerLen), 9);
        QCOMPARE(again->session().Stime, QStringLiteral("60"));
        QVERIFY(again->port().portOpen());
        scanner.send("B000001\r\n");
        QTRY_COMPARE(barcodes(*again), QStringList{"B000001"});
        QCOMPARE(again->box().cellText(0, 0), QStringLiteral("002")); // numbers run on across windows
    }

    void aBurstDoesNotDeafenThePort()
    {
        writeConfig(folder(), "30");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        scanner.send(QByteArray(10000, 'x'));
        QTRY_VERIFY(!m_messages.texts.isEmpty());
        QTRY_COMPARE(w->port().inBufferCount(), 0);
        QTRY_COMPARE(w->port().rThreshold(), 1);
        qsizetype told = 0;
        for (const QString &t : m_messages.texts) {
            QCOMPARE(t.section(QLatin1Char('\n'), 0, 0), BarcodeIntake::kWrongLength);
            told += t.section(QStringLiteral("收到 "), 1).section(QLatin1Char(' '), 0, 0).toLongLong();
        }
        QCOMPARE(told, 10000); // every character accounted for, however the burst was cut
        const qsizetype before = m_messages.texts.size();
        scanner.send("A00001\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00001"});
        QCOMPARE(m_messages.texts.size(), before);

        // The unplug is still seen after the burst.
        scanner.close();
        QTRY_VERIFY(m_messages.texts.last().contains(QStringLiteral("设备已断开")));
    }

    void aDamagedScanIsRefused_data()
    {
        QTest::addColumn<QByteArray>("scan");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QByteArray>("recorded");
        QTest::newRow("tab") << QByteArray("ABC\tEF\r\n") << QStringLiteral("<TAB>") << QByteArray("\t1/1\tABC\\x09EF\n");
        QTest::newRow("nul") << QByteArray("AB\0DEF\r\n", 8) << QStringLiteral("<NUL>") << QByteArray("\t1/1\tAB\\x00DEF\n");
        QTest::newRow("line break") << QByteArray("AB\r\nCD\r\n") << QStringLiteral("<CR>") << QByteArray("\t1/2\tAB\n");
        QTest::newRow("delete") << QByteArray("ABCDE\x7f\r\n") << QStringLiteral("<0x7F>") << QByteArray("\t1/1\tABCDE\\x7F\n");
        QTest::newRow("next line (C1)") << QByteArray("A\x85" "BCDE\r\n") << QStringLiteral("<0x85>")
                                        << QByteArray("\t1/1\tA\\x85BCDE\n");
        QTest::newRow("control sequence introducer (C1)") << QByteArray("A\x9b" "BCDE\r\n") << QStringLiteral("<0x9B>")
                                                          << QByteArray("\t1/1\tA\\x9BBCDE\n");
    }

    void aDamagedScanIsRefused()
    {
        QFETCH(QByteArray, scan);
        QFETCH(QString, named);
        QFETCH(QByteArray, recorded);
        // A scanner read byte by byte, where 0x80–0x9F are control characters too.
        writeConfig(folder(), "30", "1", "8", "latin1");
        Pty scanner(folder(), 1);
        auto w = openWindow();
        scanner.send(scan);
        QTRY_COMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kControlCharacter});
        QVERIFY(m_messages.texts[0].contains(named));
        QCOMPARE(w->box().rowCount(), 0);
        QCOMPARE(int(w->intake().iInnerCount()), 0);
        // On record with the control character spelled out.
        const QByteArray record = bytesOf(folder() + "/files/refused-" + program::now().toString("yyyyMMdd").toLatin1() + ".txt");
        QVERIFY2(record.contains("\t条码中含有控制字符" + recorded), record.constData());
        // Latin-1 letters are barcode characters; the terminator is not examined.
        scanner.send(QByteArray("\xc4\xe9" "CDEF\t\0", 8));
        QTRY_COMPARE(barcodes(*w), QStringList{QStringLiteral("ÄéCDEF")});
    }

    void eachScannerIsReadInItsEncoding_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("scan");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QByteArray>("undecodable");
        QTest::addColumn<QString>("named");
        // 中文 in GB18030 and in UTF-8; six characters with the terminator's two make nlen 8.
        QTest::newRow("gb18030, the default") << QByteArray() << QByteArray("\xd6\xd0\xce\xc4" "AB12\r\n")
                                             << QStringLiteral("中文AB12") << QByteArray("A\xff\xff" "B12\r\n")
                                             << QStringLiteral("A\\xFF\\xFFB12\\x0D\\x0A");
        QTest::newRow("utf-8") << QByteArray("utf-8") << QByteArray("\xe4\xb8\xad\xe6\x96\x87" "AB12\r\n")
                               << QStringLiteral("中文AB12") << QByteArray("\xd6\xd0\xce\xc4" "AB\r\n")
                               << QStringLiteral("\\xD6\\xD0\\xCE\\xC4AB");
        QTest::newRow("beyond the Basic Multilingual Plane") << QByteArray("utf-8")
                                                             << QByteArray("\xf0\xa0\x80\x80" "ABCDE\r\n")
                                                             << QStringLiteral("\U00020000ABCDE") << QByteArray("\xf0\xa0\r\n")
                                                             << QStringLiteral("\\xF0\\xA0");
    }

    void eachScannerIsReadInItsEncoding()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, scan);
        QFETCH(QString, listed);
        QFETCH(QByteArray, undecodable);
        QFETCH(QString, named);
        writeConfig(folder(), "30", "1", "8", encoding);
        Pty scanner(folder(), 1);
        auto w = openWindow();
        scanner.send(scan);
        QTRY_COMPARE(barcodes(*w), QStringList{listed}); // its length counted in characters

        // Bytes that are no text in that encoding: refused whole, named byte by byte.
        scanner.send(undecodable);
        QTRY_COMPARE(m_messages.firstLines(), QStringList{BarcodeIntake::kUndecodable});
        QVERIFY2(m_messages.texts[0].contains(named), qPrintable(m_messages.texts[0]));
        QCOMPARE(barcodes(*w), QStringList{listed});
        const QByteArray record = bytesOf(folder() + "/files/refused-" + program::now().toString("yyyyMMdd").toLatin1() + ".txt");
        QVERIFY2(record.contains("\t条码中含有无法识别的字节\t1/1\t"), record.constData());
        QVERIFY2(!record.contains("\xff") && !record.contains("\xd6"), record.constData()); // every byte beyond ASCII as \xHH
    }

    void unpluggedScannerComesBack()
    {
        writeConfig(folder(), "50");
        auto first = std::make_unique<Pty>(folder(), 1);
        auto w = openWindow();
        QVERIFY(w->port().portOpen());
        first.reset(); // unplugged
        // Its link now names a device that no one can create again: a freed pseudo-terminal
        // number is soon reused by another test's scanner, which this station would then open.
        QFile::remove(folder() + "/COM1");
        QVERIFY(QFile::link(folder() + "/unplugged-device", folder() + "/COM1"));
        QTRY_COMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("设备已断开")));
        QVERIFY(!w->port().portOpen());
        QSignalSpy attempts(&w->reconnectTimer(), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(attempts.count() >= 2, 5000); // they fail quietly while the device is away
        QCOMPARE(m_messages.texts.size(), 1);

        Pty second(folder(), 1); // plugged in again
        QTRY_VERIFY_WITH_TIMEOUT(w->port().portOpen(), 5000);
        second.send("A00007\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList{"A00007"});
        QVERIFY2(m_messages.texts.size() == 1, qPrintable(m_messages.texts.join(" || ")));

        // The link itself vanishes: the station keeps looking for it, never for the
        // serial device that the same number would otherwise name.
        const QString link = folder() + "/COM1";
        second.close();
        QFile::remove(link);
        QTRY_COMPARE(m_messages.texts.size(), 2);
        attempts.clear();
        QTRY_VERIFY_WITH_TIMEOUT(attempts.count() >= 2, 5000);
        QVERIFY(!w->port().portOpen());
        QCOMPARE(QFileInfo(w->port().devicePath()).absoluteFilePath(), QFileInfo(link).absoluteFilePath());
        Pty third(folder(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(w->port().portOpen(), 5000);
        third.send("A00008\r\n");
        QTRY_COMPARE(barcodes(*w), QStringList({"A00007", "A00008"}));
    }
};

QTEST_MAIN(TestScanWindow)
#include "tst_scan_window.moc"
