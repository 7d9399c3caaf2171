// A day at the station over a disk that loses power: the day's file changes are
// recorded once, then at every change (each system call that changes a file or a
// folder) the disk is rebuilt as a power cut may leave it, in a few of the states
// it allows (all of them where there are few), and the station starts on it.
// ZANTREL_POWER_CUT_STATES=N looks at up to N states at each cut (6 by default,
// the bounded run); ZANTREL_POWER_CUT_SAMPLE=K looks at every K-th cut only;
// ZANTREL_POWER_CUT_DELIVER_EVERY=K delivers the outbox of every K-th state to a
// real plant record (25 by default).
#include "Fakes.h"
#include "support/PgServer.h"
#include "support/PlantDb.h"
#include "support/PowerCut.h"

#include "labels/Label.h"
#include "labels/LabelSpool.h"
#include "packing/PackingState.h"
#include "platform/AtomicFile.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"
#include "platform/WorkbookReader.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "plant/Outbox.h"
#include "plant/PlantLink.h"
#include "plant/PlantSender.h"
#include "settings/StationSettings.h"
#include "station/BoxJournal.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayWorkbooks.h"
#include "station/ScanSession.h"
#include "station/StartChecks.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

constexpr int kPerMiddle = 3;
constexpr int kPerOuter = 6;
// Rows already in the day's first workbook: one box of 9 rows still fits, the next does not.
constexpr int kRowsBefore = 65536 - 12;
const char *kUnreachable = "postgresql://zantrel@127.0.0.1:1/none?connect_timeout=1";

QDateTime g_now;
QDateTime stationClock()
{
    return g_now;
}

void setUp(PackingState &state)
{
    state.iInnerLen = 7; // with the CR LF
    state.iPerMiddle = kPerMiddle;
    state.iPerOuter = kPerOuter;
    state.iMiddleDigits = state.iOuterDigits = 3;
    state.sOuterPrefix = QStringLiteral("W");
    state.sMiddlePrefix = QStringLiteral("Z");
    state.lMiddleNo = state.lOuterNo = 1;
}

QString pack(int n)
{
    return QStringLiteral("P%1").arg(n, 4, 10, QLatin1Char('0'));
}

// The station's parts as the program builds them, on one folder.
struct Station
{
    explicit Station(const QString &folder)
        : folder(folder), link(folder, linkOptions()), labels(labelOptions(folder))
    {
        setUp(state);
    }
    static PlantLink::Options linkOptions()
    {
        PlantLink::Options o;
        o.url = QString::fromLatin1(kUnreachable);
        o.station = QStringLiteral("line1");
        o.clock = stationClock;
        return o;
    }
    static labels::LabelSpool::Options labelOptions(const QString &folder)
    {
        labels::LabelSpool::Options o;
        o.programFolder = folder;
        o.station = QStringLiteral("line1");
        o.print.printer = QStringLiteral("zantrel-none"); // no such queue: labels stay kept
        o.retrySeconds = 3600;
        return o;
    }
    ScanSession &session()
    {
        if (!m_session) {
            m_session = std::make_unique<ScanSession>(
                ScanSession::Parts{folder, state, daily, messages, sounds, stationClock, &link, {}, &labels, QStringLiteral("line1")});
            m_session->configure(settings::readScanSettings()); // as the scan window reads config.ini
        }
        return *m_session;
    }

    QString folder;
    PackingState state;
    RecordingMessages messages;
    RecordingSounds sounds;
    xls::NativeWorkbookFile workbook;
    DailyWorkbookExport daily{workbook};
    PlantLink link;
    labels::LabelSpool labels;

private:
    std::unique_ptr<ScanSession> m_session;
};

