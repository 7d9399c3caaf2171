#include "station/BarcodeIntake.h"

#include "station/LabelHandoff.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/Sound.h"
#include "station/DayIndex.h"
#include "station/PlantHandoff.h"
#include "station/RefusalRecord.h"
#include "station/RefusedScan.h"
#include "platform/ProgramEnvironment.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringDecoder>
#include <chrono>
#include <thread>

namespace {
constexpr int kTerminatorLength = 2;
} // namespace

const QString BarcodeIntake::kWrongLength = QStringLiteral("条码长度不正确！");
const QString BarcodeIntake::kDuplicate = QStringLiteral("该内包条码重复！");
const QString BarcodeIntake::kControlCharacter = QStringLiteral("条码中含有控制字符！");
const QString BarcodeIntake::kUndecodable = QStringLiteral("条码中含有无法识别的字节！");
const QString BarcodeIntake::kHandlingFailed = QStringLiteral("扫描处理失败！");
const QString BarcodeIntake::kDiscarded = QStringLiteral("串口打开前收到的数据已丢弃！");
const QString BarcodeIntake::kSsccUsedUp = QStringLiteral("外箱序号已用完！");

BarcodeIntake::BarcodeIntake(PackingState &state, Box &box, MessageBox &messages, BoxExport &boxExport,
                             SoundPlayer &sounds, std::function<QDateTime()> clock)
    : m_state(state), m_box(box), m_messages(messages), m_export(boxExport), m_sounds(sounds), m_clock(std::move(clock))
{
}

void BarcodeIntake::receiveBytes(const QByteArray &bytes, qint64 dropped)
{
    QStringDecoder decoder(m_encoding.constData(), QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (!decoder.hasError()) {
        receive(text, dropped);
        return;
    }
    // A misread, line noise or a scanner set to another code page: nothing of it is listed.
    m_lastScanListed = false;
    const Recorded recorded = recordRefusal(kUndecodable, QString::fromLatin1(bytes), true);
    m_sounds.play(Sound::Refused);
    m_messages.show(kUndecodable + QLatin1Char('\n')
                    + QStringLiteral("扫描枪发来的 %1 个字节不是 %2 编码的文字：%3\n本次扫描没有记录，请重新扫描该内包；"
                                     "若每次都这样，请检查 config.ini 中的 [com] encoding。")
                          .arg(bytes.size()).arg(QString::fromLatin1(m_encoding), refused::shownBytes(bytes))
                    + recorded.problem);
}

void BarcodeIntake::receive(const QString &text, qint64 dropped)
{
    m_lastScanListed = false;
    // Counted in characters as decoded: one beyond the Basic Multilingual Plane is one.
    const QList<uint> characters = text.toUcs4();
    if (characters.size() != m_state.iInnerLen) {
        // Refused as a whole (a scanner that read one pack twice must not list it
        // twice), but named piece by piece so the operator knows what to scan again.
        const Recorded recorded = recordRefusal(kWrongLength, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kWrongLength + QLatin1Char('\n')
                        + refused::wrongLengthDetails(text, m_state.iInnerLen, dropped, recorded.file) + recorded.problem);
        return;
    }
    const int barcodeLength = m_state.iInnerLen - kTerminatorLength;
    if (barcodeLength < 0)
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("Left"),
                           QStringLiteral("无效的过程调用：条码长度为 %1（Invalid procedure call）").arg(barcodeLength));
    // A tab or line break would split or bend the list row; a NUL would end the
    // text in other programs. None of them is part of a barcode.
    const QString barcode = QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()), barcodeLength);
    if (const std::optional<qsizetype> at = refused::firstControlCharacter(barcode)) {
        const Recorded recorded = recordRefusal(kControlCharacter, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kControlCharacter + QLatin1Char('\n') + refused::controlCharacterDetails(text, *at) + recorded.problem);
        return;
    }
    // A full box that could not be exported blocks the next one: no barcode may
    // land in a box that is already complete.
    if (m_box.exportPending())
        exportFullBox();

    // A new box whose SSCC would not fit its digits would repeat another box's SSCC
    // or carry a wrong check digit: it is never opened.
    if (m_box.iInnerCount() == 0 && !m_state.ssccProblem(m_state.lOuterNo).isEmpty()) {
        const Recorded recorded = recordRefusal(kSsccUsedUp, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(QStringLiteral("%1\n前缀 %2 只留 %3 位序号，外箱序号 %4 放不下。"
                                       "这个内包没有装箱；请在设置窗口换用新的外箱前缀或序号。")
                            .arg(kSsccUsedUp, m_state.sOuterPrefix)
                            .arg(17 - m_state.sOuterPrefix.size())
                            .arg(m_state.lOuterNo)
                        + recorded.problem);
        return;
    }
    // Everything the scan does is worked out first and made in one step: a refusal
    // or a failure on the way (an overflow) leaves the box and the numbers as they were.
    const Pack pack(barcode);
    if (const std::optional<DuplicateAt> repeat = findRepeat(pack)) {
        const Recorded recorded = recordRefusal(kDuplicate, text);
        m_sounds.play(Sound::Refused);
        QString where;
        if (repeat->earlier)
            where = QStringLiteral("\n已在外箱 %1（%2 第 %3 行）").arg(repeat->earlier->outerLabel, repeat->earlier->workbook).arg(repeat->earlier->row);
        else if (repeat->plant)
            where = QStringLiteral("\n已在 %1 的外箱 %2（%3 写入）").arg(repeat->plant->station, repeat->plant->outerLabel, repeat->plant->writtenAt);
        m_messages.show(kDuplicate + where + recorded.problem);
        return;
    }
    const BoxChange change = changeFor(pack);
    m_box.apply(change);
    m_state.lMiddleNo = change.numbers->middleNo;
    m_state.lOuterNo = change.numbers->outerNo;
    m_state.buildLabels();
    m_lastScanListed = true;
    if (m_labels && m_state.iPerMiddle > 0
        && (m_box.iInnerCount() % m_state.iPerMiddle == 0 || m_box.iInnerCount() == m_state.iPerOuter))
        m_labels->middleFilled(m_box, middleOfLastPack());
    if (m_box.iInnerCount() == m_state.iPerOuter)
        exportFullBox();
}

