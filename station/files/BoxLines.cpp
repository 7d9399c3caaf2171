#include "station/files/BoxLines.h"

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
    return linecodec::line(keyword::kJob, {QByteArray::number(job.iPerMiddle), QByteArray::number(job.iPerOuter),
                                           QByteArray::number(job.iMiddleDigits), QByteArray::number(job.iOuterDigits),
                                           escaped(job.sMiddlePrefix, true), escaped(job.sMiddleSuffix, true),
                                           escaped(job.sOuterPrefix, true), escaped(job.sOuterSuffix, true)});
}

std::optional<PackingJob> jobFrom(const QByteArray &rest)
{
    const QByteArrayList fields = rest.split(' ');
    if (fields.size() != kJobFields)
        return std::nullopt;
    PackingJob job;
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

} // namespace boxlines
