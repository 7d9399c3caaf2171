#include "station/ScanSession.h"

#include "station/ports/BatchSource.h"

#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "packing/Gs1Rules.h"
#include "platform/Sound.h"
#include "settings/StationSettings.h"
#include "station/files/DayWorkbooks.h"
#include "station/ports/PlantHandoff.h"

#include "station/ports/LabelHandoff.h"

#include <QDir>
#include <QFileInfo>

ScanSession::ScanSession(const Parts &parts)
    : m_parts(parts), m_journal(parts.programFolder),
      m_intake(parts.state, m_box, parts.messages, parts.boxExport, parts.sounds, parts.clock), m_link(parts.messages)
{
    m_box.setLog(&m_journal);
    m_intake.handOverWrittenBoxesTo(parts.plant);
    m_intake.printLabelsWith(parts.labels);
}

void ScanSession::configure(const settings::ScanSettings &read, std::function<void(int)> pause)
{
    m_wholePlant = read.checksWholePlant();
    if (m_wholePlant && m_parts.plant && m_parts.plantQuestions) {
        m_plantQuestion = m_parts.plantQuestions();
        if (!pause)
            pause = [this](int ms) { waiter().Wait(ms); };
        m_intake.checkWholePlant(m_plantQuestion.get(), read.budgetMs, std::move(pause));
    }
    m_intake.sCfMode = read.cfMode;
    m_intake.recordRefusalsIn(dayworkbooks::filesFolder(m_parts.programFolder));
    m_intake.takeGs1Scans(read.gs1.scans, read.gs1.shelfDays);
    m_dayIndex.readGs1Packs(read.gs1.scans);
    if (read.dayWide) {
        m_dayIndex.load(m_parts.programFolder, m_parts.clock().date());
        m_intake.checkWholeDay(&m_dayIndex);
    }
    m_intake.setEncoding(read.encoding);
    Stime = read.stime;
}

bool ScanSession::startBox(const std::optional<BoxJournal::Saved> &kept)
{
    const PackingState &state = m_parts.state;
    try {
        // The journal first: it still holds the kept box if this fails.
        if (kept) {
            const std::optional<PackingJob> job = kept->job ? kept->job : std::optional<PackingJob>(state.job());
            m_journal.startWith(kept->rows, kept->exportPending, state.lMiddleNo, state.lOuterNo, job, kept->target, state.batch,
                                kept->operators);
            m_box.restore(kept->rows, kept->exportPending, job, kept->target, kept->operators);
        } else {
            m_journal.startWith({}, false, state.lMiddleNo, state.lOuterNo, {}, {}, state.batch);
        }
    } catch (const RuntimeError &e) {
        m_box.restore({}, false);
        m_parts.sounds.play(Sound::Refused);
        m_parts.messages.show(kept ? QStringLiteral("无法继续上次的外箱 %1：%2\n它仍保留在记录中。设置未保存，扫描窗口未打开。").arg(kept->outerLabel(), e.description())
                                   : QStringLiteral("无法写入当前外箱记录：%1\n设置未保存，扫描窗口未打开；没有未写入工作簿的内包受影响。").arg(e.description()));
        return false;
    }
    try {
        m_intake.exportIfFull();
    } catch (const RuntimeError &e) {
        m_exportFailure = e.description();
        m_parts.sounds.play(Sound::Refused);
        m_parts.messages.show(QStringLiteral("上次的整箱未能写入工作簿：%1").arg(e.description()));
    }
    return true;
}

void ScanSession::noteFailure(const RuntimeError &error)
{
    if (m_box.exportPending())
        m_exportFailure = error.description();
}

void ScanSession::openPort(int16_t number)
{
    m_link.open(number);
    if (const qint64 discarded = m_link.port().discardWaiting(); discarded > 0)
        m_intake.recordDiscarded(discarded);
}

void ScanSession::MSComm1_OnComm()
{
    refreshBatch(); // a batch the record held or ended since takes no pack
    SerialPort &MSComm1 = m_link.port();
    const int kind = MSComm1.commEvent();
    if (kind == SerialPort::DeviceGone) {
        m_link.reportGone();
        return;
    }
    // A scan is already being handled further up this call chain; its read takes these characters.
    if (kind != SerialPort::Received || m_handlingScan) {
        MSComm1.setRThreshold(1);
        return;
    }
    m_handlingScan = true;
    QByteArray bytes;
    bool read = false;
    try {
        MSComm1.setRThreshold(0);
        waiter().Wait(textnum::toInt32(Stime));
        bytes = MSComm1.input();
        read = true;
        m_intake.receiveBytes(bytes, MSComm1.takeDropped());
        MSComm1.setRThreshold(1);
    } catch (const RuntimeError &e) {
        // A failure before the read leaves the characters for the next receive event.
        errorPath(e, QString::fromLatin1(bytes), read && m_intake.lastScanListed());
    }
    m_handlingScan = false;
}

void ScanSession::closeShortBox()
{
    if (m_handlingScan)
        return; // a scan's wait or message is up: the operator presses F8 once it is done
    m_handlingScan = true;
    SerialPort &port = m_link.port();
    const bool listening = port.rThreshold() > 0;
    if (listening)
        port.setRThreshold(0); // a scan during the question stays buffered for its own event
    try {
        m_intake.closeShortBox();
    } catch (const RuntimeError &e) {
        noteFailure(e);
        m_parts.sounds.play(Sound::Refused);
        m_parts.messages.show(QStringLiteral("封箱失败：%1\n外箱 %2 的内包都保留在清单中，等待写入工作簿。")
                                  .arg(e.description(), m_box.outerLabel()));
    }
    m_handlingScan = false;
    if (listening)
        port.setRThreshold(1);
}

