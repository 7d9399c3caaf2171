#include "settings/StationSettings.h"

#include "core/TextNumber.h"
#include "settings/ConfigFile.h"
#include "settings/modINI.h"

namespace settings {

namespace {

QString read(const char *section, const char *key, const QString &path)
{
    return modINI::ReadIniValue(QLatin1String(section), QLatin1String(key), path, QString(), config::kReadBuffer);
}

void addProblem(QStringList &problems, const char *section, const char *key, const QString &value, const QString &why)
{
    problems << QStringLiteral("[%1] %2 = \"%3\"：%4").arg(QLatin1String(section), QLatin1String(key), value, why);
}

// A stored digit count, or the fallback with a problem line.
int16_t digitCount(const char *key, const QString &fieldCaption, QString &shown, QStringList &problems)
{
    const QString stored = read("length", key, config::path());
    if (const std::optional<int16_t> width = textnum::tryInt16(stored)) {
        shown = textnum::fromInteger(*width);
        return *width;
    }
    addProblem(problems, "length", key, stored,
               QStringLiteral("%1不是有效的整数，本次按 %2 位").arg(fieldCaption).arg(kFallbackDigits));
    shown = textnum::fromInteger(kFallbackDigits);
    return kFallbackDigits;
}

} // namespace

ScanSettings readScanSettings()
{
    ScanSettings s;
    const QString nlen = read("length", "nlen", config::path());
    const std::optional<int16_t> len = textnum::tryInt16(nlen);
    if (!len)
        addProblem(s.problems, "length", "nlen", nlen, QStringLiteral("条码长度必须是整数"));
    else if (*len < kMinScanLength)
        addProblem(s.problems, "length", "nlen", nlen,
                   QStringLiteral("条码长度至少为 %1（含扫描枪的 2 个结束符）").arg(kMinScanLength));
    else
        s.innerLen = len;

    const QString port = read("com", "ComPort1", config::pathUpperCase());
    const std::optional<int32_t> number = textnum::tryInt32(port);
    if (number && *number >= 1 && *number <= 32767)
        s.port = number;
    else
        addProblem(s.problems, "com", "ComPort1", port, QStringLiteral("串口号必须是 1 到 32767 之间的整数"));

    s.cfMode = read("cf", "cf", config::pathUpperCase());
    const QString scope = read("cf", "scope", config::pathUpperCase()).trimmed();
    if (scope.compare(QLatin1String("day"), Qt::CaseInsensitive) == 0)
        s.dayWide = true;
    else if (!scope.isEmpty() && scope.compare(QLatin1String("box"), Qt::CaseInsensitive) != 0)
        addProblem(s.problems, "cf", "scope", scope, QStringLiteral("只能是 day（当天所有箱）或 box（当前外箱）；本次按 box"));

    s.stime = read("waittime", "stime", config::path());
    const std::optional<int32_t> ms = textnum::tryInt32(s.stime);
    s.stimeUsable = ms && *ms >= 0 && *ms <= kMaxSettleMs;
    if (!s.stimeUsable)
        addProblem(s.problems, "waittime", "stime", s.stime,
                   QStringLiteral("等待时间必须是 0 到 %1 之间的毫秒数").arg(kMaxSettleMs));
    return s;
}

DigitSettings readDigitSettings()
{
    DigitSettings d;
    d.middleDigits = digitCount("zlen", QStringLiteral("中箱序号长度"), d.middleShown, d.problems);
    d.outerDigits = digitCount("wlen", QStringLiteral("外箱序号长度"), d.outerShown, d.problems);
    return d;
}

QString displayPath()
{
    return modINI::DisplayPath(config::path());
}

} // namespace settings
