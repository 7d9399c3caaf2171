#include "Impostors.h"
#include "station/Fakes.h"
#include "station/JournalScript.h"
#include "support/Mutation.h"
#include "support/BarcodeDecode.h"
#include "support/BlackHoleProxy.h"
#include "support/CupsServer.h"
#include "support/ToolRun.h"

#include "core/Gs1.h"
#include "core/Gs1Scan.h"
#include "labels/Label.h"
#include "labels/LabelPage.h"
#include "labels/LabelSpool.h"
#include "packing/PackingState.h"
#include "platform/PrintSpooler.h"
#include "platform/ProgramEnvironment.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayWorkbooks.h"
#include "station/ScanSession.h"
#include "ui/scan/frm_SCAN.h"
#include "station/ports/BoxExport.h"

#include <cups/cups.h>

#include <QJsonDocument>
#include <QScopeGuard>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

namespace {

labels::Label outer(const QString &text, int middles = 3)
{
    labels::Label l;
    l.text = text;
    l.station = QStringLiteral("line3-a");
    l.written = QDateTime(QDate(2026, 12, 8), QTime(9, 30, 5));
    l.packs = middles * 10;
    for (int i = 1; i <= middles; ++i)
        l.middles << QStringLiteral("Z%1").arg(i, 5, 10, QLatin1Char('0'));
    return l;
}

// A written box as the intake hands it over: outer label, middle labels, packs, its id.
struct WrittenBox
{
    Box box;
    ExportReceipt receipt;
    WrittenBox(const QString &label, int packs = 4)
    {
        box.appendOuterLabel(label);
        box.appendMiddleLabel(QStringLiteral("Z-") + label);
        for (int i = 0; i < packs; ++i)
            box.appendPack(QStringLiteral("%1-P%2").arg(label).arg(i));
        box.setExportTarget({QStringLiteral("20261208.xls"), 2, QUuid::createUuid()});
        receipt = {label, QStringLiteral("20261208.xls"), 2, QDateTime::currentDateTime(), {}};
    }
};

settings::PrintSettings printer(const QString &queue)
{
    settings::PrintSettings p;
    p.printer = queue;
    return p;
}

} // namespace

class TestLabels : public QObject
{
    Q_OBJECT
    CupsServer m_cups;

    // The test's own connection to the scheduler, past any proxy a test puts in front of it.
    http_t *direct()
    {
        return httpConnect2(m_cups.socket().toLocal8Bit().constData(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    }

    // The labels a queue printed, each read from its job's document, sorted.
    QStringList completed(const QString &queue)
    {
        cups_job_t *jobs = nullptr;
        http_t *http = direct();
        const int n = cupsGetJobs2(http, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_COMPLETED);
        httpClose(http);
        QStringList texts;
        for (int i = 0; i < n; ++i) {
            if (jobs[i].state != IPP_JSTATE_COMPLETED)
                continue;
            QString why;
            texts << decodePage(m_cups.document(jobs[i].id), 203, &why).join(QLatin1Char('|'));
        }
        cupsFreeJobs(n, jobs);
        texts.sort();
        return texts;
    }
    int waitingJobs(const QString &queue)
    {
        cups_job_t *jobs = nullptr;
        http_t *http = direct();
        const int n = cupsGetJobs2(http, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ACTIVE);
        httpClose(http);
        cupsFreeJobs(n, jobs);
        return n;
    }

    // The labels the scheduler holds, each decoded from its document at the printer's resolution.
    QStringList printed()
    {
        QStringList texts;
        for (int job : m_cups.jobs()) {
            QString why;
            const QStringList found = decodePage(m_cups.document(job), 203, &why);
            [&] { QVERIFY2(why.isEmpty(), qPrintable(why)); }();
            texts << found.join(QLatin1Char('|'));
        }
        return texts;
    }

private slots:
    void initTestCase()
    {
        const QString why = m_cups.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(m_cups.addQueue(QStringLiteral("labels")), QString());
    }

    void aPrintedLabelScans()
    {
        // Read back as a scanner reads the paper, at both usual resolutions.
        for (int dpi : {203, 300}) {
            for (const QString &text : {QStringLiteral("W00012X"), QStringLiteral("LINE3-OUTER-2026-000123"), QStringLiteral("a b/c%d")}) {
                const labels::Drawn d = labels::draw(outer(text), {100, 60, dpi});
                QVERIFY2(d.misfit.isEmpty(), qPrintable(d.misfit));
                QString why;
                QCOMPARE(decodePage(d.pdf, dpi, &why), QStringList{text});
                QVERIFY2(why.isEmpty(), qPrintable(why));
            }
            labels::Label middle;
            middle.kind = labels::Label::Kind::Middle;
            middle.text = QStringLiteral("Z00007B");
            middle.outer = QStringLiteral("W00012X");
            middle.station = QStringLiteral("line3-a");
            middle.written = QDateTime::currentDateTime();
            for (int i = 0; i < 10; ++i)
                middle.packList << QStringLiteral("A%1").arg(i, 8, 10, QLatin1Char('0'));
            middle.packs = 10;
            const labels::Drawn m = labels::draw(middle, {100, 60, dpi});
            QVERIFY2(m.misfit.isEmpty(), qPrintable(m.misfit));
            QString why;
            QCOMPARE(decodePage(m.pdf, dpi, &why), QStringList{QStringLiteral("Z00007B")});
            const QString words = pageText(m.pdf);
            QVERIFY2(words.contains(QStringLiteral("W00012X")) && words.contains(QStringLiteral("A00000009")), qPrintable(words));
        }
        // An SSCC as GS1-128: the decoder sees AI (00) and the 18 digits.
        labels::Label sscc = outer(QStringLiteral("106141411234567897"));
        sscc.sscc = true;
        const labels::Drawn d = labels::draw(sscc, {100, 60, 203});
        QVERIFY2(d.misfit.isEmpty(), qPrintable(d.misfit));
        QString why;
        const QStringList found = decodePage(d.pdf, 203, &why);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].endsWith(QStringLiteral("00106141411234567897")), qPrintable(found[0]));
        QVERIFY(pageText(d.pdf).contains(QStringLiteral("(00)106141411234567897")));
        // What the outer label shows besides its barcode.
        const QByteArray shown = labels::draw(outer(QStringLiteral("W00012X")), {100, 60, 203}).pdf;
        const QString words = pageText(shown);
        if (qEnvironmentVariableIsSet("SCREENSHOT_DIR")) {
            QFile picture(qEnvironmentVariable("SCREENSHOT_DIR") + QStringLiteral("/label-outer.pdf"));
            if (picture.open(QIODevice::WriteOnly))
                picture.write(shown);
        }
        for (const QString &shown : {QStringLiteral("line3-a"), QStringLiteral("2026-12-08 09:30:05"), QStringLiteral("30"), QStringLiteral("Z00003")})
            QVERIFY2(words.contains(shown), qPrintable(shown + " in " + words));
    }

