#include "station/BoxLines.h"

#include "core/LineEscape.h"

namespace boxlines {

namespace {
constexpr int kJobFields = 8;
} // namespace

QByteArray keywordOf(BoxRow::Kind kind)
{
    switch (kind) {
    case BoxRow::OuterLabel: return "outer";
    case BoxRow::MiddleLabel: return "middle";
    case BoxRow::Pack: break;
    }
    return "pack";
}

std::optional<BoxRow::Kind> kindOf(const QByteArray &keyword)
{
    if (keyword == "outer")
        return BoxRow::OuterLabel;
    if (keyword == "middle")
        return BoxRow::MiddleLabel;
    if (keyword == "pack")
        return BoxRow::Pack;
    return std::nullopt;
}


QByteArray escaped(const QString &text, bool blanks)
{
    return lineescape::escaped(text, [blanks](char16_t u) { return u < 0x20 || u == 0x7F || (blanks && u == u' '); }, false);
}

std::optional<QString> unescaped(const QByteArray &bytes)
{
    QByteArray raw;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\\') {
            raw += bytes[i];
            continue;
        }
        if (i + 1 < bytes.size() && bytes[i + 1] == '\\') {
            raw += '\\';
            ++i;
            continue;
        }
        if (i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            raw += char(value);
            i += 3;
            continue;
        }
        return std::nullopt;
    }
    return QString::fromUtf8(raw);
}

QByteArray rowLine(const BoxRow &row)
{
    return keywordOf(row.kind) + ' ' + escaped(row.text) + '\n';
}

QString timeText(const QDateTime &at)
{
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray jobLine(const PackingJob &job)
{
    QByteArrayList fields{QByteArray::number(job.perMiddle), QByteArray::number(job.perOuter),
                          QByteArray::number(job.middleDigits), QByteArray::number(job.outerDigits),
                          escaped(job.middlePrefix, true), escaped(job.middleSuffix, true),
                          escaped(job.outerPrefix, true), escaped(job.outerSuffix, true)};
    return kJobKeyword + ' ' + fields.join(' ') + '\n';
}

std::optional<PackingJob> jobFrom(const QByteArray &rest)
{
    const QByteArrayList fields = rest.split(' ');
    if (fields.size() != kJobFields)
        return std::nullopt;
    PackingJob job;
    int16_t *numbers[] = {&job.perMiddle, &job.perOuter, &job.middleDigits, &job.outerDigits};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = fields[i].toInt(&ok);
        if (!ok || value < INT16_MIN || value > INT16_MAX)
            return std::nullopt;
        *numbers[i] = int16_t(value);
    }
    QString *texts[] = {&job.middlePrefix, &job.middleSuffix, &job.outerPrefix, &job.outerSuffix};
    for (int i = 0; i < 4; ++i) {
        const std::optional<QString> text = unescaped(fields[4 + i]);
        if (!text)
            return std::nullopt;
        *texts[i] = *text;
    }
    return job;
}

} // namespace boxlines
