#include "plant/SchemaScript.h"

#include "platform/BuiltIn.h"

#include <QDir>
#include <QStringList>

namespace schemascript {

namespace {

std::optional<QString> expanded(const QString &path, int depth)
{
    if (depth > 4) // the program's own files include at most one level
        return std::nullopt;
    const std::optional<QByteArray> bytes = builtin::read(path);
    if (!bytes)
        return std::nullopt;
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    QStringList lines = QString::fromUtf8(*bytes).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (!line.startsWith(QLatin1String("\\ir ")))
            continue;
        const std::optional<QString> included = expanded(QDir::cleanPath(folder + QLatin1Char('/') + line.mid(4).trimmed()), depth + 1);
        if (!included)
            return std::nullopt;
        line = *included;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

std::optional<QString> read(const QString &path)
{
    return expanded(path, 0);
}

} // namespace schemascript