// The day, on the recorded folder. Notes say what the station promised by then:
// "listed P0001", "box P0001 P0002 …" (a box as written), "outbox N" (boxes handed
// to the plant record's outbox), "labels N" (labels kept), "config" (config.ini saved).
void scriptedDay(const QString &folder, PowerCut &disk, QList<QByteArray> &configs)
{
    program::setFolder(folder);
    int next = 1, outbox = 0;
    auto saveConfig = [&] {
        settings::saveDigitCounts(QStringLiteral("3"), QStringLiteral("3"));
        configs << regularfile::read(folder + "/config.ini", regularfile::kConfigLimit).value_or(QByteArray());
        disk.note(QStringLiteral("config"));
    };
    auto scan = [&](Station &s, int count) {
        for (int i = 0; i < count; ++i, ++next) {
            g_now = g_now.addSecs(5);
            const int written = s.session().box().rowCount();
            const std::vector<BoxRow> before = s.session().box().rows();
            s.session().receive(pack(next) + "\r\n", 0);
            QVERIFY2(s.session().intake().lastScanListed(), qPrintable(s.messages.texts.join('\n')));
            disk.note(QStringLiteral("listed ") + pack(next));
            if (s.session().box().rowCount() < written) {
                QStringList packs;
                for (const BoxRow &r : before)
                    if (r.kind == BoxRow::Pack)
                        packs << r.text;
                disk.note(QStringLiteral("box ") + (packs << pack(next)).join(' '));
                disk.note(QStringLiteral("outbox %1").arg(++outbox));
                disk.note(QStringLiteral("labels %1").arg(s.labels.waiting()));
            }
        }
    };
    auto start = [&](Station &s, const QString &answer) {
        s.messages.answers = QStringList{answer};
        const startchecks::KeptBox kept = startchecks::offerKeptBox(folder, kPerOuter, s.daily, &s.link, s.messages);
        QVERIFY(kept.goOn);
        QVERIFY(s.session().startBox(kept.box));
    };

    {
        Station s(folder);
        saveConfig();
        start(s, {});
        scan(s, 3);
        s.messages.answers.clear();
        s.session().receive(QStringLiteral("BAD\r\n"), 0); // refused, and on record in files/
        QVERIFY(!s.session().intake().lastScanListed());
        scan(s, 7); // a box written in the day's first workbook, and four packs
    }
    {
        Station s(folder); // 继续: the box goes on and fills, into the day's next workbook
        start(s, QStringLiteral("继续"));
        scan(s, 4);
    }
    {
        Station s(folder); // 不继续: the two packs go to a workbook of their own
        saveConfig();
        start(s, QStringLiteral("不继续"));
        disk.note(QStringLiteral("unfinished P0013 P0014"));
        scan(s, 4);
        s.messages.answers = QStringList{QStringLiteral("封箱")};
        s.session().closeShortBox();
        disk.note(QStringLiteral("box P0015 P0016 P0017 P0018"));
        disk.note(QStringLiteral("outbox %1").arg(++outbox));
        disk.note(QStringLiteral("labels %1").arg(s.labels.waiting()));
        scan(s, 1);
    }
}

// Everything a cut left: packs in workbooks (by box, in order), in the box offered back.
struct Found
{
    QList<QStringList> boxes; // each box of the day's rows, its packs
    QStringList unfinished;   // packs in workbooks of unfinished boxes
    QStringList open;         // the box Start gave back
    QStringList problems;
};

void readWorkbooks(const QString &folder, int rowsBefore, Found &found)
{
    const QDir files(dayworkbooks::filesFolder(folder));
    for (const QString &name : files.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name)) {
        std::vector<QStringList> columns;
        try {
            columns = workbook::readFirstSheetColumns(files.filePath(name), 3);
        } catch (const RuntimeError &e) {
            found.problems << QStringLiteral("%1 does not open: %2").arg(name, e.description());
            continue;
        }
        const bool unfinished = name.startsWith(QLatin1String("unfinished-"));
        const qsizetype from = name == QLatin1String("20261207.xls") ? rowsBefore : 1; // after the header row
        for (qsizetype r = from; r < qsizetype(columns[0].size()); ++r) {
            const QString outer = columns[0][r], packText = columns.size() > 2 && r < columns[2].size() ? columns[2][r] : QString();
            if (!outer.isEmpty() && !unfinished)
                found.boxes << QStringList();
            if (packText.isEmpty())
                continue;
            if (unfinished)
                found.unfinished << packText;
            else if (found.boxes.isEmpty())
                found.problems << QStringLiteral("%1 row %2: a pack before any outer label").arg(name).arg(r + 1);
            else
                found.boxes.last() << packText;
        }
    }
}

