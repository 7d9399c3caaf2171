#include "station/BarcodeIntake.h"

#include "station/ports/LabelHandoff.h"

#include "core/Checked.h"
#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/Sound.h"
#include "station/files/DayIndex.h"
#include "packing/Gs1Rules.h"
#include "station/ports/PlantHandoff.h"
#include "station/files/RefusalRecord.h"
#include "station/files/RefusedScan.h"
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
const QString BarcodeIntake::kNotOneScan = QStringLiteral("收到的不是一次完整的扫描！");
const QString BarcodeIntake::kLocked = QStringLiteral("已锁定，请先登录。");
const QString BarcodeIntake::kBatchHeld = QStringLiteral("本批次已暂停。");
const QString BarcodeIntake::kBatchEnded = QStringLiteral("本批次已结束。");
const QString BarcodeIntake::kEndOfLot = QStringLiteral("\n本批最后一箱请按 F8 封箱。");
const QString BarcodeIntake::kNothingToClose = QStringLiteral("当前外箱中还没有内包，无需封箱。");

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
    // Nobody is logged in at a locked window: the scan is refused, on record, never listed.
    if (m_locked) {
        refuse(kLocked, QStringLiteral("收到：%1\n该内包没有装箱；登录后请重新扫描。").arg(refused::readable(text)), text);
        return;
    }
    if (const std::optional<Pack> pack = m_gs1 ? gs1PackOf(text, dropped) : packOf(text, dropped))
        take(text, *pack);
}

std::optional<Pack> BarcodeIntake::packOf(const QString &text, qint64 dropped)
{
    // Counted in characters as decoded: one beyond the Basic Multilingual Plane is one.
    const QList<uint> characters = text.toUcs4();
    if (characters.size() != m_state.iInnerLen) {
        // Refused as a whole (a scanner that read one pack twice must not list it
        // twice), but named piece by piece so the operator knows what to scan again.
        const Recorded recorded = recordRefusal(kWrongLength, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kWrongLength + QLatin1Char('\n')
                        + refused::wrongLengthDetails(text, m_state.iInnerLen, dropped, recorded.file) + recorded.problem);
        return std::nullopt;
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
        return std::nullopt;
    }
    return Pack(barcode);
}

std::optional<Pack> BarcodeIntake::gs1PackOf(const QString &text, qint64 dropped)
{
    // One scan, ended by CR LF: GS1 scans have no fixed length, but what one read
    // holds is still all or nothing.
    static const QString kCrLf = QStringLiteral("\r\n");
    if (!text.endsWith(kCrLf) || text.count(kCrLf) != 1) {
        const Recorded recorded = recordRefusal(kNotOneScan, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kNotOneScan + QLatin1Char('\n') + refused::wrongLengthDetails(text, 0, dropped, recorded.file)
                        + recorded.problem);
        return std::nullopt;
    }
    const QString barcode = text.chopped(kTerminatorLength);
    // GS separates fields; every other control character is a misread.
    if (const std::optional<qsizetype> at = refused::firstControlCharacter(barcode, gs1::kGroupSeparator)) {
        const Recorded recorded = recordRefusal(kControlCharacter, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kControlCharacter + QLatin1Char('\n') + refused::controlCharacterDetails(text, *at) + recorded.problem);
        return std::nullopt;
    }
    const gs1::ScanRead read = gs1::readScan(barcode, m_clock().date());
    if (!read.read) {
        refuse(read.why, QStringLiteral("收到：%1\n该条码没有记录，请重新扫描该内包。").arg(refused::readable(barcode)), text);
        return std::nullopt;
    }
    return gs1rules::packOf(*read.read);
}

gs1rules::PackRefusal BarcodeIntake::gs1Refusal(const Pack &pack) const
{
    std::optional<gs1rules::BoxKind> kind;
    if (!m_box.exportPending())
        kind = gs1rules::kindOfBox(m_box.rows());
    return gs1rules::check(pack, kind, m_clock().date(), m_shelfDays);
}

void BarcodeIntake::refuse(const QString &reason, const QString &details, const QString &text)
{
    const Recorded recorded = recordRefusal(reason, text);
    m_sounds.play(Sound::Refused);
    m_messages.show(reason + QLatin1Char('\n') + details + recorded.problem);
}

