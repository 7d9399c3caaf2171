#include "station/files/BoxLines.h"

#include <algorithm>

#include "core/LineCodec.h"

namespace boxlines {

namespace {
constexpr int kJobFields = 8;
} // namespace

QByteArray keywordOf(BoxRow::Kind kind)
{
    switch (kind) {
    case BoxRow::OuterLabel: return keyword::kOuter;
    case BoxRow::MiddleLabel: return keyword::kMiddle;
    case BoxRow::Pack: break;
    }
    return keyword::kPack;
}

std::optional<BoxRow::Kind> kindOf(const QByteArray &word)
{
    for (BoxRow::Kind kind : {BoxRow::OuterLabel, BoxRow::MiddleLabel, BoxRow::Pack})
        if (word == keywordOf(kind))
            return kind;
    return std::nullopt;
}

QByteArray escaped(const QString &text, bool blanks)
{
    return linecodec::escaped(text, blanks ? linecodec::Escape::ControlsAndBlanks : linecodec::Escape::Controls);
}

std::optional<QString> unescaped(const QByteArray &bytes)
{
    return linecodec::unescaped(bytes);
}

QByteArray rowLine(const BoxRow &row)
{
    QByteArray out = linecodec::line(keywordOf(row.kind), {escaped(row.text)});
    if (row.kind != BoxRow::Pack || row.fields.empty())
        return out;
    QByteArrayList fields;
    for (const gs1::Element &e : row.fields)
        fields << escaped(e.ai, true) << escaped(e.data, true);
    QByteArray rest = fields.join(' ');
    return out + linecodec::line(keyword::kGs1, {rest});
}

std::optional<std::vector<gs1::Element>> fieldsFrom(const QByteArray &rest)
{
    const QByteArrayList parts = rest.split(' ');
    if (parts.size() % 2 != 0 || rest.isEmpty())
        return std::nullopt;
    std::vector<gs1::Element> fields;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const std::optional<QString> ai = unescaped(parts[i]), data = unescaped(parts[i + 1]);
        if (!ai || !data || ai->isEmpty())
            return std::nullopt;
        fields.push_back({*ai, *data});
    }
    return fields;
}

bool attachFields(std::vector<BoxRow> &rows, const QByteArray &rest)
{
    std::optional<std::vector<gs1::Element>> fields = fieldsFrom(rest);
    if (!fields || rows.empty() || rows.back().kind != BoxRow::Pack || !rows.back().fields.empty())
        return false;
    rows.back().fields = std::move(*fields);
    return true;
}

QString timeText(const QDateTime &at)
{
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray jobLine(const PackingJob &job)
{
    const QByteArray sizes[] = {QByteArray::number(job.iPerMiddle), QByteArray::number(job.iPerOuter),
                                QByteArray::number(job.iMiddleDigits), QByteArray::number(job.iOuterDigits)};
    const QByteArray texts[] = {escaped(job.sMiddlePrefix, true), escaped(job.sMiddleSuffix, true),
                                escaped(job.sOuterPrefix, true), escaped(job.sOuterSuffix, true)};
    // A box of a batch names it last; a job without one keeps the line it always had.
    if (!job.sBatch.isEmpty())
        return linecodec::line(keyword::kJob, {sizes[0], sizes[1], sizes[2], sizes[3], texts[0], texts[1], texts[2], texts[3],
                                               escaped(job.sBatch, true)});
    return linecodec::line(keyword::kJob, {sizes[0], sizes[1], sizes[2], sizes[3], texts[0], texts[1], texts[2], texts[3]});
}

std::optional<PackingJob> jobFrom(const QByteArray &rest)
{
    const QByteArrayList fields = rest.split(' ');
    if (fields.size() != kJobFields && fields.size() != kJobFields + 1)
        return std::nullopt;
    PackingJob job;
    if (fields.size() > kJobFields) {
        const std::optional<QString> batch = unescaped(fields[kJobFields]);
        if (!batch || batch->isEmpty())
            return std::nullopt;
        job.sBatch = *batch;
    }
    int16_t *numbers[] = {&job.iPerMiddle, &job.iPerOuter, &job.iMiddleDigits, &job.iOuterDigits};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = fields[i].toInt(&ok);
        if (!ok || value < INT16_MIN || value > INT16_MAX)
            return std::nullopt;
        *numbers[i] = int16_t(value);
    }
    QString *texts[] = {&job.sMiddlePrefix, &job.sMiddleSuffix, &job.sOuterPrefix, &job.sOuterSuffix};
    for (int i = 0; i < 4; ++i) {
        const std::optional<QString> text = unescaped(fields[4 + i]);
        if (!text)
            return std::nullopt;
        *texts[i] = *text;
    }
    return job;
}

QByteArray batchLine(const Batch &b)
{
    return linecodec::line(keyword::kBatch, {escaped(b.number, true), escaped(b.line, true), escaped(b.gtin, true),
                                             escaped(b.lot, true), escaped(b.expiry, true), escaped(b.made, true),
                                             QByteArray::number(b.planned), QByteArray::number(b.perMiddle),
                                             QByteArray::number(b.perOuter)});
}

std::optional<Batch> batchFrom(const QByteArray &rest)
{
    const QByteArrayList fields = rest.split(' ');
    if (fields.size() != 9)
        return std::nullopt;
    Batch b;
    QString *texts[] = {&b.number, &b.line, &b.gtin, &b.lot, &b.expiry, &b.made};
    for (int i = 0; i < 6; ++i) {
        const std::optional<QString> text = unescaped(fields[i]);
        if (!text)
            return std::nullopt;
        *texts[i] = *text;
    }
    bool okPlanned = false, okMiddle = false, okOuter = false;
    const int planned = fields[6].toInt(&okPlanned);
    const int perMiddle = fields[7].toInt(&okMiddle);
    const int perOuter = fields[8].toInt(&okOuter);
    if (b.number.isEmpty() || !okPlanned || !okMiddle || !okOuter || planned < 1 || perMiddle < 0 || perOuter < 0
        || perMiddle > INT16_MAX || perOuter > INT16_MAX)
        return std::nullopt;
    b.planned = planned;
    b.perMiddle = int16_t(perMiddle);
    b.perOuter = int16_t(perOuter);
    return b;
}

std::optional<QString> operatorFrom(const QByteArray &field)
{
    if (field.isEmpty() || field.size() > 20)
        return std::nullopt;
    for (const char c : field)
        if (!QChar::isLetterOrNumber(uchar(c)) && c != '_' && c != '.' && c != '-')
            return std::nullopt;
    if (!std::all_of(field.begin(), field.end(), [](char c) { return uchar(c) < 0x80; }))
        return std::nullopt;
    return QString::fromLatin1(field);
}

} // namespace boxlines
