#include "settings/modINI.h"

#include "platform/ProfileFile.h"

namespace modINI {

namespace {
const QString kLineBreak = QStringLiteral("\r\n");
const QString kLineBreakMarker = QStringLiteral("<S:BR>");
const QChar kValueEnd = QLatin1Char(';');
} // namespace

void WriteIniValue(const QString &section, const QString &key, const QString &filePath, const QString &value,
                   const QString &comment)
{
    const QString path = profile::resolvePath(filePath);
    if (!FileExists(path, 0))
        profile::createEmptyFile(path);
    QString stored = value;
    stored.replace(kLineBreak, kLineBreakMarker);
    profile::writeValue(path, section, key, stored + kValueEnd + comment);
}

QString ReadIniValue(const QString &section, const QString &key, const QString &filePath, const QString &defaultValue,
                     int32_t bufferSize)
{
    const QString text = profile::readValue(profile::resolvePath(filePath), section, key, bufferSize).value_or(QString());
    const qsizetype end = text.indexOf(kValueEnd);
    QString result = end >= 0 ? text.left(end) : text;
    if (result.isEmpty())
        return defaultValue;
    return result.replace(kLineBreakMarker, kLineBreak);
}

QString DisplayPath(const QString &filePath)
{
    return profile::resolvePath(filePath);
}

bool FileExists(const QString &path, int attributes)
{
    if (path.isEmpty())
        return false;
    // The search itself reports "nothing found" for every failure it meets.
    return !profile::findFirst(profile::resolvePath(path), attributes).isEmpty();
}

} // namespace modINI
