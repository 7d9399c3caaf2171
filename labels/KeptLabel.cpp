#include "labels/KeptLabel.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace labels::keptlabel {

QByteArray bytesOf(const Kept &k)
{
    QJsonObject o{{QStringLiteral("title"), k.title},
                  {QStringLiteral("added"), double(k.added)},
                  {QStringLiteral("label"), k.label.toJson()}};
    if (k.job > 0)
        o.insert(QStringLiteral("job"), k.job);
    if (!k.failed.isEmpty())
        o.insert(QStringLiteral("failed"), k.failed);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Kept> fromBytes(const QString &path, const QByteArray &bytes)
{
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
    const std::optional<Label> label = Label::fromJson(o.value(QStringLiteral("label")).toObject());
    const QString title = o.value(QStringLiteral("title")).toString();
    // Titles name the print system's jobs: only ours, and never an endless one.
    if (!label || !title.startsWith(QLatin1String("zantrel ")) || title.size() > 200)
        return std::nullopt;
    const double job = o.value(QStringLiteral("job")).toDouble();
    return Kept{path, title, qint64(o.value(QStringLiteral("added")).toDouble()), *label,
                job >= 1 && job <= 2147483647.0 ? int(job) : 0, o.value(QStringLiteral("failed")).toString(), false};
}

} // namespace labels::keptlabel
