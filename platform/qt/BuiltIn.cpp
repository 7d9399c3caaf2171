#include "platform/BuiltIn.h"

#include <QDir>
#include <QFile>

namespace builtin {

namespace {
bool builtIn(const QString &path)
{
    return path.startsWith(QLatin1String(":/"));
}
} // namespace

std::optional<QByteArray> read(const QString &path)
{
    if (!builtIn(path))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QStringList names(const QString &folder, const QString &pattern)
{
    if (!builtIn(folder))
        return {};
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

} // namespace builtin