QString BarcodeIntake::middleOfLastPack() const
{
    const std::vector<BoxRow> &rows = m_box.rows();
    bool packSeen = false;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        packSeen = packSeen || row->kind == BoxRow::Pack;
        if (packSeen && row->kind == BoxRow::MiddleLabel)
            return row->text;
    }
    return {};
}

BarcodeIntake::Recorded BarcodeIntake::recordRefusal(const QString &reason, const QString &text, bool bytes)
{
    Recorded recorded;
    if (m_refusalFolder.isEmpty())
        return recorded;
    const QDateTime at = m_clock();
    const QString why = refusalrecord::record(m_refusalFolder, at, reason.chopped(1), text, bytes);
    if (why.isEmpty())
        recorded.file = QStringLiteral("files/") + refusalrecord::fileName(at.date());
    else
        recorded.problem = QStringLiteral("\n（拒收记录未能写入：%1）").arg(why);
    return recorded;
}

std::optional<BarcodeIntake::DuplicateAt> BarcodeIntake::findRepeat(const Pack &pack)
{
    if (sCfMode != QLatin1String("0"))
        return std::nullopt;
    if (m_box.contains(pack))
        return DuplicateAt{};
    if (m_dayIndex && !pack.isEmpty())
        if (const std::optional<DayIndex::Where> earlier = dayIndexFor(m_clock().date()).find(pack))
            return DuplicateAt{*earlier, {}};
    if (m_plantCheck && !pack.isEmpty())
        if (std::optional<DuplicateQuestion::Where> elsewhere = askPlant(pack))
            return DuplicateAt{{}, std::move(elsewhere)};
    return std::nullopt;
}

