#include "station/BarcodeIntake.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/Sound.h"
#include "station/DayIndex.h"
#include "station/RefusedScan.h"
#include "platform/ProgramEnvironment.h"

namespace {
constexpr int kTerminatorLength = 2;
} // namespace

const QString BarcodeIntake::kWrongLength = QStringLiteral("条码长度不正确！");
const QString BarcodeIntake::kDuplicate = QStringLiteral("该内包条码重复！");
const QString BarcodeIntake::kControlCharacter = QStringLiteral("条码中含有控制字符！");

BarcodeIntake::BarcodeIntake(PackingState &state, Box &box, MessageBox &messages, BoxExport &boxExport)
    : m_state(state), m_box(box), m_messages(messages), m_export(boxExport)
{
}

void BarcodeIntake::receive(const QString &text, qint64 dropped)
{
    m_lastScanListed = false;
    if (text.size() != m_state.iInnerLen) {
        // Refused as a whole (a scanner that read one pack twice must not list it
        // twice), but named piece by piece so the operator knows what to scan again.
        operatorSounds().play(Sound::Refused);
        m_messages.show(kWrongLength + QLatin1Char('\n') + refused::wrongLengthDetails(text, m_state.iInnerLen, dropped));
        return;
    }
    // A tab or line break would split or bend the list row; a NUL would end the
    // text in other programs. None of them is part of a barcode.
    const QString barcode = text.left(std::max(0, m_state.iInnerLen - kTerminatorLength));
    if (const std::optional<qsizetype> at = refused::firstControlCharacter(barcode)) {
        operatorSounds().play(Sound::Refused);
        m_messages.show(kControlCharacter + QLatin1Char('\n') + refused::controlCharacterDetails(text, *at));
        return;
    }
    // A full box that could not be exported blocks the next one: no barcode may
    // land in a box that is already complete.
    if (m_box.exportPending())
        exportFullBox();

    m_state.buildLabels();
    if (m_box.iInnerCount() == 0) {
        appendOuterLabelRow();
        appendMiddleLabelRow();
        m_state.advanceOuter();
        m_state.advanceMiddle();
        m_box.numbersAdvanced(m_state.lMiddleNo, m_state.lOuterNo);
    }

    const int barcodeLength = m_state.iInnerLen - kTerminatorLength;
    if (barcodeLength < 0)
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Left"),
                           QStringLiteral("无效的过程调用：条码长度为 %1（Invalid procedure call）").arg(barcodeLength));

    const bool checking = sCfMode == QLatin1String("0");
    const bool inBox = checking && m_box.containsBarcode(barcode);
    const std::optional<DayIndex::Where> earlier = checking && m_dayIndex && !barcode.isEmpty()
                                                       ? dayIndexFor(program::now().date()).find(barcode)
                                                       : std::nullopt;
    m_box.appendPack(barcode);
    if (inBox || earlier) {
        operatorSounds().play(Sound::Refused);
        m_messages.show(earlier && !inBox
                            ? kDuplicate + QStringLiteral("\n已在外箱 %1（%2 第 %3 行）").arg(earlier->outerLabel, earlier->workbook).arg(earlier->row)
                            : kDuplicate);
        m_box.removeLastPack();
        return;
    }
    m_lastScanListed = true;

    if (checked::mod16(m_box.iInnerCount(), m_state.iPerMiddle) == 0 && m_box.iInnerCount() != m_state.iPerOuter) {
        m_state.buildLabels();
        appendMiddleLabelRow();
        m_state.advanceMiddle();
        m_box.numbersAdvanced(m_state.lMiddleNo, m_state.lOuterNo);
    }
    if (m_box.iInnerCount() == m_state.iPerOuter)
        exportFullBox();
}

void BarcodeIntake::exportIfFull()
{
    if (m_box.holdsPacks() && (m_box.exportPending() || m_box.iInnerCount() == m_state.iPerOuter))
        exportFullBox();
}

DayIndex &BarcodeIntake::dayIndexFor(const QDate &day)
{
    // Past midnight the index is of the new day.
    if (m_dayIndex->day() != day)
        m_dayIndex->load(program::folder(), day);
    return *m_dayIndex;
}

void BarcodeIntake::appendOuterLabelRow()
{
    m_box.appendOuterLabel(m_state.outerLabel());
}

void BarcodeIntake::appendMiddleLabelRow()
{
    m_box.appendMiddleLabel(m_state.middleLabel());
}

void BarcodeIntake::exportFullBox()
{
    m_box.setExportPending(true);
    ExportReceipt receipt = m_export.exportBox(m_box);
    receipt.outerLabel = m_box.outerLabel();
    if (m_dayIndex)
        dayIndexFor(receipt.at.date()).addBox(m_box, receipt);
    m_lastExport = receipt;
    try {
        m_box.empty(m_state.lMiddleNo, m_state.lOuterNo);
    } catch (const RuntimeError &e) {
        throw e.withPrefix(QStringLiteral("外箱 %1 已写入 %2，但当前外箱记录未能更新：").arg(receipt.outerLabel, receipt.workbook));
    }
    operatorSounds().play(Sound::BoxWritten);
    if (!receipt.notice.isEmpty())
        m_messages.show(receipt.notice);
}
