#include "station/BarcodeIntake.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/RecordGrid.h"
#include "station/BoxExport.h"
#include "station/RefusedScan.h"

namespace {
const QChar kTab = QLatin1Char('\t');
constexpr int kTerminatorLength = 2;
constexpr int kBarcodeColumn = 2;
constexpr int kRowHeightTwips = 360;
} // namespace

const QString BarcodeIntake::kWrongLength = QStringLiteral("条码长度不正确！");
const QString BarcodeIntake::kDuplicate = QStringLiteral("该内包条码重复！");
const QString BarcodeIntake::kControlCharacter = QStringLiteral("条码中含有控制字符！");

BarcodeIntake::BarcodeIntake(PackingState &state, RecordGrid &grid, MessageBox &messages,
                             BoxExport &boxExport)
    : m_state(state), m_grid(grid), m_messages(messages), m_export(boxExport)
{
}

void BarcodeIntake::receive(const QString &text, qint64 dropped)
{
    m_lastScanListed = false;
    if (text.size() != m_state.iInnerLen) {
        // Refused as a whole (a scanner that read one pack twice must not list it
        // twice), but named piece by piece so the operator knows what to scan again.
        m_messages.show(kWrongLength + QLatin1Char('\n') + refused::wrongLengthDetails(text, m_state.iInnerLen, dropped));
        return;
    }
    // A tab or line break would split or bend the list row; a NUL would end the
    // text in other programs. None of them is part of a barcode.
    const QString barcodePart = text.left(std::max(0, m_state.iInnerLen - kTerminatorLength));
    if (const std::optional<qsizetype> at = refused::firstControlCharacter(barcodePart)) {
        m_messages.show(kControlCharacter + QLatin1Char('\n') + refused::controlCharacterDetails(text, *at));
        return;
    }
    // A full box that could not be exported blocks the next one: no barcode may
    // land in a box that is already complete.
    if (m_exportPending)
        exportFullBox();

    m_state.buildLabels();
    if (iInnerCount == 0) {
        appendOuterLabelRow();
        appendMiddleLabelRow();
        m_state.advanceOuter();
        m_state.advanceMiddle();
    }

    const int barcodeLength = m_state.iInnerLen - kTerminatorLength;
    if (barcodeLength < 0)
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Left"),
                           QStringLiteral("无效的过程调用：条码长度为 %1（Invalid procedure call）").arg(barcodeLength));
    const QString barcode = text.left(barcodeLength);

    iInnerCount = checked::add16(iInnerCount, 1);
    m_grid.appendRow(QString(kTab) + kTab + barcode);
    m_grid.setAllRowsHeight(kRowHeightTwips);

    if (sCfMode == QLatin1String("0") && repeatsEarlierBarcode(barcode)) {
        m_messages.show(kDuplicate);
        m_grid.removeRow(m_grid.rowCount() - 1);
        iInnerCount = checked::sub16(iInnerCount, 1);
        return;
    }
    m_lastScanListed = true;

    if (checked::mod16(iInnerCount, m_state.iPerMiddle) == 0 && iInnerCount != m_state.iPerOuter) {
        m_state.buildLabels();
        appendMiddleLabelRow();
        m_state.advanceMiddle();
    }
    if (iInnerCount == m_state.iPerOuter)
        exportFullBox();
}

void BarcodeIntake::emptyBox()
{
    m_grid.clear();
    m_grid.setRowCount(0);
    iInnerCount = 0;
    m_exportPending = false;
}

void BarcodeIntake::appendOuterLabelRow()
{
    m_grid.appendRow(m_state.outerLabel() + kTab + kTab);
}

void BarcodeIntake::appendMiddleLabelRow()
{
    m_grid.appendRow(QString(kTab) + m_state.middleLabel() + kTab);
}

// Every barcode already in the box passed this test, so only the new one (the
// last row) can repeat an earlier row; an empty barcode never counts.
bool BarcodeIntake::repeatsEarlierBarcode(const QString &barcode) const
{
    if (barcode.isEmpty())
        return false;
    const int32_t last = m_grid.rowCount() - 1;
    for (int32_t row = 0; row < last; ++row) {
        if (m_grid.cellText(row, kBarcodeColumn) == barcode)
            return true;
    }
    return false;
}

void BarcodeIntake::exportFullBox()
{
    m_exportPending = true;
    m_export.exportBox(m_grid);
    emptyBox();
}