// What must hold after a power cut at this point, whatever state the disk was left in.
QStringList check(const QString &folder, int rowsBefore, const QStringList &notes, const QList<QByteArray> &configs,
                  const QStringList &written)
{
    Found found;
    program::setFolder(folder);
    removeLeftoverTemporaries(folder, {QStringLiteral("config.ini"), BoxJournal::fileName(), Outbox::fileName()});
    removeLeftoverTemporaries(dayworkbooks::filesFolder(folder), {QStringLiteral("*.xls")});

    // config.ini: as it was or as Start saved it, never anything else.
    const std::optional<QByteArray> config = regularfile::read(folder + "/config.ini", regularfile::kConfigLimit);
    if (!config || !configs.contains(*config))
        found.problems << QStringLiteral("config.ini is %1").arg(config ? QStringLiteral("%1 bytes no save wrote").arg(config->size()) : QStringLiteral("gone"));

    // The outbox: readable, each box once, every box handed over before the cut there.
    int promisedOutbox = 0, promisedLabels = 0;
    QStringList listed;
    for (const QString &n : notes) {
        if (n.startsWith(QLatin1String("outbox ")))
            promisedOutbox = n.mid(7).toInt();
        else if (n.startsWith(QLatin1String("labels ")))
            promisedLabels = n.mid(7).toInt();
        else if (n.startsWith(QLatin1String("listed ")))
            listed << n.mid(7);
    }
    std::vector<Outbox::Entry> outbox;
    try {
        outbox = Outbox(folder).pending();
    } catch (const RuntimeError &e) {
        found.problems << QStringLiteral("the outbox cannot be read: %1").arg(e.description());
    }
    // Each place holds one box: the same box again (after a stop) comes under its own id.
    QHash<QString, QUuid> places;
    for (const Outbox::Entry &e : outbox)
        if (places.contains(e.place()) && places[e.place()] != e.id)
            found.problems << QStringLiteral("the outbox holds two boxes at %1").arg(e.place());
        else
            places.insert(e.place(), e.id);

    // Labels: every kept one still there and readable.
    const QDir labelDir(folder + "/labels");
    int labels = 0;
    for (const QString &name : labelDir.entryList({QStringLiteral("*.label")}, QDir::Files)) {
        const std::optional<QByteArray> bytes = regularfile::read(labelDir.filePath(name), 1 << 20);
        const QJsonObject o = QJsonDocument::fromJson(bytes.value_or(QByteArray())).object();
        if (!labels::Label::fromJson(o.value(QStringLiteral("label")).toObject()))
            found.problems << QStringLiteral("label %1 cannot be read").arg(name);
        else
            ++labels;
    }
    if (labels < promisedLabels)
        found.problems << QStringLiteral("%1 labels kept, %2 were").arg(labels).arg(promisedLabels);

    // Start, as the program runs it: the kept box offered back (继续), written at once when full.
    {
        Station s(folder);
        const startchecks::KeptBox kept = startchecks::offerKeptBox(folder, kPerOuter, s.daily, &s.link, s.messages);
        if (!kept.goOn)
            found.problems << QStringLiteral("Start stops: %1").arg(s.messages.texts.join(' '));
        else if (!s.session().startBox(kept.box))
            found.problems << QStringLiteral("the kept box does not start: %1").arg(s.messages.texts.join(' '));
        for (const BoxRow &r : s.session().box().rows())
            if (r.kind == BoxRow::Pack)
                found.open << r.text;
        try {
            QSet<QUuid> ids;
            for (const Outbox::Entry &e : Outbox(folder).pending())
                ids.insert(e.id);
            if (int(ids.size()) < promisedOutbox)
                found.problems << QStringLiteral("%1 boxes in the outbox after Start, %2 were handed over").arg(ids.size()).arg(promisedOutbox);
        } catch (const RuntimeError &) {
            // Told above.
        }
    }

    readWorkbooks(folder, rowsBefore, found);
    // 不继续's box is saved whole or not at all.
    if (!found.unfinished.isEmpty() && !written.contains(QStringLiteral("unfinished ") + found.unfinished.join(' ')))
        found.problems << QStringLiteral("the unfinished workbooks hold %1").arg(found.unfinished.join(' '));
    QStringList everywhere = found.unfinished + found.open;
    for (const QStringList &box : found.boxes) {
        everywhere += box;
        if (!written.contains(box.join(' ')))
            found.problems << QStringLiteral("a box in the workbook no box of the day was: %1").arg(box.join(' '));
    }
    for (const QString &p : listed)
        if (everywhere.count(p) != 1)
            found.problems << QStringLiteral("%1 is on file %2 times").arg(p).arg(everywhere.count(p));
    for (const QString &p : everywhere)
        if (everywhere.count(p) > 1 && !listed.contains(p))
            found.problems << QStringLiteral("%1 is on file %2 times").arg(p).arg(everywhere.count(p));
    found.problems.removeDuplicates();
    return found.problems;
}