std::optional<DuplicateQuestion::Where> BarcodeIntake::askPlant(const Pack &pack)
{
    const uint64_t ticket = m_plantCheck->ask(pack);
    QElapsedTimer waited;
    waited.start();
    std::optional<DuplicateQuestion::Answer> answer = m_plantCheck->answer(ticket);
    while (!answer && waited.elapsed() < m_plantBudgetMs) {
        if (m_pause)
            m_pause(1);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        answer = m_plantCheck->answer(ticket);
    }
    // Too late, or not reached: what was checked here stands, and the panel says so.
    m_plantCheck->noteInTime(answer && answer->reached);
    return answer && answer->reached ? answer->found : std::nullopt;
}

BoxChange BarcodeIntake::changeFor(const Pack &pack) const
{
    BoxChange change;
    RunningNumbers numbers{m_state.lMiddleNo, m_state.lOuterNo};
    const int16_t packsBefore = m_box.iInnerCount();
    // An open box is labelled by its own job (a box taken up again keeps its digit
    // counts); a new one by the job as Start set it.
    PackingState labels = m_state;
    if (packsBefore > 0 && m_box.job())
        m_box.job()->applyTo(labels);
    if (packsBefore == 0) {
        // A new outer box: its label, its first middle label and the job it is packed by.
        change.rows.push_back({BoxRow::OuterLabel, labels.outerLabelFor(numbers.outerNo)});
        change.rows.push_back({BoxRow::MiddleLabel, labels.middleLabelFor(numbers.middleNo)});
        numbers.outerNo = checked::add32(numbers.outerNo, 1);
        numbers.middleNo = checked::add32(numbers.middleNo, 1);
        change.job = PackingJob::of(m_state);
    }
    change.rows.push_back(BoxRow::of(pack));
    const int16_t packs = checked::add16(packsBefore, 1);
    // The next middle box begins here, unless the outer box is full.
    if (checked::mod16(packs, m_state.iPerMiddle) == 0 && packs != m_state.iPerOuter) {
        change.rows.push_back({BoxRow::MiddleLabel, labels.middleLabelFor(numbers.middleNo)});
        numbers.middleNo = checked::add32(numbers.middleNo, 1);
    }
    change.numbers = numbers;
    return change;
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
        m_dayIndex->load(m_dayIndex->programFolder(), day);
    return *m_dayIndex;
}

void BarcodeIntake::exportFullBox()
{
    m_box.setExportPending(true);
    ExportReceipt receipt;
    const std::optional<ExportTarget> &target = m_box.exportTarget();
    if (target && m_export.holds(m_box, *target)) {
        // An earlier export got the box into the workbook before it could be noted.
        receipt.workbook = target->workbook;
        receipt.firstRow = target->firstRow;
        receipt.at = m_clock();
    } else {
        receipt = m_export.exportBox(m_box, [this](const ExportTarget &to) {
            m_box.setExportTarget(to);
            if (m_plant)
                m_plant->expect(QFileInfo(to.workbook).fileName(), to.firstRow);
        });
    }
    receipt.outerLabel = m_box.outerLabel();
    if (m_plant) {
        try {
            m_plant->handOver(m_box, receipt);
        } catch (const RuntimeError &e) {
            // The box stays listed and pending: the next scan finds it in the workbook and hands it over again.
            throw e.withPrefix(QStringLiteral("外箱 %1 已写入 %2，但未能放入待上传记录：").arg(receipt.outerLabel, receipt.workbook));
        }
    }
    if (m_labels)
        m_labels->boxWritten(m_box, receipt);
    if (m_dayIndex)
        dayIndexFor(receipt.at.date()).addBox(m_box, receipt);
    m_lastExport = receipt;
    try {
        m_box.empty(m_state.lMiddleNo, m_state.lOuterNo);
    } catch (const RuntimeError &e) {
        throw e.withPrefix(QStringLiteral("外箱 %1 已写入 %2，但当前外箱记录未能更新：").arg(receipt.outerLabel, receipt.workbook));
    }
    m_sounds.play(Sound::BoxWritten);
    if (!receipt.notice.isEmpty())
        m_messages.show(receipt.notice);
}