    void aLabelThatDoesNotFitIsRefused()
    {
        // Too many middle labels for the height, too long a text for the width: refused with the size needed.
        labels::Drawn d = labels::draw(outer(QStringLiteral("W00012X"), 60), {50, 30, 203});
        QVERIFY(d.pdf.isEmpty());
        QVERIFY2(d.misfit.contains(QStringLiteral("需要至少")) && d.misfit.contains(QStringLiteral("50×30")), qPrintable(d.misfit));
        d = labels::draw(outer(QString(60, QLatin1Char('W'))), {40, 60, 203});
        QVERIFY(d.pdf.isEmpty());
        QVERIFY2(d.misfit.contains(QStringLiteral("需要至少")), qPrintable(d.misfit));
        // What the page says it needs does fit.
        const QString needed = d.misfit.section(QStringLiteral("需要至少 "), 1).section(QStringLiteral(" 毫米"), 0, 0);
        const int w = needed.section(QChar(0xd7), 0, 0).toInt(), h = needed.section(QChar(0xd7), 1, 1).toInt();
        QVERIFY2(w > 40, qPrintable(needed));
        QVERIFY(labels::draw(outer(QString(60, QLatin1Char('W'))), {w, h, 203}).misfit.isEmpty());
        // What the barcode library cannot encode is told in the operator's words.
        d = labels::draw(outer(QString(2000, QLatin1Char('W'))), {4000, 60, 203});
        QVERIFY(d.pdf.isEmpty());
        QVERIFY2(d.misfit.contains(QStringLiteral("条码无法生成：内容太长")) && !d.misfit.contains(QLatin1String("Error")), qPrintable(d.misfit));

        // Start's question: the job's largest label at the configured size.
        QTemporaryDir folder;
        settings::PrintSettings small = printer(QStringLiteral("labels"));
        small.widthMm = 30;
        small.heightMm = 15;
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), small});
        PackingState job;
        job.iPerMiddle = 10;
        job.iPerOuter = 30;
        job.iInnerLen = 10;
        job.iOuterDigits = 5;
        job.iMiddleDigits = 5;
        job.sOuterPrefix = QStringLiteral("W");
        job.sMiddlePrefix = QStringLiteral("Z");
        QVERIFY(spool.misfit(job).contains(QStringLiteral("需要至少")));
        labels::LabelSpool roomy({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("labels"))});
        QCOMPARE(roomy.misfit(job), QString());
    }

    void keptLabelsArePrintedOnceWhateverThePrintSystemDoes()
    {
        QTemporaryDir folder;
        const int before = int(m_cups.jobs().size());
        auto spool = std::make_unique<labels::LabelSpool>(labels::LabelSpool::Options{folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("labels")), 1});
        WrittenBox first(QStringLiteral("W00001"));
        spool->boxWritten(first.box, first.receipt);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 1, 20000);
        QTRY_VERIFY(spool->stateLine().contains(QStringLiteral("已打印 W00001")));
        QCOMPARE(printed().mid(before), QStringList{QStringLiteral("W00001")});
        // The same box handed over again (the station found it written after a restart): not printed again.
        spool->boxWritten(first.box, first.receipt);
        QTRY_COMPARE(spool->waiting(), 0);
        QCOMPARE(int(m_cups.jobs().size()), before + 1);

        // The print system hangs while three boxes are written: the line goes on, the
        // print line tells, and once it answers each label is printed exactly once.
        const auto resumed = qScopeGuard([&] { m_cups.resume(); }); // also when a check fails
        QVERIFY(m_cups.pause());
        WrittenBox b2(QStringLiteral("W00002")), b3(QStringLiteral("W00003")), b4(QStringLiteral("W00004"));
        for (WrittenBox *b : {&b2, &b3, &b4})
            spool->boxWritten(b->box, b->receipt); // returns at once: nothing waits on the printer
        QVERIFY(spool->waiting() >= 2);
        // While its hand-over has no answer, the line names the label that waits, not the one before.
        QTRY_VERIFY_WITH_TIMEOUT(spool->stateLine().contains(QStringLiteral("正在交打印 W00002")), 20000);
        QVERIFY2(!spool->stateLine().contains(QStringLiteral("已打印 W00001")), qPrintable(spool->stateLine()));
        QTRY_VERIFY_WITH_TIMEOUT(spool->stateLine().contains(QStringLiteral("未打印 W00002：")), 30000);
        // Told as what it is, not in the words of whatever errno held.
        QVERIFY2(spool->stateLine().contains(QStringLiteral("没有应答")) && !spool->stateLine().contains(QLatin1String("Success")),
                 qPrintable(spool->stateLine()));
        QVERIFY(m_cups.resume());
        QTRY_COMPARE_WITH_TIMEOUT(spool->waiting(), 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 4, 20000);
        QStringList got = printed().mid(before);
        got.sort();
        QCOMPARE(got, QStringList({"W00001", "W00002", "W00003", "W00004"}));

        // Killed after the print system took a label and before its file was removed:
        // found by its title after the restart, not handed over twice.
        spool.reset();
        WrittenBox b5(QStringLiteral("W00005"));
        {
            QTemporaryDir elsewhere;
            labels::LabelSpool keeper({elsewhere.path(), QStringLiteral("line3-a"), printer(QStringLiteral("nosuchqueue")), 60});
            keeper.boxWritten(b5.box, b5.receipt);
            const QStringList kept = QDir(elsewhere.filePath("labels")).entryList({"*.label"});
            QCOMPARE(kept.size(), 1);
            QFile::copy(elsewhere.filePath("labels/" + kept[0]), folder.filePath("labels/" + kept[0]));
            const QString title = QJsonDocument::fromJson([&] { QFile f(folder.filePath("labels/" + kept[0])); f.open(QIODevice::ReadOnly); return f.readAll(); }())
                                      .object().value("title").toString();
            printing::submit(QStringLiteral("labels"), title, labels::draw(outer(QStringLiteral("W00005")), {100, 60, 203}).pdf);
            // A queue that does not exist is told on the print line; the label waits.
            QTRY_VERIFY_WITH_TIMEOUT(keeper.stateLine().contains(QStringLiteral("nosuchqueue")), 20000);
            QVERIFY(keeper.stateLine().contains(QStringLiteral("未打印")));
            QCOMPARE(keeper.waiting(), 1);
        }
        QCOMPARE(int(m_cups.jobs().size()), before + 5);
        spool = std::make_unique<labels::LabelSpool>(labels::LabelSpool::Options{folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("labels")), 1});
        QTRY_COMPARE(spool->waiting(), 0);
        QCOMPARE(int(m_cups.jobs().size()), before + 5);

        // The print system is down when a label is kept, and the station restarts: printed once.
        m_cups.stop();
        WrittenBox b6(QStringLiteral("W00006"));
        spool->boxWritten(b6.box, b6.receipt);
        QTRY_VERIFY_WITH_TIMEOUT(spool->stateLine().contains(QStringLiteral("未打印")), 20000);
        spool.reset();
        QCOMPARE(m_cups.startAgain(), QString());
        spool = std::make_unique<labels::LabelSpool>(labels::LabelSpool::Options{folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("labels")), 1});
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 6, 20000);
        QTRY_COMPARE(spool->waiting(), 0);
        QCOMPARE(printed().mid(before + 5), QStringList{QStringLiteral("W00006")});

        // F9: the last outer label again, marked 补打; also after a restart.
        spool.reset();
        spool = std::make_unique<labels::LabelSpool>(labels::LabelSpool::Options{folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("labels")), 1});
        spool->reprintLast();
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 7, 20000);
        const QByteArray again = m_cups.document(m_cups.jobs().last());
        QVERIFY(pageText(again).contains(QStringLiteral("补打")));
        QCOMPARE(printed().last(), QStringLiteral("W00006"));
        QTRY_VERIFY(spool->stateLine().contains(QStringLiteral("补打 W00006")));

        // A kept label someone edited into nonsense is set aside and told, never printed.
        QFile junk(folder.filePath("labels/box-0000.label"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("{\"title\": \"zantrel x\", \"label\": {\"kind\": \"outer\"}}");
        junk.close();
        spool->reprintLast(); // wakes the printer's thread
        QTRY_VERIFY(!QFile::exists(junk.fileName()));
        QCOMPARE(QDir(folder.filePath("labels")).entryList({"box-0000.label.damaged-*"}).size(), 1);
        // Told, and still told once the reprint it woke printed.
        QTRY_VERIFY_WITH_TIMEOUT(spool->stateLine().contains(QStringLiteral("已打印 补打")), 20000);
        QVERIFY2(spool->stateLine().contains(QStringLiteral("box-0000.label 无法识别")), qPrintable(spool->stateLine()));
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 8, 20000);
    }

    // Scans through the station's own intake into a workbook: each middle box's label
    // when its last pack is listed, the outer label once the box is written; a box put
    // back written after a crash is not printed twice; zantrel-label finds and prints
    // a label of the workbooks again, or writes it to a file.
    // A short box of GS1 packs with SSCC outer labels: its logistic label, printed through
    // the scheduler and read at 203 dpi, carries (02) GTIN, (37) the real count, (10) and
    // (17) above the (00) SSCC, and says what the box holds in words. Start refuses a
    // page too small for it.
    void aGs1LogisticLabel()
    {
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        PackingState state;
        journalscript::setUp(state); // 3 packs a middle box, 7 an outer box
        state.bSscc = true;
        state.sOuterPrefix = QStringLiteral("10614141");
        state.lOuterNo = 5;
        state.buildLabels();
        Box box;
        RecordingMessages messages;
        RecordingSounds sounds;
        BarcodeIntake intake(state, box, messages, daily, sounds);
        intake.takeGs1Scans(true, 0);
        settings::PrintSettings print = printer(QStringLiteral("labels"));
        print.sscc = print.gs1 = true;
        print.heightMm = 60;
        {
            labels::LabelSpool small({folder.path(), QStringLiteral("line3-a"), print, 1});
            QVERIFY(small.misfit(state).contains(QStringLiteral("[print] size 为 100×60")));
        }
        print.heightMm = 150;
        const int before = int(m_cups.jobs().size());
        {
            // Middle labels beside SSCC outer labels: the sample is a middle label, no SSCC.
            settings::PrintSettings withMiddles = print;
            withMiddles.middle = true;
            labels::LabelSpool both({folder.path(), QStringLiteral("line3-a"), withMiddles, 1});
            QCOMPARE(both.misfit(state), QString());
        }
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), print, 1});
        QCOMPARE(spool.misfit(state), QString());
        intake.printLabelsWith(&spool);
        for (int i = 1; i <= 5; ++i)
            intake.receive(QStringLiteral("]d2\x1d" "0109501101530003" "21S%1\x1d" "10L24\x1d" "17270600\r\n").arg(i));
        QCOMPARE(int(box.iInnerCount()), 5);
        messages.answers = QStringList{QStringLiteral("封箱")};
        intake.closeShortBox();
        QCOMPARE(box.rowCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 1, 20000);

        const QByteArray page = m_cups.document(m_cups.jobs().last());
        QString why;
        QStringList found = decodePage(page, 203, &why);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QStringList read;
        std::vector<gs1::Element> onTheLabel; // GS1's pairs hold over every symbol of one item
        for (QString symbol : found) {
            if (symbol.startsWith(QStringLiteral("]C1")))
                symbol = symbol.mid(3);
            const gs1::ScanRead r = gs1::readScan(symbol, QDate(2026, 12, 9), gs1::Pairs::Unchecked);
            QVERIFY2(r.read, qPrintable(symbol + ": " + r.why));
            read << r.read->humanReadable();
            onTheLabel.insert(onTheLabel.end(), r.read->elements.begin(), r.read->elements.end());
        }
        QVERIFY(!gs1::checkPairs(onTheLabel));
        read.sort();
        const QString sscc = *gs1::sscc(state.sOuterPrefix, 5);
        QCOMPARE(read, QStringList({"(00)" + sscc, "(02)09501101530003(37)5(10)L24(17)270600"}));
        const QString words = pageText(page);
        for (const QString &shown : {QStringLiteral("CONTENT 内装产品：09501101530003"), QStringLiteral("COUNT 数量：5"),
                                     QStringLiteral("BATCH/LOT 批号：L24"), QStringLiteral("USE BY 有效期至：2027-06-30"),
                                     QStringLiteral("(02)09501101530003(37)5(10)L24(17)270600"), "(00)" + sscc})
            QVERIFY2(words.contains(shown), qPrintable(shown + " in " + words));

        // zantrel-label prints it again from the workbook as it was printed: the same
        // symbols and words, marked 补打.
        QFile config(folder.filePath("config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[print]\nprinter=labels;\nsize=100x150;\n[label]\nouter=sscc;\n[gs1]\nscans=1;\n[db]\nstation=line3-a;\n");
        config.close();
        const QString again = folder.filePath("again.pdf");
        const ToolRun run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--pdf", again, sscc});
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QFile reprinted(again);
        QVERIFY(reprinted.open(QIODevice::ReadOnly));
        const QByteArray second = reprinted.readAll();
        QStringList firstSymbols = decodePage(page, 203, &why), secondSymbols = decodePage(second, 203, &why);
        firstSymbols.sort();
        secondSymbols.sort();
        QCOMPARE(secondSymbols, firstSymbols);
        const QString secondWords = pageText(second);
        for (const QString &shown : {QStringLiteral("CONTENT 内装产品：09501101530003"), QStringLiteral("COUNT 数量：5"),
                                     QStringLiteral("BATCH/LOT 批号：L24"), QStringLiteral("USE BY 有效期至：2027-06-30"), QStringLiteral("补打")})
            QVERIFY2(secondWords.contains(shown), qPrintable(shown + " in " + secondWords));

        // Without SSCC outer labels the outer label keeps its Code 128 and says what it holds.
        labels::Label plain;
        plain.text = QStringLiteral("W00012");
        plain.station = QStringLiteral("line3-a");
        plain.written = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        plain.packs = 7;
        plain.content = labels::Content{QStringLiteral("09501101530003"), QString(), QString()};
        const labels::Drawn d = labels::draw(plain, {100, 80, 203});
        QVERIFY2(d.misfit.isEmpty(), qPrintable(d.misfit));
        QCOMPARE(decodePage(d.pdf, 203, &why), QStringList{QStringLiteral("W00012")});
        QVERIFY(pageText(d.pdf).contains(QStringLiteral("CONTENT 内装产品：09501101530003")));
        QVERIFY(!pageText(d.pdf).contains(QStringLiteral("BATCH")));
        // A lot too long for one symbol across the page: the lot and expiry get their own.
        labels::Label longLot = plain;
        longLot.text = sscc;
        longLot.sscc = true;
        longLot.content = labels::Content{QStringLiteral("09501101530003"), QString(20, QLatin1Char('W')), QStringLiteral("271231")};
        const labels::Drawn split = labels::draw(longLot, {100, 150, 203});
        QVERIFY2(split.misfit.isEmpty(), qPrintable(split.misfit));
        found = decodePage(split.pdf, 203, &why);
        QCOMPARE(found.size(), 3);
        QVERIFY(pageText(split.pdf).contains(QStringLiteral("(10)WWWWWWWWWWWWWWWWWWWW(17)271231")));
        // However wide the page, no symbol carries more than GS1-128's 48 data characters:
        // (02)(37)(10)(17) with a 20-character lot and a count of 12 would be 50.
        longLot.packs = 12;
        for (const int width : {100, 200}) {
            const labels::Drawn wide = labels::draw(longLot, {width, 150, 203});
            QVERIFY2(wide.misfit.isEmpty(), qPrintable(wide.misfit));
            found = decodePage(wide.pdf, 203, &why);
            QCOMPARE(found.size(), 3);
            for (QString symbol : found) {
                const gs1::ScanRead r = gs1::readScan(symbol.mid(symbol.startsWith(QLatin1Char(']')) ? 3 : 0), QDate(2026, 12, 9), gs1::Pairs::Unchecked);
                QVERIFY2(r.read, qPrintable(symbol));
                QVERIFY2(gs1::dataCharacters(r.read->elements) <= gs1::kMostGs1128Characters, qPrintable(symbol));
            }
        }
        // The content survives the label's file.
        QCOMPARE(labels::Label::fromJson(plain.toJson())->content, plain.content);
    }

    void theStationPrintsAsItPacks()
    {
        QTemporaryDir folder;
        program::setFolder(folder.path());
        xls::NativeWorkbookFile file;
        DailyWorkbookExport daily(file);
        PackingState state;
        journalscript::setUp(state); // 3 packs a middle box, 7 an outer box
        Box box;
        RecordingMessages messages;
        RecordingSounds sounds;
        BarcodeIntake intake(state, box, messages, daily, sounds);
        settings::PrintSettings print = printer(QStringLiteral("labels"));
        print.middle = true;
        const int before = int(m_cups.jobs().size());
        {
            labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), print, 1});
            intake.printLabelsWith(&spool);
            for (int i = 1; i <= 7; ++i)
                intake.receive(QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0')));
            QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 4, 20000);
            QCOMPARE(printed().mid(before), QStringList({"Z001", "Z002", "Z003", "W001"}));
            QVERIFY(pageText(m_cups.document(m_cups.jobs().at(before))).contains(QStringLiteral("P00003")));
            QVERIFY(pageText(m_cups.document(m_cups.jobs().last())).contains(QStringLiteral("Z001、Z002、Z003")));

            // The station was killed after writing W002 and before its label was handed
            // over: the journal puts the box back as written, and the next start finds it in
            // its workbook and hands it over; its label is printed once, also when that start
            // is repeated.
            for (int i = 8; i <= 14; ++i)
                intake.receive(QStringLiteral("P%1\r\n").arg(i, 5, 10, QLatin1Char('0')));
            QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 8, 20000);
            intake.printLabelsWith(nullptr);
        }
        QCOMPARE(printed().last(), QStringLiteral("W002"));
        for (int start = 0; start < 2; ++start) {
            labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), print, 1});
            Box restored;
            std::vector<BoxRow> rows{{BoxRow::OuterLabel, QStringLiteral("W003")}, {BoxRow::MiddleLabel, QStringLiteral("Z007")}};
            for (int i = 15; i <= 21; ++i)
                rows.push_back({BoxRow::Pack, QStringLiteral("P%1").arg(i, 5, 10, QLatin1Char('0'))});
            const ExportTarget target{QStringLiteral("unused.xls"), 2, QUuid::fromString(QStringLiteral("{6c2b1a5e-0d4e-4c1b-9c55-2f1e9f3d7a01})"))};
            restored.restore(rows, true, std::nullopt, target);
            BarcodeIntake again(state, restored, messages, daily, sounds);
            again.printLabelsWith(&spool);
            again.exportIfFull();
            QTRY_COMPARE(spool.waiting(), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 9, 20000);
        QCOMPARE(printed().mid(before + 8), QStringList{QStringLiteral("W003")});

        // zantrel-label, as a person runs it in the program folder.
        QFile config(folder.filePath("config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[print]\nprinter=labels;\nsize=100x60;\n[db]\nstation=line3-a;\n");
        config.close();
        const QString preview = folder.filePath("W001.pdf");
        ToolRun run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--pdf", preview, "W001"});
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QFile written(preview);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray page = written.readAll();
        QString why;
        QCOMPARE(decodePage(page, 203, &why), QStringList{QStringLiteral("W001")});
        QVERIFY(pageText(page).contains(QStringLiteral("补打")) && pageText(page).contains(QStringLiteral("Z003")));
        QCOMPARE(int(m_cups.jobs().size()), before + 9); // a file, not the printer
        // What a person put at that path and is no file is refused at once and left there.
        for (int kind : {int(impostor::Pipe), int(impostor::EndlessDevice), int(impostor::Folder)}) {
            const QString odd = folder.filePath(QStringLiteral("odd-%1.pdf").arg(kind));
            QVERIFY(impostor::make(kind, odd, 64 << 20));
            run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "--pdf", odd, "W001"});
            QCOMPARE(run.status, 2);
            QVERIFY2(run.errors.contains(odd), qPrintable(run.errors));
            QVERIFY(impostor::unchanged(kind, odd, 64 << 20));
        }
        // A print system that hangs: zantrel-label gives up (a run still going after a
        // minute counts as a crash here) and says why.
        const auto resumed = qScopeGuard([&] { m_cups.resume(); }); // also when a check fails
        QVERIFY(m_cups.pause());
        run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "Z002"});
        QVERIFY(m_cups.resume());
        QCOMPARE(run.status, 2);
        QVERIFY2(run.errors.contains(QStringLiteral("没有应答")), qPrintable(run.errors));
        run = ToolRun::of("zantrel-label", {"--folder", folder.path(), "Z002"});
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 10, 20000);
        QCOMPARE(printed().last(), QStringLiteral("Z002"));
        QCOMPARE(ToolRun::of("zantrel-label", {"--folder", folder.path(), "W999"}).status, 1);

        // F9 in the scan window prints the last outer label again, and its print line says so.
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), print, 1});
        ScanSession::Parts parts{folder.path(), state, daily, messages, sounds, program::now};
        parts.labels = &spool;
        frm_SCAN window(std::make_unique<ScanSession>(parts));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel *line = window.findChild<QLabel *>(QStringLiteral("lblPrint"));
        QVERIFY(line);
        QTRY_VERIFY(line->text().contains(QStringLiteral("F9")));
        QTest::keyClick(&window, Qt::Key_F9);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.jobs().size()), before + 11, 20000);
        QCOMPARE(printed().last(), QStringLiteral("W003"));
        QVERIFY(pageText(m_cups.document(m_cups.jobs().last())).contains(QStringLiteral("补打")));
        QTRY_VERIFY(line->text().contains(QStringLiteral("补打 W003")));
    }

    // A label is told printed only once its job completed; one whose job the print
    // system drops (cancelled, aborted) is told until F9 prints it again, also after
    // later boxes printed.
    void aLabelIsPrintedWhenItsJobCompleted()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("stopped")), QString());
        QCOMPARE(m_cups.command(QStringLiteral("cupsdisable"), {QStringLiteral("stopped")}), QString());
        QTemporaryDir folder;
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("stopped")), 1});
        WrittenBox box(QStringLiteral("W00077"));
        spool.boxWritten(box.box, box.receipt);
        QTRY_VERIFY_WITH_TIMEOUT(spool.stateLine().contains(QStringLiteral("已交打印 W00077")), 20000);
        QVERIFY2(!spool.stateLine().contains(QStringLiteral("已打印")), qPrintable(spool.stateLine()));
        QCOMPARE(spool.waiting(), 1); // kept until it is printed
        QCOMPARE(m_cups.command(QStringLiteral("cancel"), {QStringLiteral("-a"), QStringLiteral("stopped")}), QString());
        QTRY_VERIFY_WITH_TIMEOUT(spool.stateLine().contains(QStringLiteral("W00077 打印失败")), 20000);
        QVERIFY2(spool.stateLine().contains(QStringLiteral("F9 补打 W00077")), qPrintable(spool.stateLine()));

        // A later box prints; F9 still names, and prints, the one that failed.
        QCOMPARE(m_cups.command(QStringLiteral("cupsenable"), {QStringLiteral("stopped")}), QString());
        WrittenBox later(QStringLiteral("W00078"));
        spool.boxWritten(later.box, later.receipt);
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("stopped")), QStringList{QStringLiteral("W00078")}, 20000);
        QTRY_VERIFY(spool.stateLine().contains(QStringLiteral("F9 补打 W00077")));
        spool.reprintLast();
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("stopped")), QStringList({"W00077", "W00078"}), 20000);
        QTRY_COMPARE(spool.waiting(), 0);
        QTRY_VERIFY(spool.stateLine().contains(QStringLiteral("已打印 补打 W00077")));
        QVERIFY2(spool.stateLine().contains(QStringLiteral("F9 补打 W00077")), qPrintable(spool.stateLine()));
    }

    // The connection is cut once the print system has the job's request and before it
    // answers: the label prints once, and is never told printed before it is.
    void aCutConnectionNeitherLosesNorDoublesALabel()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("cut")), QString());
        BlackHoleProxy proxy(m_cups.socket());
        QVERIFY(proxy.listening());
        proxy.swallowAfter("zantrel box-");
        const QByteArray direct = qgetenv("CUPS_SERVER");
        qputenv("CUPS_SERVER", proxy.socket().toLocal8Bit()); // read by the spool's own thread
        QTemporaryDir folder;
        const auto direct_again = qScopeGuard([&] { qputenv("CUPS_SERVER", direct); });
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("cut")), 1});
        WrittenBox box(QStringLiteral("W00022"));
        spool.boxWritten(box.box, box.receipt);
        bool toldEarly = false;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     const bool told = spool.stateLine().contains(QStringLiteral("已打印 W00022"));
                                     const bool done = completed(QStringLiteral("cut")).contains(QStringLiteral("W00022"));
                                     toldEarly = toldEarly || (told && !done);
                                     return told && spool.waiting() == 0;
                                 }()),
                                 60000);
        QCOMPARE(proxy.swallowed(), 1);
        QVERIFY(!toldEarly);
        QCOMPARE(completed(QStringLiteral("cut")), QStringList{QStringLiteral("W00022")});
        QCOMPARE(waitingJobs(QStringLiteral("cut")), 0); // no job left without its document
    }

    // A job of the label's title without its document (the second of libcups's two
    // requests never came) is found after a restart: cancelled, and the label handed
    // over again; never taken for printed.
    void aJobWithoutItsDocumentIsHandedOverAgain()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("halfway")), QString());
        QTemporaryDir elsewhere, folder;
        QString kept;
        {
            labels::LabelSpool keeper({elsewhere.path(), QStringLiteral("line3-a"), printer(QStringLiteral("nosuchqueue")), 60});
            WrittenBox box(QStringLiteral("W00022"));
            keeper.boxWritten(box.box, box.receipt);
            kept = QDir(elsewhere.filePath("labels")).entryList({"*.label"}).value(0);
            QVERIFY(!kept.isEmpty());
        }
        QVERIFY(QDir(folder.path()).mkdir("labels"));
        QVERIFY(QFile::copy(elsewhere.filePath("labels/" + kept), folder.filePath("labels/" + kept)));
        QFile f(folder.filePath("labels/" + kept));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString title = QJsonDocument::fromJson(f.readAll()).object().value("title").toString();
        http_t *http = direct();
        const int halfJob = cupsCreateJob(http, "halfway", title.toUtf8().constData(), 0, nullptr);
        httpClose(http);
        QVERIFY(halfJob > 0);
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("halfway")), 1});
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("halfway")), QStringList{QStringLiteral("W00022")}, 30000);
        QTRY_COMPARE(spool.waiting(), 0);
        QTRY_VERIFY(spool.stateLine().contains(QStringLiteral("已打印 W00022")));
        QCOMPARE(waitingJobs(QStringLiteral("halfway")), 0); // the half job is gone
    }

    // The print system dies with a job taken and not yet printed, and forgets it: the
    // next job gets its id. Both labels print, each once.
    void aJobThePrintSystemLostIsHandedOverAgain()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("lost")), QString());
        QCOMPARE(m_cups.command(QStringLiteral("cupsdisable"), {QStringLiteral("lost")}), QString());
        // The queue itself is written to the scheduler's files when it stops; its jobs are not.
        m_cups.stop();
        QCOMPARE(m_cups.startAgain(), QString());
        QTemporaryDir folder;
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("lost")), 1});
        WrittenBox first(QStringLiteral("W00252"));
        spool.boxWritten(first.box, first.receipt);
        QTRY_VERIFY_WITH_TIMEOUT(spool.stateLine().contains(QStringLiteral("已交打印 W00252")), 20000);
        m_cups.kill();
        QCOMPARE(m_cups.startAgain(), QString());
        WrittenBox second(QStringLiteral("W00253"));
        spool.boxWritten(second.box, second.receipt);
        QTRY_VERIFY_WITH_TIMEOUT(spool.stateLine().contains(QStringLiteral("已交打印")), 20000);
        QCOMPARE(m_cups.command(QStringLiteral("cupsenable"), {QStringLiteral("lost")}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("lost")), QStringList({"W00252", "W00253"}), 30000);
        QTRY_COMPARE(spool.waiting(), 0);
        QCOMPARE(completed(QStringLiteral("lost")), QStringList({"W00252", "W00253"}));
    }

    // The label folder cannot be written (a file stands in its place): the labels are
    // printed from memory, the print line says so until a label can be kept again,
    // and nothing is missing once the folder is mended.
    void labelsThatCannotBeKeptArePrintedAnyway()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("unkept")), QString());
        QTemporaryDir folder;
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), printer(QStringLiteral("unkept")), 1});
        QVERIFY(QDir(folder.filePath("labels")).removeRecursively());
        QFile blocker(folder.filePath("labels"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        std::vector<std::unique_ptr<WrittenBox>> boxes;
        for (const char *label : {"W00031", "W00032", "W00033"}) {
            boxes.push_back(std::make_unique<WrittenBox>(QLatin1String(label)));
            spool.boxWritten(boxes.back()->box, boxes.back()->receipt);
            QVERIFY2(spool.stateLine().contains(QStringLiteral("只在内存中")), qPrintable(spool.stateLine()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("unkept")), QStringList({"W00031", "W00032", "W00033"}), 30000);
        QTRY_COMPARE(spool.waiting(), 0);
        QVERIFY2(spool.stateLine().contains(QStringLiteral("无法保存待打印标签")), qPrintable(spool.stateLine()));

        // Mended while the print system hangs: what waits in memory goes to disk, then prints.
        const auto resumed = qScopeGuard([&] { m_cups.resume(); }); // also when a check fails
        QVERIFY(m_cups.pause());
        WrittenBox held(QStringLiteral("W00034"));
        spool.boxWritten(held.box, held.receipt);
        QVERIFY(QFile::remove(folder.filePath("labels")));
        // The spool may make the folder itself the moment the file is gone.
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("labels")));
        QTRY_COMPARE_WITH_TIMEOUT(int(QDir(folder.filePath("labels")).entryList({"*.label"}).size()), 1, 30000);
        QTRY_VERIFY(!spool.stateLine().contains(QStringLiteral("无法保存待打印标签")));
        QVERIFY(m_cups.resume());
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("unkept")), QStringList({"W00031", "W00032", "W00033", "W00034"}), 30000);
        QTRY_COMPARE(spool.waiting(), 0);
    }

    // An outer label used again (Start asked and was told 是): the second box's middle
    // labels are that box's own and print too.
    void middleLabelsOfAReusedOuterLabelPrint()
    {
        QCOMPARE(m_cups.addQueue(QStringLiteral("middles")), QString());
        QTemporaryDir folder;
        settings::PrintSettings print = printer(QStringLiteral("middles"));
        print.middle = true;
        labels::LabelSpool spool({folder.path(), QStringLiteral("line3-a"), print, 1});
        WrittenBox first(QStringLiteral("M00001")), second(QStringLiteral("M00001"), 3);
        spool.middleFilled(first.box, QStringLiteral("Z-M00001"));
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("middles")), QStringList{QStringLiteral("Z-M00001")}, 20000);
        spool.middleFilled(second.box, QStringLiteral("Z-M00001"));
        QTRY_COMPARE_WITH_TIMEOUT(completed(QStringLiteral("middles")).size(), 2, 20000);
    }

    // [print] and [label] as a person may write them.
    void printSettingsAsWritten()
    {
        QTemporaryDir folder;
        program::setFolder(folder.path());
        const auto read = [&](const QByteArray &ini) {
            QFile f(folder.filePath("config.ini"));
            f.open(QIODevice::WriteOnly);
            f.write(ini);
            f.close();
            return settings::readPrintSettings();
        };
        settings::PrintSettings p = read("[length]\nnlen=8;\n");
        QVERIFY(!p.configured() && p.problems.isEmpty());
        p = read("[print]\nprinter=labels;\nsize=62 X 29;\ndpi=300;\nmiddle=1;\n[label]\nouter=SSCC;\n");
        QVERIFY2(p.problems.isEmpty(), qPrintable(p.problems.join('\n')));
        QVERIFY(p.configured() && p.middle && p.sscc);
        QCOMPARE(QList<int>({p.widthMm, p.heightMm, p.dpi}), QList<int>({62, 29, 300}));
        for (const char *bad : {"size=100;", "size=5x60;", "size=100x60x2;", "dpi=20;", "dpi=abc;"}) {
            p = read(QByteArray("[print]\nprinter=labels;\n") + bad + "\n");
            QVERIFY2(!p.configured() && p.problems.size() == 1, bad); // no printing on a size that may cut labels
        }
        p = read("[print]\nprinter=labels;\nmiddle=yes;\n[label]\nouter=gtin;\n");
        QVERIFY(p.configured() && !p.middle && !p.sscc);
        QCOMPARE(p.problems.size(), 2);
    }

    // A kept label is a file a person can open and change: whatever it holds, it is
    // read as a label or refused, never crashing.
    void aKeptLabelSurvivesAnyEdit()
    {
        labels::Label l = outer(QStringLiteral("W00012X"));
        QCOMPARE(labels::Label::fromJson(l.toJson())->text, l.text);
        QCOMPARE(labels::Label::fromJson(l.toJson())->middles, l.middles);
        const QByteArray seed = QJsonDocument(l.toJson()).toJson(QJsonDocument::Compact);
        QRandomGenerator random(2912);
        int read = 0;
        for (int n = 0; n < 5000; ++n) {
            const QByteArray bytes = mutated(seed, random, 6);
            const std::optional<labels::Label> got = labels::Label::fromJson(QJsonDocument::fromJson(bytes).object());
            if (got) {
                ++read;
                QVERIFY(!got->text.isEmpty() && got->written.isValid() && got->packs >= 0);
            }
        }
        QVERIFY(read > 0 && read < 5000);
    }
};

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
