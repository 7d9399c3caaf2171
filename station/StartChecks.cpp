#include "station/StartChecks.h"

#include "core/RuntimeError.h"
#include "platform/DurableLogReader.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "platform/WorkbookReader.h"
#include "packing/Box.h"
#include "station/files/BoxSheet.h"
#include "station/ports/BoxExport.h"
#include "station/files/DayWorkbooks.h"
#include "station/ports/PlantHandoff.h"

#include <QDir>

namespace startchecks {

namespace {

const QString kNothingSaved = QStringLiteral("\n设置未保存，扫描窗口未打开。");

// A journal that cannot be read is kept under another name for whoever looks into it;
// "" when even that fails.
QString setAside(const QString &programFolder)
{
    return DurableLogReader::setAside(QDir(programFolder).filePath(BoxJournal::fileName()), program::now());
}

enum class Written { No, YesAndNoted, YesButNotNoted };

// A box whose export was under way when the station stopped may be in its workbook
// already: then it counts as written and the journal is emptied, before anything is asked.
Written alreadyWritten(const QString &programFolder, const BoxJournal::Saved &kept, BoxExport &boxExport,
                       PlantHandoff *plant, MessageBox &messages)
{
    if (!kept.exportPending || !kept.target)
        return Written::No;
    const QString label = kept.outerLabel();
    const QString where = dayworkbooks::shownName(kept.target->workbook);
    Box box;
    box.restore(kept.rows, false, kept.job, kept.target);
    try {
        if (!boxExport.holds(box, *kept.target))
            return Written::No;
    } catch (const RuntimeError &e) {
        messages.show(QStringLiteral("无法确认上次的外箱 %1 是否已写入 %2：%3").arg(label, where, e.description()));
        return Written::No;
    }
    if (plant) {
        // Handed over before the journal forgets it: a crash in between hands it over
        // again under the same id, and the record keeps it once.
        try {
            plant->handOver(box, ExportReceipt{label, kept.target->workbook, kept.target->firstRow, program::now(), {}});
        } catch (const RuntimeError &e) {
            messages.show(QStringLiteral("上次的外箱 %1 已在 %2 第 %3 行，但未能放入待上传记录：%4")
                              .arg(label, where).arg(kept.target->firstRow).arg(e.description())
                          + kNothingSaved);
            return Written::YesButNotNoted;
        }
    }
    try {
        BoxJournal(programFolder).startWith({}, false, kept.middleNo.value_or(1), kept.outerNo.value_or(1), {}, {}, kept.batch);
    } catch (const RuntimeError &e) {
        messages.show(QStringLiteral("上次的外箱 %1 已在 %2 第 %3 行，但当前外箱记录未能更新：%4\n请检查程序文件夹后再点击“开始”。")
                          .arg(label, where).arg(kept.target->firstRow).arg(e.description())
                      + kNothingSaved);
        return Written::YesButNotNoted;
    }
    messages.show(QStringLiteral("上次的外箱 %1 已写入 %2 第 %3 行，无需重新写入。").arg(label, where).arg(kept.target->firstRow));
    return Written::YesAndNoted;
}

// What 不继续 tells once the kept box is in a workbook of its own.
QString savedMessage(const QString &label, int16_t packs, const QString &path)
{
    return QStringLiteral("上次的外箱 %1 的 %2 个内包已保存到 %3。").arg(label).arg(packs).arg(dayworkbooks::shownName(path));
}

// 不继续 saves the box to a workbook of its own before the journal forgets it; a stop
// in between (a crash, a power cut) leaves it in both. Found there, it is not offered
// again: its packs would be packed twice. "" when no such workbook holds it.
QString savedAsUnfinished(const QString &programFolder, const BoxJournal::Saved &kept, BoxExport &boxExport)
{
    Box box;
    box.restore(kept.rows, false);
    for (const QString &path : dayworkbooks::unfinishedWorkbooks(programFolder)) {
        try {
            // The box's cells from row 2 on, and nothing below them: a box that is only
            // the start of the one saved there is another box.
            if (!boxExport.holds(box, ExportTarget{path, 2, {}}))
                continue;
            if (boxsheet::usedRows(workbook::readFirstSheetColumns(path, boxsheet::kColumns)) <= qsizetype(box.rowCount()) + 1)
                return path;
        } catch (const RuntimeError &) {
            // A workbook that cannot be read holds no box that could be offered back.
        }
    }
    return {};
}

} // namespace

QString openBoxRefusal(int16_t packsInBox, bool exportPending, int16_t perOuter, int32_t middleNo, int32_t outerNo)
{
    if (packsInBox <= 0)
        return {};
    // A box as full as its new size would never be completed; one already waiting for
    // its export goes out as it is.
    if (perOuter < packsInBox || (perOuter == packsInBox && !exportPending))
        return QStringLiteral("当前外箱已有 %1 个内包，“外箱包装数量”必须大于 %1，现为 %2。").arg(packsInBox).arg(perOuter)
               + kNothingSaved;
    if (middleNo == kLastNumber || outerNo == kLastNumber)
        return QStringLiteral("“中箱序号”为 %1、“外箱序号”为 %2：序号 %3 无法再增加，当前外箱将无法装完。")
                   .arg(middleNo).arg(outerNo).arg(kLastNumber)
               + kNothingSaved;
    return {};
}

KeptBox offerKeptBox(const QString &programFolder, int16_t perOuter, BoxExport &boxExport, PlantHandoff *plant,
                     MessageBox &messages)
{
    KeptBox result;
    std::optional<BoxJournal::Saved> kept;
    try {
        kept = BoxJournal::load(programFolder);
    } catch (const RuntimeError &e) {
        const QString aside = setAside(programFolder);
        if (aside.isEmpty()) {
            // Starting would write a new journal over the only record of those packs.
            messages.show(QStringLiteral("上次的外箱记录无法读取：%1\n该文件也无法改名保留。请将 %2 移到别处后再点击“开始”。")
                              .arg(e.description(), BoxJournal::fileName())
                          + kNothingSaved);
            result.goOn = false;
            return result;
        }
        messages.show(QStringLiteral("上次的外箱记录无法读取：%1\n该文件已改名为 %2 保留，请检查其中的内包是否需要重新扫描。")
                          .arg(e.description(), aside));
        return result;
    }
    if (!kept || !kept->holdsUnwrittenPacks())
        return result;

    const QString label = kept->outerLabel();
    const int16_t packs = kept->packs();
    switch (alreadyWritten(programFolder, *kept, boxExport, plant, messages)) {
    case Written::No:
        break;
    case Written::YesAndNoted:
        return result;
    case Written::YesButNotNoted:
        result.goOn = false;
        return result;
    }
    if (const QString saved = savedAsUnfinished(programFolder, *kept, boxExport); !saved.isEmpty()) {
        try {
            BoxJournal(programFolder).startWith({}, false, kept->middleNo.value_or(1), kept->outerNo.value_or(1), {}, {}, kept->batch);
        } catch (const RuntimeError &e) {
            messages.show(QStringLiteral("上次的外箱 %1 的 %2 个内包已保存在 %3，但当前外箱记录未能更新：%4\n请检查程序文件夹后再点击“开始”。")
                              .arg(label).arg(packs).arg(dayworkbooks::shownName(saved), e.description())
                          + kNothingSaved);
            result.goOn = false;
            return result;
        }
        messages.show(savedMessage(label, packs, saved));
        return result;
    }
    const int answer = messages.ask(QStringLiteral("上次的外箱 %1 还有 %2 个内包没有写入工作簿。继续装这一箱吗？").arg(label).arg(packs),
                                    {QStringLiteral("继续"), QStringLiteral("不继续")}, 0);
    if (answer == 0) {
        // A box with its own job is measured by it; the size typed now does not count.
        if (!kept->job && perOuter < packs) {
            messages.show(QStringLiteral("上次的外箱 %1 已有 %2 个内包，“外箱包装数量”不能小于 %2，现为 %3。").arg(label).arg(packs).arg(perOuter)
                          + kNothingSaved);
            result.goOn = false;
            return result;
        }
        result.box = kept;
        return result;
    }

    // Not continued: its packs go to a workbook of their own, never nowhere.
    Box box;
    box.restore(kept->rows, false);
    try {
        const QString path = boxExport.keepUnfinished(box);
        messages.show(savedMessage(label, packs, path));
    } catch (const RuntimeError &e) {
        messages.show(QStringLiteral("上次的外箱 %1 未能保存：%2\n它仍保留在记录中，下次点击“开始”时会再次询问。").arg(label, e.description())
                      + kNothingSaved);
        result.goOn = false;
    }
    return result;
}

KeptBox beforeStart(const QString &programFolder, const StartRequest &request, BoxExport &boxExport, PlantHandoff *plant,
                    MessageBox &messages)
{
    KeptBox kept;
    if (const Box *open = request.openBox) {
        const QString why = openBoxRefusal(open->iInnerCount(), open->exportPending(), request.perOuter, request.middleNo, request.outerNo);
        if (!why.isEmpty()) {
            messages.show(why);
            kept.goOn = false;
            return kept;
        }
    } else {
        kept = offerKeptBox(programFolder, request.perOuter, boxExport, plant, messages);
        if (!kept.goOn)
            return kept;
    }
    if (!kept.box) {
        const QString openLabel = request.openBox ? request.openBox->outerLabel() : QString();
        if (!request.sscc) {
            kept.goOn = confirmOuterLabel(programFolder, request.nextOuterLabel, openLabel, messages);
        } else if (const QString used = ssccUse(programFolder, request.nextOuterLabel, openLabel, plant); !used.isEmpty()) {
            // Two boxes with one SSCC are two shipments no receiver can tell apart: never asked.
            messages.show(QStringLiteral("SSCC %1 已经用过（%2），不能再用于另一箱。\n请修改“外箱序号”后再点击“开始”。")
                              .arg(request.nextOuterLabel, used)
                          + kNothingSaved);
            kept.goOn = false;
        }
    }
    return kept;
}

QString ssccUse(const QString &programFolder, const QString &sscc, const QString &openBoxLabel, PlantHandoff *plant)
{
    if (!openBoxLabel.isEmpty() && sscc == openBoxLabel)
        return QStringLiteral("正在装的这一箱");
    if (const std::optional<dayworkbooks::Use> use = dayworkbooks::findOuterLabelOnAnyDay(programFolder, sscc))
        return QStringLiteral("%1 第 %2 行").arg(use->workbook).arg(use->row);
    if (plant) {
        if (const std::optional<QString> recorded = plant->recordedUse(sscc))
            return QStringLiteral("中央记录：") + *recorded;
    }
    return {};
}

bool confirmOuterLabel(const QString &programFolder, const QString &label, const QString &openBoxLabel,
                       MessageBox &messages)
{
    QString question;
    if (!openBoxLabel.isEmpty() && label == openBoxLabel) {
        question = QStringLiteral("外箱号 %1 是正在装的这一箱的箱号。仍然从 %1 开始下一箱吗？").arg(label);
    } else if (const std::optional<dayworkbooks::Use> use =
                   dayworkbooks::findOuterLabel(programFolder, program::now().date(), label)) {
        question = QStringLiteral("外箱号 %1 今天已经用过（%2 第 %3 行）。仍然从 %1 开始吗？").arg(label, use->workbook).arg(use->row);
    } else {
        return true;
    }
    return messages.ask(question, {QStringLiteral("是"), QStringLiteral("否")}, 1) == 0;
}

} // namespace startchecks