// The outbox delivered as the station's sender delivers it: every box in it reaches
// the record once, and no pack is in two boxes there.
QStringList deliver(PgServer &server, const QString &folder, int n)
{
    const QString name = plantdb::make(server, QStringLiteral("cut%1").arg(n), {QStringLiteral("line1")});
    QStringList problems;
    std::vector<Outbox::Entry> held;
    try {
        Outbox outbox(folder);
        held = outbox.pending();
        PlantSender sender(server.url(QStringLiteral("line3"), name), QStringLiteral("line1"), outbox);
        for (int tries = 0; tries < 5 && !outbox.pending().empty(); ++tries) {
            const PlantSender::Report report = sender.deliver();
            if (!report.recorded)
                problems << QStringLiteral("delivery: %1").arg(report.why);
        }
        if (!outbox.pending().empty())
            problems << QStringLiteral("%1 boxes still in the outbox").arg(outbox.pending().size());
    } catch (const RuntimeError &e) {
        return {QStringLiteral("the outbox cannot be delivered: %1").arg(e.description())};
    }
    auto db = database::connect(server.url(QStringLiteral("postgres"), name));
    // A box handed over again after a stop comes under the same id: the record keeps it once.
    QSet<QUuid> ids;
    for (const Outbox::Entry &e : held)
        ids.insert(e.id);
    const QString boxes = plantdb::one(*db, QStringLiteral("SELECT count(*) FROM zantrel.boxes"));
    if (boxes.toInt() != int(ids.size()))
        problems << QStringLiteral("%1 boxes in the record, %2 were in the outbox").arg(boxes).arg(ids.size());
    const QString twice = plantdb::one(*db, QStringLiteral("SELECT count(*) FROM (SELECT barcode FROM zantrel.pack_locations"
                                                           " GROUP BY barcode HAVING count(*) > 1) t"));
    if (twice != QLatin1String("0"))
        problems << QStringLiteral("%1 packs are in two boxes of the record").arg(twice);
    return problems;
}

bool xlrdOpens(const QString &folder, QString *why)
{
    const QDir files(dayworkbooks::filesFolder(folder));
    for (const QString &name : files.entryList({QStringLiteral("*.xls")}, QDir::Files)) {
        QProcess xlrd;
        xlrd.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-c"), QStringLiteral("import sys, xlrd; xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)"),
                    files.filePath(name)});
        if (!xlrd.waitForFinished(60000) || xlrd.exitCode() != 0) {
            *why = name + ": " + QString::fromUtf8(xlrd.readAllStandardError());
            return false;
        }
    }
    return true;
}

} // namespace

class TestPowerCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No print system answers: labels wait on disk, as they do while CUPS is down.
        qputenv("CUPS_SERVER", "/nonexistent/zantrel-cups.sock");
        program::setClock(stationClock);
    }

    void aPowerCutAtAnyWriteLosesNothing_data()
    {
        QTest::addColumn<bool>("nearlyFull");
        // A new station's folder: files/ and labels/ are made during the day.
        QTest::newRow("a new station") << false;
        // The day's first workbook fills with the second box; the rest of the day goes to the next.
        QTest::newRow("a full workbook") << true;
    }

    void aPowerCutAtAnyWriteLosesNothing()
    {
        QFETCH(bool, nearlyFull);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/station";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(qEnvironmentVariable("ZANTREL_SOURCE_DIR") + "/app/config.ini", folder + "/config.ini"));
        const int rowsBefore = nearlyFull ? kRowsBefore : 1;
        if (nearlyFull) {
            QVERIFY(QDir().mkpath(folder + "/files"));
            // The day's first workbook, nearly full since the morning.
            xls::NativeWorkbookFile book;
            book.create(folder + "/files/20261207.xls");
            std::vector<WorkbookFile::Row> rows(size_t(kRowsBefore - 1), {QStringLiteral("X"), QString(), QString()});
            book.appendRows(rows);
            book.replaceFile();
        }
        g_now = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
        QList<QByteArray> configs{*regularfile::read(folder + "/config.ini", regularfile::kConfigLimit)};
        PowerCut disk(folder);
        scriptedDay(folder, disk, configs);
        disk.stop();
        if (QTest::currentTestFailed())
            return;
        QStringList written;
        for (const PowerCut::Step &s : disk.steps())
            if (s.note.startsWith(QLatin1String("box ")))
                written << s.note.mid(4);
            else if (s.note.startsWith(QLatin1String("unfinished ")))
                written << s.note;
        QCOMPARE(written.size(), 4);

        const int most = qEnvironmentVariableIsSet("ZANTREL_POWER_CUT_STATES") ? qEnvironmentVariableIntValue("ZANTREL_POWER_CUT_STATES") : 6;
        const int sample = std::max(1, qEnvironmentVariableIntValue("ZANTREL_POWER_CUT_SAMPLE"));
        QRandomGenerator random(20261209);
        PowerCutReplay replay(disk);
        int cuts = 0, states = 0;
        double allowed = 0;
        PgServer server;
        const QString started = server.start();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        const int deliverEvery = qEnvironmentVariableIsSet("ZANTREL_POWER_CUT_DELIVER_EVERY")
                                     ? std::max(1, qEnvironmentVariableIntValue("ZANTREL_POWER_CUT_DELIVER_EVERY"))
                                     : 25;
        int delivered = 0;
        QStringList failures;
        while (replay.next() && failures.size() < 40) {
            if (replay.cut() % sample != 0 && replay.cut() != disk.changes())
                continue;
            ++cuts;
            allowed += replay.stateCount();
            const std::vector<PowerCutReplay::Choice> choices = replay.states(most, random);
            for (size_t c = 0; c < choices.size(); ++c) {
                QTemporaryDir state;
                replay.write(choices[c], state.path());
                ++states;
                QStringList problems = check(state.path(), rowsBefore, replay.notes(), configs, written);
                if (problems.isEmpty() && states % deliverEvery == 0)
                    problems += deliver(server, state.path(), ++delivered);
                QString why;
                if (!problems.isEmpty() || (states % 50 == 0 && !xlrdOpens(state.path(), &why))) {
                    failures << QStringLiteral("cut %1 after \"%2\", state %3: %4")
                                    .arg(replay.cut()).arg(replay.lastChange()).arg(c).arg((problems + QStringList(why)).join("; "));
                    break; // one state tells what is wrong at this cut
                }
            }
        }
        program::setFolder({});
        qInfo("%d changes recorded; %d cuts looked at, %d states started on (of %.0f the cuts allow); %d outboxes delivered to the record",
              disk.changes(), cuts, states, allowed, delivered);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestPowerCut)
#include "tst_power_cut.moc"
