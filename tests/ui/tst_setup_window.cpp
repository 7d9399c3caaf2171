#include "FileBytes.h"
#include "../station/Fakes.h"
#include "../station/Pty.h"

#include "core/Gs1.h"
#include "packing/PackingState.h"
#include "platform/FaultSeam.h"
#include "platform/ProgramEnvironment.h"
#include "platform/AtomicFile.h"
#include "plant/PlantSettings.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "support/OleContainer.h"
#include "platform/xls/WorkbookData.h"
#include "settings/StationSettings.h"
#include "station/BoxJournal.h"
#include "ui/setup/frm_MAIN.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QMap>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <cerrno>
#include <memory>

class TestSetupWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Pty> m_scanner;
    RecordingMessages m_messages;
    RecordingExport m_export;
    RecordingSounds m_sounds;
    int m_ended = 0;

    QString config() const { return m_dir->path() + "/config.ini"; }
    void writeConfig(const QByteArray &lengthSection)
    {
        QFile f(config());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write("[length]\r\nnlen=8;\r\n" + lengthSection + "[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=30;\r\n");
    }
    std::unique_ptr<frm_MAIN> openSetup()
    {
        auto w = std::make_unique<frm_MAIN>(ScanSession::Parts{m_dir->path(), packingState(), m_export, m_messages, m_sounds, program::now});
        w->Form_Load();
        w->show();
        return w;
    }
    QLineEdit *field(frm_MAIN &w, const char *name) { return w.findChild<QLineEdit *>(name); }
    void type(frm_MAIN &w, const char *name, const QString &text)
    {
        QLineEdit *e = field(w, name);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
    // One pack scanned, and its handling over (the pack listed or the box exported).
    void scanPack(frm_SCAN &scan, int number)
    {
        const size_t exported = m_export.boxes.size();
        const int16_t packs = scan.box().iInnerCount();
        m_scanner->send(QStringLiteral("A%1\r\n").arg(number, 5, 10, QLatin1Char('0')).toLatin1());
        QTRY_VERIFY(scan.box().iInnerCount() == packs + 1 || m_export.boxes.size() > exported);
    }
    void clickStart(frm_MAIN &w) { QTest::mouseClick(w.findChild<QPushButton *>("cmdOK"), Qt::LeftButton); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        program::setFolder(m_dir->path());
        m_scanner = std::make_unique<Pty>(m_dir->path(), 1);
        setOperatorMessages(&m_messages);
        m_messages.texts.clear();
        m_messages.questions.clear();
        m_messages.answers.clear();
        m_export = RecordingExport();
        m_ended = 0;
        program::setEndHandler([this] { ++m_ended; });
        packingState() = PackingState();
        writeConfig("zlen=3;\r\nwlen=5;\r\n");
    }
    void cleanup()
    {
        setOperatorMessages(nullptr);
        program::setEndHandler(nullptr);
    }

    void layoutAndFocus()
    {
        auto w = openSetup();
        QCOMPARE(w->windowTitle(), QStringLiteral("Zantrel系统V1.0"));
        QCOMPARE(w->size(), QSize(622, 560));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!w->windowIcon().isNull());
        auto *title = w->findChild<QLabel *>("lblTitle");
        QCOMPARE(title->text(), QStringLiteral("初始设置"));
        QCOMPARE(title->geometry(), QRect(0, 0, 625, 67));

        struct Row { int label; int width; const char *caption; const char *text; const char *initial; };
        const Row rows[] = {{5, 2535, "中箱包装数量：", "Text5", "2"}, {4, 2775, "外箱包装数量：", "Text6", "10"},
                            {2, 1695, "中箱前缀：", "Text2", ""},     {1, 1695, "中箱后缀：", "Text3", ""},
                            {3, 2535, "中箱序号长度：", "Text4", "3"}, {8, 2535, "中箱序号：", "Text9", "1"},
                            {6, 1695, "外箱前缀：", "Text7", ""},     {7, 1695, "外箱后缀：", "Text8", ""},
                            {0, 2415, "外箱序号长度：", "Text1", "5"}, {9, 2535, "外箱序号：", "Text10", "1"}};
        int top = 1200;
        for (const Row &r : rows) {
            auto *label = w->findChild<QLabel *>(QStringLiteral("label1(%1)").arg(r.label));
            QVERIFY2(label, r.caption);
            QCOMPARE(label->text(), QString::fromUtf8(r.caption));
            QCOMPARE(label->geometry(), QRect(16, top / 15, r.width / 15, 33));
            QCOMPARE(label->font().pointSizeF(), 15.75);
            QLineEdit *edit = field(*w, r.text);
            QCOMPARE(edit->geometry(), QRect(216, top / 15, 185, 33));
            QCOMPARE(edit->text(), QString::fromUtf8(r.initial));
            QCOMPARE(edit->font().pointSizeF(), 15.75);
            top += 720;
        }
        auto *ok = w->findChild<QPushButton *>("cmdOK");
        auto *exit = w->findChild<QPushButton *>("cmdCancel");
        QCOMPARE(ok->text(), QStringLiteral("开始"));
        QCOMPARE(exit->text(), QStringLiteral("退出"));
        QCOMPARE(ok->geometry(), QRect(456, 392, 153, 68));
        QCOMPARE(exit->geometry(), QRect(456, 472, 153, 68));
        QVERIFY(!ok->isDefault() && !ok->autoDefault() && !exit->isDefault() && !exit->autoDefault());
        QCOMPARE(ok->font().pointSizeF(), 26.25);

        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE(QApplication::focusWidget(), ok);
        const QStringList order = {"cmdCancel", "Text2", "Text3", "Text5", "Text6", "Text7",
                                   "Text8",     "Text1", "Text4", "Text9", "Text10", "cmdOK"};
        for (const QString &next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
        QCOMPARE(packingState().iMiddleDigits, int16_t(3));
        QCOMPARE(packingState().iOuterDigits, int16_t(5));
        QVERIFY(m_messages.texts.isEmpty());
    }

    void startChecksOnlyWhatItMust()
    {
        auto w = openSetup();
        const QByteArray before = bytesOf(config());
        type(*w, "Text5", "abc");
        clickStart(*w);
        QVERIFY(m_messages.texts.isEmpty());
        QCOMPARE(packingState().iPerMiddle, int16_t(0));
        QCOMPARE(bytesOf(config()), before);
        QVERIFY(!w->scanWindow());

        type(*w, "Text5", "4");
        type(*w, "Text6", "");
        type(*w, "Text2", "Z");
        clickStart(*w);
        QCOMPARE(packingState().iPerMiddle, int16_t(4));
        QCOMPARE(packingState().iPerOuter, int16_t(0));
        QVERIFY(packingState().sMiddlePrefix.isEmpty());
        QCOMPARE(bytesOf(config()), before);
        QVERIFY(!w->scanWindow());
    }

    void startCopiesRoundsAndSaves()
    {
        auto w = openSetup();
        type(*w, "Text5", "2.5");
        type(*w, "Text6", "3.5");
        type(*w, "Text2", " A ");
        type(*w, "Text3", "B");
        type(*w, "Text7", "W");
        type(*w, "Text8", "");
        type(*w, "Text9", "-7");
        type(*w, "Text10", "12");
        type(*w, "Text1", "6");
        type(*w, "Text4", "x");
        clickStart(*w);
        PackingState &s = packingState();
        QCOMPARE(s.iPerMiddle, int16_t(2));
        QCOMPARE(s.iPerOuter, int16_t(4));
        QCOMPARE(s.sMiddlePrefix, QStringLiteral(" A "));
        QCOMPARE(s.sMiddleSuffix, QStringLiteral("B"));
        QCOMPARE(s.sOuterPrefix, QStringLiteral("W"));
        QCOMPARE(s.lMiddleNo, -7);
        QCOMPARE(s.lOuterNo, 12);
        QCOMPARE(s.iOuterDigits, int16_t(5)); // the run keeps the width it started with
        const QByteArray saved = bytesOf(config());
        QVERIFY(saved.contains("wlen=6;\r\n"));
        QVERIFY(saved.contains("zlen=x;\r\n"));
        QVERIFY(w->scanWindow());
        QVERIFY(w->scanWindow()->isVisible());
        QVERIFY(!w->scanWindow()->parentWidget());
        QVERIFY(w->isVisible());

        // The next start shows what was saved; a digit count that is no number is reported.
        w.reset();
        packingState() = PackingState();
        auto next = openSetup();
        QCOMPARE(field(*next, "Text1")->text(), QStringLiteral("6"));
        QCOMPARE(field(*next, "Text4")->text(), QStringLiteral("3")); // the width the labels use
        QCOMPARE(packingState().iOuterDigits, int16_t(6));
        QCOMPARE(packingState().iMiddleDigits, settings::kFallbackDigits);
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("[length] zlen = \"x\"")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("3 位")));
    }

    void missingDigitCounts()
    {
        writeConfig("");
        auto w = openSetup();
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("zlen")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("wlen")));
        QCOMPARE(field(*w, "Text1")->text(), QStringLiteral("3"));
        QCOMPARE(packingState().iOuterDigits, settings::kFallbackDigits);

        // Start saves the width shown, so the complaint does not come back.
        w->cmdOK_Click();
        w.reset();
        m_messages.texts.clear();
        auto next = openSetup();
        QCOMPARE(field(*next, "Text4")->text(), QStringLiteral("3"));
        QVERIFY(!m_messages.firstLines().join("").contains(QStringLiteral("序号长度")));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("fieldName");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("named");
        QTest::newRow("Text5 zero") << "Text5" << "0" << "中箱包装数量";
        QTest::newRow("Text5 rounds to zero") << "Text5" << "0.5" << "中箱包装数量";
        QTest::newRow("Text5 too large") << "Text5" << "32767.5" << "中箱包装数量";
        QTest::newRow("Text6 negative") << "Text6" << "-1" << "外箱包装数量";
        QTest::newRow("Text6 too large") << "Text6" << "40000" << "外箱包装数量";
        QTest::newRow("Text9 not a number") << "Text9" << "abc" << "中箱序号";
        QTest::newRow("Text10 beyond 32 bits") << "Text10" << "3e9" << "外箱序号";
        QTest::newRow("Text9 empty") << "Text9" << "" << "中箱序号";
    }
    void refusals()
    {
        QFETCH(QString, fieldName);
        QFETCH(QString, value);
        QFETCH(QString, named);
        auto w = openSetup();
        const QByteArray before = bytesOf(config());
        type(*w, qPrintable(fieldName), value);
        clickStart(*w);
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(named));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("扫描窗口未打开")));
        QCOMPARE(packingState().iPerMiddle, int16_t(0));
        QCOMPARE(packingState().lMiddleNo, 0);
        QCOMPARE(bytesOf(config()), before);
        QVERIFY(!w->scanWindow());
    }

    void startTwiceAndExit()
    {
        auto w = openSetup();
        clickStart(*w);
        frm_SCAN *scan = w->scanWindow();
        QVERIFY(scan);
        QCOMPARE(packingState().lOuterNo, 1);
        m_scanner->send("A00001\r\n");
        QTRY_COMPARE(scan->box().rowCount(), 3);

        type(*w, "Text10", "50");
        clickStart(*w);
        QCOMPARE(w->scanWindow(), scan); // only raised, not loaded again
        QCOMPARE(scan->box().rowCount(), 3);
        QCOMPARE(packingState().lOuterNo, 50);

        QTest::mouseClick(w->findChild<QPushButton *>("cmdCancel"), Qt::LeftButton);
        QCOMPARE(m_ended, 1);
        QTest::mouseClick(scan->findChild<QPushButton *>("cmdCancel"), Qt::LeftButton);
        QCOMPARE(m_ended, 2);
    }

    void anOpenBoxComesBackAfterExit()
    {
        auto w = openSetup();
        clickStart(*w);
        QVERIFY(m_messages.questions.isEmpty());
        for (int i = 1; i <= 3; ++i)
            scanPack(*w->scanWindow(), i);
        const std::vector<BoxRow> listed = w->scanWindow()->box().rows();
        QTest::mouseClick(w->scanWindow()->findChild<QPushButton *>("cmdCancel"), Qt::LeftButton);
        QCOMPARE(m_ended, 1); // Exit asks nothing
        w.reset(); // the program is gone; only the disk remains

        packingState() = PackingState();
        auto next = openSetup();
        clickStart(*next);
        QCOMPARE(m_messages.questions,
                 QStringList{QStringLiteral("上次的外箱 00001 还有 3 个内包没有写入工作簿。继续装这一箱吗？")});
        frm_SCAN *scan = next->scanWindow();
        QVERIFY(scan);
        QCOMPARE(scan->box().rows(), listed);
        QCOMPARE(scan->box().iInnerCount(), int16_t(3));
        QCOMPARE(scan->findChild<QTableView *>("fg1")->model()->rowCount(), int(listed.size()));
        // The numbers go on from where that run left them, in the fields too.
        QCOMPARE(packingState().lOuterNo, 2);
        QCOMPARE(packingState().lMiddleNo, 3);
        QCOMPARE(field(*next, "Text10")->text(), QStringLiteral("2"));

        for (int i = 4; i <= 10; ++i)
            scanPack(*scan, i);
        QCOMPARE(m_export.boxes.size(), size_t(1));
        const RecordingExport::Rows &box = m_export.boxes[0];
        QCOMPARE(box[0][0], QStringLiteral("00001"));
        QCOMPARE(box[2][2], QStringLiteral("A00001"));
        QCOMPARE(box.back()[2], QStringLiteral("A00010"));
        QCOMPARE(scan->box().rowCount(), 0);
        QVERIFY(!BoxJournal::load(m_dir->path())->holdsUnwrittenPacks());
    }

    void aKeptFullBoxIsExportedAtOnce()
    {
        // A full box whose export failed when the station was killed.
        QFile journal(m_dir->path() + "/" + BoxJournal::fileName());
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.write("numbers 3 2\nouter 00001\nmiddle Z1\npack A1\npack A2\npending 1\n");
        journal.close();
        auto w = openSetup();
        type(*w, "Text6", "10"); // a larger box now: the kept one is full all the same
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 1);
        QVERIFY(m_messages.questions[0].contains(QStringLiteral("还有 2 个内包")));
        QCOMPARE(m_export.boxes.size(), size_t(1));
        QCOMPARE(m_export.boxes[0].size(), size_t(4));
        QCOMPARE(w->scanWindow()->box().rowCount(), 0);
        QCOMPARE(packingState().lOuterNo, 2);
    }

    void aDamagedJournalIsSetAsideNotOverwritten()
    {
        QFile journal(m_dir->path() + "/" + BoxJournal::fileName());
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.write("outer W001\nnonsense here\npack A1\n");
        journal.close();
        auto w = openSetup();
        clickStart(*w);
        QVERIFY(w->scanWindow());
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("第 2 行")));
        const QStringList aside = QDir(m_dir->path()).entryList({"open-box.damaged-*.txt"});
        QCOMPARE(aside.size(), 1);
        QVERIFY(m_messages.texts[0].contains(aside[0]));
        QFile kept(m_dir->path() + "/" + aside[0]);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll().contains("pack A1"));
    }

    void aBoxNotContinuedIsKeptInItsOwnWorkbook()
    {
        auto w = openSetup();
        clickStart(*w);
        m_scanner->send("A00001\r\n");
        QTRY_COMPARE(w->scanWindow()->box().iInnerCount(), 1);
        w->scanWindow()->close(); // its close box: the box stays in the journal
        QTRY_VERIFY(!w->scanWindow());

        m_messages.answers = QStringList{QStringLiteral("不继续")};
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 1);
        QCOMPARE(m_export.unfinished.size(), size_t(1));
        QCOMPARE(m_export.unfinished[0][2][2], QStringLiteral("A00001"));
        QVERIFY(m_messages.texts.last().contains(QStringLiteral("unfinished-recorded.xls")));
        QCOMPARE(w->scanWindow()->box().rowCount(), 0);
        QVERIFY(!BoxJournal::load(m_dir->path())->holdsUnwrittenPacks());

        // Asked once: the next start finds nothing to offer.
        w->scanWindow()->close();
        QTRY_VERIFY(!w->scanWindow());
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 1);
    }

    void startCannotBreakAnOpenBox()
    {
        auto w = openSetup();
        clickStart(*w);
        for (int i = 1; i <= 3; ++i)
            scanPack(*w->scanWindow(), i);
        const QByteArray before = bytesOf(config());

        type(*w, "Text6", "2");
        type(*w, "Text1", "7");
        clickStart(*w);
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("已有 3 个内包")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("现为 2")));
        QCOMPARE(packingState().iPerOuter, int16_t(10));
        QCOMPARE(bytesOf(config()), before);

        // As many as the box already holds: it would never be completed.
        type(*w, "Text6", "3");
        clickStart(*w);
        QCOMPARE(m_messages.texts.size(), 2);
        QVERIFY(m_messages.texts[1].contains(QStringLiteral("必须大于 3，现为 3")));
        QCOMPARE(packingState().iPerOuter, int16_t(10));
        m_messages.texts.removeLast();

        type(*w, "Text6", "10");
        type(*w, "Text9", "2147483647");
        clickStart(*w);
        QCOMPARE(m_messages.texts.size(), 2);
        QVERIFY(m_messages.texts[1].contains(QStringLiteral("2147483647")));
        QCOMPARE(packingState().lMiddleNo, 3);
        QCOMPARE(bytesOf(config()), before);

        // A larger box is fine, and the box completes at the new size.
        type(*w, "Text9", "3");
        type(*w, "Text6", "4");
        type(*w, "Text10", "2"); // the next box, not the open one
        clickStart(*w);
        QCOMPARE(m_messages.texts.size(), 2);
        m_scanner->send("A00004\r\n");
        QTRY_COMPARE(m_export.boxes.size(), size_t(1));
    }

    void continueTakesUpTheBoxsOwnJob()
    {
        auto w = openSetup();
        type(*w, "Text2", "Z");
        type(*w, "Text7", "W");
        clickStart(*w);
        for (int i = 1; i <= 3; ++i)
            scanPack(*w->scanWindow(), i);
        w.reset(); // killed: only the disk remains

        packingState() = PackingState();
        auto next = openSetup();
        type(*next, "Text2", "Y");
        type(*next, "Text7", "V");
        type(*next, "Text6", "5");
        clickStart(*next);
        QCOMPARE(m_messages.questions.size(), 1);
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("中箱前缀：“Z”（输入的是“Y”）")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("外箱包装数量：“10”（输入的是“5”）")));
        QCOMPARE(field(*next, "Text2")->text(), QStringLiteral("Z"));
        QCOMPARE(field(*next, "Text7")->text(), QStringLiteral("W"));
        QCOMPARE(field(*next, "Text6")->text(), QStringLiteral("10"));
        QCOMPARE(packingState().sMiddlePrefix, QStringLiteral("Z"));
        QCOMPARE(packingState().iPerOuter, int16_t(10));

        // The box and the one after it carry the job's labels.
        frm_SCAN *scan = next->scanWindow();
        for (int i = 4; i <= 11; ++i)
            scanPack(*scan, i);
        QCOMPARE(m_export.boxes.size(), size_t(1));
        QStringList middles;
        for (const QStringList &row : m_export.boxes[0])
            if (!row[1].isEmpty())
                middles << row[1];
        QCOMPARE(middles, QStringList({"Z001", "Z002", "Z003", "Z004", "Z005"}));
        QCOMPARE(scan->box().outerLabel(), QStringLiteral("W00002"));
    }

    void continueKeepsTheTypedDigitCounts()
    {
        // The kept box counts 5 middle and 4 outer digits; config.ini and the fields say 3 and 5.
        writeBytes(m_dir->path() + "/" + BoxJournal::fileName(),
                   "numbers 2 2\njob 2 4 5 4 Z  W \nouter W0001\nmiddle Z00001\npack A1\n");
        auto w = openSetup();
        type(*w, "Text2", "Z");
        type(*w, "Text7", "W");
        type(*w, "Text5", "2");
        type(*w, "Text6", "4");
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 1); // 继续, the default
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("中箱序号长度：这一箱按“5”，输入的“3”照常保存")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("外箱序号长度：这一箱按“4”，输入的“5”照常保存")));
        QVERIFY(!m_messages.texts[0].contains(QStringLiteral("前缀")));
        QCOMPARE(field(*w, "Text4")->text(), QStringLiteral("3"));
        QCOMPARE(field(*w, "Text1")->text(), QStringLiteral("5"));
        const QByteArray saved = bytesOf(config());
        QVERIFY(saved.contains("zlen=3;\r\n"));
        QVERIFY(saved.contains("wlen=5;\r\n"));

        // The kept box goes on with its own widths; the next box has the run's.
        frm_SCAN *scan = w->scanWindow();
        QVERIFY(scan);
        for (int i = 2; i <= 5; ++i)
            scanPack(*scan, i);
        QCOMPARE(m_export.boxes.size(), size_t(1));
        QStringList labels;
        for (const QStringList &row : m_export.boxes[0])
            labels << row[0] + row[1];
        labels.removeAll(QString());
        QCOMPARE(labels, QStringList({"W0001", "Z00001", "Z00002"}));
        QCOMPARE(scan->box().outerLabel(), QStringLiteral("W00002"));
        QCOMPARE(scan->box().rows()[1].text, QStringLiteral("Z003"));
    }

    void aFolderTheStationCannotWriteIsToldOnce()
    {
        // Nothing in the program folder can be replaced: neither config.ini nor the journal.
        faultseam::setForTests([](faultseam::Point p, const QString &) { return faultseam::replacing(p) ? EROFS : 0; });
        auto w = openSetup();
        type(*w, "Text1", "6");
        clickStart(*w);
        faultseam::setForTests(nullptr);
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("无法写入当前外箱记录")));
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("设置未保存，扫描窗口未打开")));
        QVERIFY(!m_messages.texts[0].contains(QStringLiteral("本次运行不受影响")));
        QTRY_VERIFY(!w->scanWindow());
        QVERIFY(bytesOf(config()).contains("wlen=5;\r\n"));

        // Only config.ini refused: the window opens, and the counts not kept are told.
        faultseam::setForTests([this](faultseam::Point p, const QString &) {
            return faultseam::replacing(p) && QFileInfo::exists(m_dir->path() + "/open-box.txt") ? EROFS : 0;
        });
        clickStart(*w);
        faultseam::setForTests(nullptr);
        QVERIFY(w->scanWindow());
        QCOMPARE(m_messages.texts.size(), 2);
        QVERIFY(m_messages.texts[1].contains(QStringLiteral("序号长度未能保存")));
        QVERIFY(m_messages.texts[1].contains(QStringLiteral("本次运行不受影响")));
    }

    void anUnreadableConfigIsToldOnce()
    {
        QFile::remove(config());
        QVERIFY(QDir(m_dir->path()).mkdir("config.ini"));
        auto w = std::make_unique<frm_MAIN>(ScanSession::Parts{m_dir->path(), packingState(), m_export, m_messages, m_sounds, program::now});
        // As the program starts: the [db] section is read before the window.
        w->tellAtLoad(plant::readSettings(m_dir->path()).problems);
        w->Form_Load();
        QCOMPARE(m_messages.texts.size(), 1);
        QCOMPARE(m_messages.texts[0].count(QStringLiteral("其中的设置都无法使用")), 1);

        // A problem of the [db] section alone is told beside the window's own.
        QVERIFY(QDir(m_dir->path()).rmdir("config.ini"));
        writeConfig("zlen=3;\r\nwlen=5;\r\n[db]\r\nurl=host='unterminated;\r\n");
        auto again = std::make_unique<frm_MAIN>(ScanSession::Parts{m_dir->path(), packingState(), m_export, m_messages, m_sounds, program::now});
        again->tellAtLoad(plant::readSettings(m_dir->path()).problems);
        again->Form_Load();
        QCOMPARE(m_messages.texts.size(), 2);
        QVERIFY(m_messages.texts[1].contains(QStringLiteral("[db] url")));
    }

    void aBoxFoundInItsWorkbookIsNotOfferedAgain()
    {
        // Killed after the workbook was replaced, before the journal was emptied.
        RecordingExport::Rows rows = {{"00001", "", ""}, {"", "Z1", ""}, {"", "", "A1"}, {"", "", "A2"}};
        m_export.boxes.push_back(rows);
        m_export.starts.push_back(2);
        const QByteArray journal = "numbers 3 2\njob 2 2 3 5    \nouter 00001\nmiddle Z1\npack A1\npack A2\npending 1\n";
        writeBytes(m_dir->path() + "/" + BoxJournal::fileName(), journal + "export 2 files/recorded.xls\n");
        auto w = openSetup();
        clickStart(*w);
        QVERIFY(m_messages.questions.isEmpty());
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("已写入 files/recorded.xls 第 2 行")));
        QCOMPARE(m_export.boxes.size(), size_t(1));
        QVERIFY(m_export.unfinished.empty());
        QVERIFY(!BoxJournal::load(m_dir->path())->holdsUnwrittenPacks());
        QCOMPARE(w->scanWindow()->box().rowCount(), 0);
        w.reset();

        // Not at that row: offered back as before, and 不继续 keeps it.
        writeBytes(m_dir->path() + "/" + BoxJournal::fileName(), journal + "export 8 files/recorded.xls\n");
        m_messages.answers = QStringList{QStringLiteral("不继续")};
        auto again = openSetup();
        clickStart(*again);
        QCOMPARE(m_messages.questions.size(), 1);
        QCOMPARE(m_export.unfinished.size(), size_t(1));
    }

    void aContinueThatFailsOpensNoWindow()
    {
        writeBytes(m_dir->path() + "/" + BoxJournal::fileName(), "numbers 3 2\nouter 00001\nmiddle Z1\npack A1\n");
        const QByteArray before = bytesOf(m_dir->path() + "/" + BoxJournal::fileName());
        faultseam::setForTests([](faultseam::Point step, const QString &) { return step == faultseam::Point::Write ? ENOSPC : 0; });
        auto w = openSetup();
        clickStart(*w);
        faultseam::setForTests(nullptr);
        QCOMPARE(m_messages.questions.size(), 1);
        QVERIFY(m_messages.texts.last().contains(QStringLiteral("无法继续上次的外箱 00001")));
        QTRY_VERIFY(!w->scanWindow());
        QCOMPARE(bytesOf(m_dir->path() + "/" + BoxJournal::fileName()), before);
        // Once the disk has room, the same box comes back whole.
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 2);
        QVERIFY(w->scanWindow());
        QCOMPARE(w->scanWindow()->box().iInnerCount(), int16_t(1));
    }

    void aReusedOuterLabelIsQuestioned()
    {
        program::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
        QDir(m_dir->path()).mkdir("files");
        xls::Workbook book;
        book.sheets.resize(1);
        xls::Cell label;
        label.kind = xls::Cell::Text;
        label.text = QStringLiteral("00001");
        book.sheets[0].set(1, 0, label);
        replaceFileAtomically(m_dir->path() + "/files/20261207.xls", xls::compoundDocument(xls::workbookStream(book)));
        const QByteArray before = bytesOf(config());

        auto w = openSetup();
        clickStart(*w); // the default answer: no
        QCOMPARE(m_messages.questions,
                 QStringList{QStringLiteral("外箱号 00001 今天已经用过（files/20261207.xls 第 2 行）。仍然从 00001 开始吗？")});
        QVERIFY(!w->scanWindow());
        QCOMPARE(bytesOf(config()), before);

        type(*w, "Text10", "2");
        clickStart(*w); // 00002 is new: no question
        QCOMPARE(m_messages.questions.size(), 1);
        QVERIFY(w->scanWindow());
        w->scanWindow()->close();
        QTRY_VERIFY(!w->scanWindow());

        type(*w, "Text10", "1");
        m_messages.answers = QStringList{QStringLiteral("是")};
        clickStart(*w);
        QCOMPARE(m_messages.questions.size(), 2);
        QVERIFY(w->scanWindow());

        // Start again while box 00002 is open, with 00002 as the next number: asked too.
        type(*w, "Text10", "2");
        clickStart(*w);
        scanPack(*w->scanWindow(), 1);
        QCOMPARE(w->scanWindow()->box().outerLabel(), QStringLiteral("00002"));
        clickStart(*w);
        QCOMPARE(m_messages.questions.last(), QStringLiteral("外箱号 00002 是正在装的这一箱的箱号。仍然从 00002 开始下一箱吗？"));
        QCOMPARE(packingState().lOuterNo, 3); // answered no: nothing copied
        program::setClock(nullptr);
    }

    // An SSCC is one shipment: used on any day, or by the box still open, Start refuses
    // it and asks nothing, whatever the answer would have been.
    void aUsedSsccIsRefusedNotQuestioned()
    {
        program::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
        packingState().bSscc = true;
        const QString prefix = QStringLiteral("10614141");
        const QString first = *gs1::sscc(prefix, 1);
        QDir(m_dir->path()).mkdir("files");
        xls::Workbook book;
        book.sheets.resize(1);
        xls::Cell label;
        label.kind = xls::Cell::Text;
        label.text = first;
        book.sheets[0].set(2, 0, label);
        // Another day's workbook, named as a folder copied from Windows may name it.
        replaceFileAtomically(m_dir->path() + "/files/20261201.XLS", xls::compoundDocument(xls::workbookStream(book)));
        const QByteArray before = bytesOf(config());

        auto w = openSetup();
        type(*w, "Text7", prefix);
        type(*w, "Text8", "");
        m_messages.answers = QStringList{QStringLiteral("是")}; // would start with a label that is not an SSCC
        clickStart(*w);
        QVERIFY(m_messages.questions.isEmpty());
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY2(m_messages.texts.last().startsWith(QStringLiteral("SSCC %1 已经用过（files/20261201.XLS 第 3 行），不能再用于另一箱。").arg(first)),
                 qPrintable(m_messages.texts.last()));
        QVERIFY(!w->scanWindow());
        QCOMPARE(bytesOf(config()), before);

        type(*w, "Text10", "2");
        clickStart(*w);
        QVERIFY(w->scanWindow());
        scanPack(*w->scanWindow(), 1);
        QCOMPARE(w->scanWindow()->box().outerLabel(), *gs1::sscc(prefix, 2));
        // The box still open holds SSCC 2.
        type(*w, "Text10", "2");
        clickStart(*w);
        QVERIFY(m_messages.questions.isEmpty());
        QVERIFY2(m_messages.texts.last().contains(QStringLiteral("（正在装的这一箱）")), qPrintable(m_messages.texts.last()));
        QCOMPARE(packingState().lOuterNo, 3);
        program::setClock(nullptr);
    }

    void closeBoxesCloseOnlyTheirWindow()
    {
        auto w = openSetup();
        clickStart(*w);
        QPointer<frm_SCAN> scan = w->scanWindow();
        w->close();
        QVERIFY(scan && scan->isVisible());
        w->show();
        scan->close();
        QTRY_VERIFY(!scan);
        QVERIFY(!w->scanWindow());
        clickStart(*w); // loads a fresh scan window
        QVERIFY(w->scanWindow());
        QCOMPARE(w->scanWindow()->box().rowCount(), 0);
        QCOMPARE(m_ended, 0);
    }

    // The README's two minutes show what a newcomer sees: its table's defaults are the
    // setup window's with the default config.ini, and the pictures were made from it.
    void theReadmeShowsWhatANewcomerSees()
    {
        const QString source = qEnvironmentVariable("ZANTREL_SOURCE_DIR");
        QFile::remove(config());
        QVERIFY(QFile::copy(source + "/app/config.ini", config()));
        auto w = openSetup();
        QMap<QString, QString> shown; // caption -> what its field shows
        for (QLabel *label : w->findChildren<QLabel *>()) {
            if (!label->text().endsWith(QStringLiteral("：")))
                continue;
            for (QLineEdit *edit : w->findChildren<QLineEdit *>())
                if (edit->geometry().top() == label->geometry().top())
                    shown.insert(label->text().chopped(1), edit->text());
        }
        QCOMPARE(shown.size(), 10);

        QFile readme(source + "/README.md");
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(readme.readAll());
        const qsizetype from = text.indexOf(QStringLiteral("## 两分钟试用"));
        QVERIFY2(from >= 0, "the README has no section 两分钟试用");
        const QString section = text.mid(from, text.indexOf(QStringLiteral("\n## "), from + 1) - from);
        QMap<QString, QString> told;
        for (const QString &line : section.split(QLatin1Char('\n'))) {
            const QStringList cells = line.trimmed().split(QLatin1Char('|'));
            if (cells.size() >= 4 && shown.contains(cells[1].trimmed()))
                told.insert(cells[1].trimmed(), cells[2].trimmed() == QStringLiteral("（空）") ? QString() : cells[2].trimmed());
        }
        QCOMPARE(told, shown);

        QFile pictures(source + "/docs/pictures.txt");
        QVERIFY(pictures.open(QIODevice::ReadOnly));
        QFile defaults(source + "/app/config.ini");
        QVERIFY(defaults.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(pictures.readAll()).trimmed(),
                 QStringLiteral("config.ini ") + QString::fromLatin1(QCryptographicHash::hash(defaults.readAll(), QCryptographicHash::Sha256).toHex()));
    }
};

QTEST_MAIN(TestSetupWindow)
#include "tst_setup_window.moc"
