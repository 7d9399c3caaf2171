#include "station/StartRules.h"

#include "core/RuntimeError.h"
#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "settings/ConfigFile.h"
#include "settings/StationSettings.h"
#include "settings/modINI.h"
#include "packing/Box.h"
#include "station/ports/LabelHandoff.h"

namespace startrules {

namespace {

const QString kNothingSaved = QStringLiteral("\n设置未保存，扫描窗口未打开。");

// What a capacity field holds after rounding, when it lies in 1..32767.
std::optional<int16_t> capacity(const QString &text)
{
    const std::optional<int64_t> whole = textnum::tryWhole(text);
    if (!whole || *whole < 1 || *whole > 32767)
        return std::nullopt;
    return int16_t(*whole);
}

// Why Start must not go on, or "" when it may. Only fields Start would copy are judged.
QString fieldRefusal(const Fields &f)
{
    if (!capacity(f.perMiddle))
        return QStringLiteral("“中箱包装数量”必须在 1 到 32767 之间，现为“%1”。").arg(f.perMiddle) + kNothingSaved;
    if (!textnum::isNumeric(f.perOuter))
        return {};
    if (!capacity(f.perOuter))
        return QStringLiteral("“外箱包装数量”必须在 1 到 32767 之间，现为“%1”。").arg(f.perOuter) + kNothingSaved;
    if (!textnum::tryInt32(f.middleNo))
        return QStringLiteral("“中箱序号”%1，现为“%2”。").arg(textnum::rangeRule(f.middleNo, INT32_MIN, INT32_MAX), f.middleNo) + kNothingSaved;
    if (!textnum::tryInt32(f.outerNo))
        return QStringLiteral("“外箱序号”%1，现为“%2”。").arg(textnum::rangeRule(f.outerNo, INT32_MIN, INT32_MAX), f.outerNo) + kNothingSaved;
    return {};
}

// Why labels of the job these fields make cannot be made or printed; "" when they can.
QString labelRefusal(const PackingState &current, const Fields &f, const Verdict &v, const LabelHandoff *labels)
{
    // The job as Start would set it, judged before anything is copied.
    PackingState job = current;
    fieldsInto(job, f, v);
    if (const QString why = job.ssccProblem(v.outerNo); !why.isEmpty())
        return why;
    if (labels)
        if (const QString why = labels->misfit(job); !why.isEmpty())
            return QStringLiteral("标签放不下：%1。请改大 config.ini 的 [print] size 或缩短标签内容。").arg(why);
    return {};
}

} // namespace

Verdict judge(const Fields &f, const PackingState &current, const LabelHandoff *labels)
{
    Verdict v;
    if (!textnum::isNumeric(f.perMiddle))
        return v;
    if (const QString why = fieldRefusal(f); !why.isEmpty())
        return {Verdict::Refused, why};
    if (!textnum::isNumeric(f.perOuter))
        return {Verdict::MiddleSizeOnly, {}};
    v.perOuter = textnum::toInt16(f.perOuter);
    v.middleNo = textnum::toInt32(f.middleNo);
    v.outerNo = textnum::toInt32(f.outerNo);
    if (const QString why = labelRefusal(current, f, v, labels); !why.isEmpty())
        return {Verdict::Refused, why + kNothingSaved};
    v.kind = Verdict::Job;
    return v;
}

void fieldsInto(PackingState &state, const Fields &f, const Verdict &job)
{
    state.iPerMiddle = textnum::toInt16(f.perMiddle);
    state.iPerOuter = job.perOuter;
    state.sMiddlePrefix = f.middlePrefix;
    state.sMiddleSuffix = f.middleSuffix;
    state.sOuterPrefix = f.outerPrefix;
    state.sOuterSuffix = f.outerSuffix;
    state.lMiddleNo = job.middleNo;
    state.lOuterNo = job.outerNo;
}

TakenUp takeUpJob(PackingState &state, const PackingJob &job, const Fields &typedFields, const QString &outerLabel)
{
    const PackingJob typed = state.job();
    state.takeJob(job);
    // The box's own digit counts label that box only (its job carries them); the run
    // goes on with its own, and Start saves what was typed.
    state.iMiddleDigits = typed.iMiddleDigits;
    state.iOuterDigits = typed.iOuterDigits;
    TakenUp out{typedFields, {}};
    struct Field
    {
        QString *shown;
        QString caption;
        QString kept;
        QString typed;
    };
    const QList<Field> fields = {
        {&out.fields.perMiddle, QStringLiteral("中箱包装数量"), QString::number(job.iPerMiddle), QString::number(typed.iPerMiddle)},
        {&out.fields.perOuter, QStringLiteral("外箱包装数量"), QString::number(job.iPerOuter), QString::number(typed.iPerOuter)},
        {&out.fields.middlePrefix, QStringLiteral("中箱前缀"), job.sMiddlePrefix, typed.sMiddlePrefix},
        {&out.fields.middleSuffix, QStringLiteral("中箱后缀"), job.sMiddleSuffix, typed.sMiddleSuffix},
        {&out.fields.outerPrefix, QStringLiteral("外箱前缀"), job.sOuterPrefix, typed.sOuterPrefix},
        {&out.fields.outerSuffix, QStringLiteral("外箱后缀"), job.sOuterSuffix, typed.sOuterSuffix},
    };
    QStringList changed;
    for (const Field &field : fields) {
        if (field.kept != field.typed)
            changed << QStringLiteral("%1：“%2”（输入的是“%3”）").arg(field.caption, field.kept, field.typed);
        *field.shown = field.kept;
    }
    // The digit counts stay as typed; the box is labelled by its own.
    const struct
    {
        QString caption;
        int16_t kept;
        QString typed;
    } digits[] = {
        {QStringLiteral("中箱序号长度"), job.iMiddleDigits, typedFields.middleDigits},
        {QStringLiteral("外箱序号长度"), job.iOuterDigits, typedFields.outerDigits},
    };
    for (const auto &d : digits)
        if (textnum::tryInt16(d.typed) != std::optional<int16_t>(d.kept))
            changed << QStringLiteral("%1：这一箱按“%2”，输入的“%3”照常保存").arg(d.caption, QString::number(d.kept), d.typed);
    if (!changed.isEmpty())
        out.message = QStringLiteral("外箱 %1 按它开始时的设置继续装，以下各栏已改回：\n%2").arg(outerLabel, changed.join(QLatin1Char('\n')));
    return out;
}

void journalNewJob(Box &box, const PackingState &state, MessageBox &messages)
{
    // The open box goes on with the job as Start now gives it; a restart must too.
    if (box.rowCount() > 0) {
        try {
            box.setJob(state.job());
        } catch (const RuntimeError &e) {
            messages.show(QStringLiteral("新的设置未能写入当前外箱记录：%1").arg(e.description()));
        }
    }
    try {
        box.numbersAdvanced(state.lMiddleNo, state.lOuterNo);
    } catch (const RuntimeError &e) {
        messages.show(QStringLiteral("新的序号未能写入当前外箱记录：%1").arg(e.description()));
    }
}

void saveDigitCounts(const Fields &fields, MessageBox &messages)
{
    try {
        settings::saveDigitCounts(fields.outerDigits, fields.middleDigits);
    } catch (const RuntimeError &e) {
        // Scanning can go on without them; the operator learns they were not kept.
        messages.show(QStringLiteral("序号长度未能保存到 %1：%2\n本次运行不受影响。").arg(modINI::DisplayPath(config::path()), e.description()));
    }
}

} // namespace startrules