void BarcodeIntake::take(const QString &text, const Pack &pack)
{
    // A full box that could not be exported blocks the next one: no barcode may
    // land in a box that is already complete.
    if (m_box.exportPending())
        exportFullBox();

    // A new box whose SSCC would not fit its digits would repeat another box's SSCC
    // or carry a wrong check digit: it is never opened.
    if (m_box.iInnerCount() == 0 && !m_state.ssccProblem(m_state.lOuterNo).isEmpty()) {
        refuse(kSsccUsedUp,
               QStringLiteral("前缀 %1 只留 %2 位序号，外箱序号 %3 放不下。这个内包没有装箱；请在设置窗口换用新的外箱前缀或序号。")
                   .arg(m_state.sOuterPrefix)
                   .arg(17 - m_state.sOuterPrefix.size())
                   .arg(m_state.lOuterNo),
               text);
        return;
    }
    // A batch the record held or ended takes no pack, whatever its kind; a GS1 pack must
    // be of the batch's product, lot and expiry, the first of a box as every other.
    if (const std::optional<Batch> &batch = m_state.batch) {
        if (!batch->takesPacks()) {
            refuse(batch->state == Batch::State::Held ? kBatchHeld : kBatchEnded,
                   QStringLiteral("批次 %1\n该内包没有装箱。").arg(batch->number), text);
            return;
        }
        if (pack.isGs1())
            if (const gs1rules::PackRefusal why = gs1rules::checkBatch(pack, *batch, m_clock().date()); why.fault != gs1rules::PackFault::None) {
                refuse(gs1rules::describe(why), QStringLiteral("此包：%1\n该内包没有装箱。").arg(pack.text()), text);
                return;
            }
    }
    if (pack.isGs1()) {
        if (const gs1rules::PackRefusal why = gs1Refusal(pack); why.fault != gs1rules::PackFault::None) {
            refuse(gs1rules::describe(why),
                   QStringLiteral("此包：%1\n该内包没有装箱。").arg(pack.text()) + (gs1rules::isOtherKind(why.fault) ? kEndOfLot : QString()), text);
            return;
        }
    }
    // Everything the scan does is worked out first and made in one step: a refusal
    // or a failure on the way (an overflow) leaves the box and the numbers as they were.
    if (const std::optional<DuplicateAt> repeat = findRepeat(pack)) {
        QString where;
        if (repeat->earlier)
            where = QStringLiteral("已在外箱 %1（%2 第 %3 行）").arg(repeat->earlier->outerLabel, repeat->earlier->workbook).arg(repeat->earlier->row);
        else if (repeat->plant)
            where = QStringLiteral("已在 %1 的外箱 %2（%3 写入）").arg(repeat->plant->station, repeat->plant->outerLabel, repeat->plant->writtenAt);
        const Recorded recorded = recordRefusal(kDuplicate, text);
        m_sounds.play(Sound::Refused);
        m_messages.show(kDuplicate + (where.isEmpty() ? QString() : QLatin1Char('\n') + where) + recorded.problem);
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

void BarcodeIntake::closeShortBox()
{
    if (m_box.exportPending()) {
        exportFullBox(); // closed already, or full: it waits for its export only
        return;
    }
    if (!m_box.holdsPacks()) {
        m_messages.show(kNothingToClose);
        return;
    }
    const int perOuter = m_box.capacity() == INT16_MAX ? m_state.iPerOuter : m_box.capacity();
    const int answer = m_messages.ask(QStringLiteral("外箱 %1 只有 %2 个内包（每箱 %3 个）。现在封箱并写入工作簿吗？")
                                          .arg(m_box.outerLabel()).arg(m_box.iInnerCount()).arg(perOuter),
                                      {QStringLiteral("封箱"), QStringLiteral("不封箱")}, 1);
    if (answer != 0)
        return;
    // The next middle box, begun when the last one filled, has no pack: its label is
    // taken back, and its number with it when it is the last one given out.
    RunningNumbers numbers{m_state.lMiddleNo, m_state.lOuterNo};
    if (m_box.endsWithEmptyMiddle()) {
        PackingState labels = m_state;
        if (m_box.job())
            labels.takeJob(*m_box.job());
        if (numbers.middleNo > INT32_MIN && m_box.rows().back().text == labels.middleLabelFor(numbers.middleNo - 1))
            numbers.middleNo -= 1;
    }
    const bool middleUnfilled = !m_box.endsWithEmptyMiddle() && m_state.iPerMiddle > 0
                                && m_box.iInnerCount() % m_state.iPerMiddle != 0;
    m_box.closeShort(numbers);
    m_state.lMiddleNo = numbers.middleNo;
    m_state.buildLabels();
    // The short middle box's label is printed now, with its real count.
    if (m_labels && middleUnfilled)
        m_labels->middleFilled(m_box, middleOfLastPack());
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
    // On record: the reason's first line, without its exclamation mark.
    QString said = reason.section(QLatin1Char('\n'), 0, 0);
    if (said.endsWith(QStringLiteral("！")))
        said.chop(1);
    const QString why = refusalrecord::record(m_refusalFolder, at, said, text, bytes, m_onDuty);
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
        labels.takeJob(*m_box.job());
    if (packsBefore == 0) {
        // A new outer box: its label, its first middle label and the job it is packed by.
        change.rows.push_back({BoxRow::OuterLabel, labels.outerLabelFor(numbers.outerNo)});
        change.rows.push_back({BoxRow::MiddleLabel, labels.middleLabelFor(numbers.middleNo)});
        numbers.outerNo = checked::add32(numbers.outerNo, 1);
        numbers.middleNo = checked::add32(numbers.middleNo, 1);
        change.job = m_state.job();
    }
    change.rows.push_back(BoxRow::of(pack));
    const int16_t packs = checked::add16(packsBefore, 1);
    // The next middle box begins here, unless the outer box is full.
    if (checked::mod16(packs, m_state.iPerMiddle) == 0 && packs != m_state.iPerOuter) {
        change.rows.push_back({BoxRow::MiddleLabel, labels.middleLabelFor(numbers.middleNo)});
        numbers.middleNo = checked::add32(numbers.middleNo, 1);
    }
    change.numbers = numbers;
    if (!m_onDuty.isEmpty() && !m_box.operators().contains(m_onDuty))
        change.operatorId = m_onDuty;
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
