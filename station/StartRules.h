#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class Box;
class LabelHandoff;
class MessageBox;
struct PackingJob;
struct PackingState;

// What Start does with the setup window's fields, on the station's side: the window
// lays them out, reads them and forwards them here.
namespace startrules {

// The ten fields, as typed.
struct Fields
{
    QString perMiddle, perOuter;         // 中箱 / 外箱包装数量
    QString middlePrefix, middleSuffix;  // 中箱前缀 / 后缀
    QString middleDigits, middleNo;      // 中箱序号长度 / 中箱序号
    QString outerPrefix, outerSuffix;    // 外箱前缀 / 后缀
    QString outerDigits, outerNo;        // 外箱序号长度 / 外箱序号
};

// What Start makes of them before it asks about any box.
struct Verdict
{
    enum Kind {
        Nothing,        // the middle size is not a number: Start does nothing
        Refused,        // told why; nothing saved, no scan window
        MiddleSizeOnly, // the outer size is not a number: only the middle size is taken
        Job,            // the whole job, with these numbers
    };
    Kind kind = Nothing;
    QString why;
    int16_t perOuter = 0;
    int32_t middleNo = 0;
    int32_t outerNo = 0;
};
// labels: the station's label printing, or nullptr.
Verdict judge(const Fields &fields, const PackingState &current, const LabelHandoff *labels);

// The job's fields into a packing state (the digit counts are not among them).
void fieldsInto(PackingState &state, const Fields &fields, const Verdict &job);

// 继续: the kept box's own job goes into the packing state, its digit counts
// labelling that box only. The fields to show, and a message naming every field
// that was put back ("" when none).
struct TakenUp
{
    Fields fields;
    QString message;
};
TakenUp takeUpJob(PackingState &state, const PackingJob &job, const Fields &typed, const QString &outerLabel);

// The open box goes on with the job and numbers as Start now gives them, on record
// for a restart; a failure is told, scanning goes on.
void journalNewJob(Box &box, const PackingState &state, MessageBox &messages);

// The digit counts as typed, into config.ini; a failure is told, this run goes on.
void saveDigitCounts(const Fields &fields, MessageBox &messages);

} // namespace startrules
