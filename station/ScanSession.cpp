#include "station/ScanSession.h"

#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/Sound.h"
#include "settings/StationSettings.h"
#include "station/DayWorkbooks.h"
#include "station/PlantLink.h"

#include <QDir>
#include <QFileInfo>

ScanSession::ScanSession(const Parts &parts)
    : m_parts(parts), m_journal(parts.programFolder),
      m_intake(parts.state, m_box, parts.messages, parts.boxExport, parts.sounds, parts.clock)
{
    m_box.setLog(&m_journal);
    m_intake.handOverWrittenBoxesTo(parts.plant);
}

void ScanSession::configure(const settings::ScanSettings &read, std::function<void(int)> pause)
{
    m_wholePlant = read.checksWholePlant();
    if (m_wholePlant && m_parts.plant) {
        m_plantCheck = std::make_unique<PlantCheck>(m_parts.plant->url());
        m_intake.checkWholePlant(m_plantCheck.get(), read.budgetMs, std::move(pause));
    }
    m_intake.sCfMode = read.cfMode;
    m_intake.recordRefusalsIn(dayworkbooks::filesFolder(m_parts.programFolder));
    if (read.dayWide) {
        m_dayIndex.load(m_parts.programFolder, m_parts.clock().date());
        m_intake.checkWholeDay(&m_dayIndex);
    }
}

bool ScanSession::startBox(const std::optional<BoxJournal::Saved> &kept)
{
    const PackingState &state = m_parts.state;
    try {
        // The journal first: it still holds the kept box if this fails.
        if (kept) {
            const std::optional<PackingJob> job = kept->job ? kept->job : std::optional<PackingJob>(PackingJob::of(state));
            m_journal.startWith(kept->rows, kept->exportPending, state.lMiddleNo, state.lOuterNo, job, kept->target);
            m_box.restore(kept->rows, kept->exportPending, job, kept->target);
        } else {
            m_journal.startWith({}, false, state.lMiddleNo, state.lOuterNo);
        }
    } catch (const RuntimeError &e) {
        m_box.restore({}, false);
        m_parts.sounds.play(Sound::Refused);
        m_parts.messages.show(kept ? QStringLiteral("无法继续上次的外箱 %1：%2\n它仍保留在记录中，扫描窗口未打开。").arg(kept->outerLabel(), e.description())
                                   : QStringLiteral("无法写入当前外箱记录：%1\n扫描窗口未打开。").arg(e.description()));
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

QString ScanSession::plantRecordLine() const
{
    if (!m_parts.plant)
        return QStringLiteral("中央记录：未配置") + checkLine();
    const PlantLink::State state = m_parts.plant->state();
    const QString conflicts = state.conflicts > 0 ? QStringLiteral("\n重复内包 %1 个，待主管处理").arg(state.conflicts) : QString();
    return plantStateLine(state) + checkLine() + conflicts;
}

QString ScanSession::checkLine() const
{
    if (!m_wholePlant)
        return {};
    if (!m_plantCheck)
        return QStringLiteral("\n查重：仅本站（未配置中央记录）");
    return m_plantCheck->answeredInTime() ? QStringLiteral("\n查重：全厂")
                                          : QStringLiteral("\n查重：仅本站（中央记录未及时回答）");
}

QString ScanSession::plantStateLine(const PlantLink::State &state)
{
    switch (state.kind) {
    case PlantLink::State::Recorded:
        if (state.backlog > 0) // on their way, or the sender waits for an answer
            return QStringLiteral("中央记录：上传中，%1 箱等待上传").arg(state.backlog);
        return QStringLiteral("中央记录：已记录（%1）").arg(state.delivered.toString(QStringLiteral("HH:mm:ss")));
    case PlantLink::State::Offline:
        return QStringLiteral("中央记录：离线，%1 箱等待上传").arg(state.backlog);
    case PlantLink::State::Connecting:
        break;
    }
    return QStringLiteral("中央记录：连接中，%1 箱等待上传").arg(state.backlog);
}

ScanSession::Status ScanSession::status() const
{
    Status s;
    for (auto row = m_box.rows().rbegin(); row != m_box.rows().rend() && s.middleLabel.isEmpty(); ++row)
        if (row->kind == BoxRow::MiddleLabel)
            s.middleLabel = row->text;
    s.outerLabel = m_box.outerLabel();
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
    s.plantRecord = plantRecordLine();
    return s;
}