void ScanSession::errorPath(const RuntimeError &error, const QString &text, bool listed)
{
    noteFailure(error);
    // What was read and not listed goes on record like any refused scan.
    const QString notRecorded = !listed && !text.isEmpty() ? m_intake.recordFailedScan(text) : QString();
    m_parts.sounds.play(Sound::Refused);
    const QString outcome = listed ? QStringLiteral("本次扫描的条码已列入清单。")
                                   : QStringLiteral("本次扫描的条码没有记录，请重新扫描该内包。");
    m_parts.messages.show(QStringLiteral("扫描处理失败：%1\n%2\n清单中已有的条码都保留。%3")
                              .arg(error.description(), outcome, notRecorded));
    if (const std::optional<RuntimeError> failure = m_link.reopen())
        m_link.reportProblem(failure->description());
    m_link.port().setRThreshold(1);
}

clsWait &ScanSession::waiter()
{
    if (!m_waiter)
        m_waiter = std::make_unique<clsWait>();
    return *m_waiter;
}

QString ScanSession::plantRecordLine() const
{
    // A station without a plant record shows no line of it.
    if (!m_parts.plant)
        return {};
    return m_parts.plant->stateLines() + checkLine();
}

QString ScanSession::alarm() const
{
    return m_parts.plant ? m_parts.plant->alarm() : QString();
}

QString ScanSession::checkLine() const
{
    if (!m_wholePlant || !m_parts.plant)
        return {};
    if (!m_plantQuestion)
        return QStringLiteral("\n查重：仅本站（未配置中央记录）");
    return m_plantQuestion->answeredInTime() ? QStringLiteral("\n查重：全厂")
                                             : QStringLiteral("\n查重：仅本站（中央记录未及时回答）");
}

ScanSession::Status ScanSession::status() const
{
    Status s;
    for (auto row = m_box.rows().rbegin(); row != m_box.rows().rend() && s.middleLabel.isEmpty(); ++row)
        if (row->kind == BoxRow::MiddleLabel)
            s.middleLabel = row->text;
    s.outerLabel = m_box.outerLabel();
    if (const std::optional<gs1rules::BoxKind> kind = gs1rules::kindOfBox(m_box.rows())) {
        s.gtin = kind->gtin;
        s.lot = kind->lot.value_or(QString());
    }
    s.packs = m_box.iInnerCount();
    s.perOuter = m_parts.state.iPerOuter;
    if (m_box.exportPending()) {
        s.lastBox = QStringLiteral("外箱 %1 等待写入工作簿：%2").arg(m_box.outerLabel(), m_exportFailure);
    } else if (const std::optional<ExportReceipt> &last = m_intake.lastExport()) {
        s.lastBox = QStringLiteral("上一箱 %1 已写入 %2（%3）")
                        .arg(last->outerLabel, QFileInfo(last->workbook).fileName(), last->at.toString(QStringLiteral("HH:mm:ss")));
    } else {
        s.lastBox = QStringLiteral("上一箱：尚无");
    }
    s.keys = QStringLiteral("F8 不足一箱时封箱");
    if (m_parts.labels)
        s.print = m_parts.labels->stateLine();
    s.plantRecord = plantRecordLine();
    s.alarm = alarm();
    if (const std::optional<Batch> &batch = m_parts.state.batch) {
        // The record's count has the boxes written; the open box's packs are this station's alone.
        const int64_t packed = batch->packed + (m_box.exportPending() ? 0 : m_box.iInnerCount());
        const QString stateNote = batch->takesPacks() ? QString() : QStringLiteral("（%1）").arg(batchstate::shown(batch->state));
        s.batchNumber = batch->number;
        s.batch = QStringLiteral("批次 %1%2%3\n本批 %4 / %5")
                      .arg(batch->number, batch->lot.isEmpty() ? QString() : QStringLiteral(" (10)") + batch->lot, stateNote)
                      .arg(packed)
                      .arg(batch->planned);
        s.overPlan = packed > batch->planned;
    }
    if (m_intake.locked())
        s.onDuty = QStringLiteral("已锁定 — 按任意键登录");
    else if (m_onDuty)
        s.onDuty = QStringLiteral("操作员 %1 %2%3").arg(m_onDuty->id, m_onDuty->name, m_onDuty->offline ? QStringLiteral("（离线登录）") : QString());
    if (m_parts.operators)
        s.keys += QStringLiteral("，F12 交接班");
    return s;
}

void ScanSession::setOperator(const std::optional<OnDuty> &who)
{
    m_onDuty = who;
    m_intake.setOperatorOnDuty(who ? who->id : QString());
    if (m_parts.plant)
        m_parts.plant->onDuty(who ? who->id : QString());
}

void ScanSession::refreshBatch()
{
    std::optional<Batch> &batch = m_parts.state.batch;
    if (!batch || !m_parts.batches)
        return;
    if (const std::optional<Batch> told = m_parts.batches->followed(); told && told->number == batch->number) {
        batch->state = told->state;
        batch->packed = told->packed;
    }
}

void ScanSession::takeBatch(const Batch &batch)
{
    if (m_parts.batches)
        m_parts.batches->follow(batch);
    try {
        m_journal.batchTaken(batch);
    } catch (const RuntimeError &e) {
        m_parts.messages.show(QStringLiteral("批次 %1 未能写入当前外箱记录：%2\n离线时本站无法继续该批次。").arg(batch.number, e.description()));
    }
}
