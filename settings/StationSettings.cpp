#include "settings/StationSettings.h"

#include "core/RuntimeError.h"
#include "core/TextNumber.h"
#include "settings/ConfigFile.h"
#include "settings/modINI.h"

#include <QFileInfo>
#include <algorithm>
#include <QSysInfo>

namespace settings {

namespace {

// Reads keys of one file; a file that cannot be read (a folder, a pipe, too large …)
// is told once, and every key then reads as missing.
class Reader
{
public:
    explicit Reader(QStringList &problems) : m_problems(problems) {}
    QString operator()(const char *section, const char *key, const QString &path)
    {
        if (m_failed)
            return {};
        try {
            return modINI::ReadIniValue(QLatin1String(section), QLatin1String(key), path, QString(), config::kReadBuffer);
        } catch (const RuntimeError &e) {
            m_failed = true;
            m_problems << e.description() + QStringLiteral("；其中的设置都无法使用");
            return {};
        }
    }

private:
    QStringList &m_problems;
    bool m_failed = false;
};

void addProblem(QStringList &problems, const char *section, const char *key, const QString &value, const QString &why)
{
    problems << QStringLiteral("[%1] %2 = \"%3\"：%4").arg(QLatin1String(section), QLatin1String(key), value, why);
}

// A stored digit count, or the fallback with a problem line.
int16_t digitCount(Reader &read, const char *key, const QString &fieldCaption, QString &shown, QStringList &problems)
{
    const QString stored = read("length", key, config::path());
    if (const std::optional<int16_t> width = textnum::tryInt16(stored)) {
        shown = textnum::fromInteger(*width);
        return *width;
    }
    addProblem(problems, "length", key, stored,
               QStringLiteral("%1%2，本次按 %3 位").arg(fieldCaption, textnum::rangeRule(stored, INT16_MIN, INT16_MAX)).arg(kFallbackDigits));
    shown = textnum::fromInteger(kFallbackDigits);
    return kFallbackDigits;
}

// The encodings a scanner is read with, by the names a person may write.
std::optional<QByteArray> scannerEncoding(const QString &name)
{
    const QString n = name.toLower();
    if (n.isEmpty() || n == QLatin1String("gb18030"))
        return kDefaultEncoding;
    if (n == QLatin1String("utf-8") || n == QLatin1String("utf8"))
        return QByteArray("UTF-8");
    if (n == QLatin1String("latin1") || n == QLatin1String("iso-8859-1"))
        return QByteArray("ISO-8859-1");
    return std::nullopt;
}

} // namespace

ScanSettings readScanSettings()
{
    ScanSettings s;
    Reader read(s.problems);
    const QString nlen = read("length", "nlen", config::path());
    const std::optional<int16_t> len = textnum::tryInt16(nlen);
    if (len && *len >= kMinScanLength)
        s.innerLen = len;
    else
        addProblem(s.problems, "length", "nlen", nlen,
                   QStringLiteral("条码长度%1（含扫描枪的 2 个结束符）").arg(textnum::rangeRule(nlen, kMinScanLength, INT16_MAX)));

    const QString port = read("com", "ComPort1", config::pathUpperCase());
    const std::optional<int32_t> number = textnum::tryInt32(port);
    if (number && *number >= 1 && *number <= 32767)
        s.port = number;
    else
        addProblem(s.problems, "com", "ComPort1", port, QStringLiteral("串口号") + textnum::rangeRule(port, 1, 32767));

    s.cfMode = read("cf", "cf", config::pathUpperCase());
    const QString scope = read("cf", "scope", config::pathUpperCase()).trimmed();
    if (scope.compare(QLatin1String("day"), Qt::CaseInsensitive) == 0) {
        s.dayWide = true;
    } else if (scope.compare(QLatin1String("plant"), Qt::CaseInsensitive) == 0) {
        // Without an answer from the plant record in time, the day's boxes are checked here.
        s.dayWide = s.wholePlant = true;
    } else if (!scope.isEmpty() && scope.compare(QLatin1String("box"), Qt::CaseInsensitive) != 0) {
        addProblem(s.problems, "cf", "scope", scope,
                   QStringLiteral("只能是 plant（全厂所有站）、day（当天所有箱）或 box（当前外箱）；本次按 box"));
    }
    const QString encoding = read("com", "encoding", config::pathUpperCase()).trimmed();
    if (const std::optional<QByteArray> known = scannerEncoding(encoding))
        s.encoding = *known;
    else
        addProblem(s.problems, "com", "encoding", encoding, QStringLiteral("扫描枪的编码只能是 gb18030、utf-8 或 latin1；本次按 gb18030"));
    const QString budget = read("cf", "budget", config::pathUpperCase()).trimmed();
    if (!budget.isEmpty()) {
        const std::optional<int32_t> ms = textnum::tryInt32(budget);
        if (ms && *ms >= 0 && *ms <= kMaxSettleMs)
            s.budgetMs = *ms;
        else
            addProblem(s.problems, "cf", "budget", budget,
                       QStringLiteral("全厂查重的等待时间（毫秒）%1；本次按 150").arg(textnum::rangeRule(budget, 0, kMaxSettleMs)));
    }

    s.gs1 = readGs1Settings(s.problems);
    s.stime = read("waittime", "stime", config::path());
    const std::optional<int32_t> ms = textnum::tryInt32(s.stime);
    s.stimeUsable = ms && *ms >= 0 && *ms <= kMaxSettleMs;
    if (!s.stimeUsable)
        addProblem(s.problems, "waittime", "stime", s.stime,
                   QStringLiteral("等待时间（毫秒）") + textnum::rangeRule(s.stime, 0, kMaxSettleMs));
    return s;
}

Gs1Settings readGs1Settings(QStringList &problems)
{
    Gs1Settings g;
    Reader read(problems);
    const QString scans = read("gs1", "scans", config::path()).trimmed();
    if (scans == QLatin1String("1"))
        g.scans = true;
    else if (!scans.isEmpty() && scans != QLatin1String("0"))
        addProblem(problems, "gs1", "scans", scans, QStringLiteral("只能为 1（内包为 GS1 条码）或 0；本次按 0"));
    const QString days = read("gs1", "shelf_days", config::path()).trimmed();
    if (!days.isEmpty()) {
        const std::optional<int32_t> n = textnum::tryInt32(days);
        if (n && *n >= 0 && *n <= kMaxShelfDays)
            g.shelfDays = *n;
        else
            addProblem(problems, "gs1", "shelf_days", days,
                       QStringLiteral("最短剩余有效期（天）%1；本次按 0").arg(textnum::rangeRule(days, 0, kMaxShelfDays)));
    }
    return g;
}

PlantSettings readPlantSettings(const QString &programFolder, const PasswordCheck &passwordIn)
{
    PlantSettings p;
    Reader read(p.problems);
    const QString url = read("db", "url", config::path()).trimmed();
    const QString station = read("db", "station", config::path()).trimmed();
    p.station = station.isEmpty()
                    ? QSysInfo::machineHostName() + QLatin1Char('-') + QFileInfo(programFolder).fileName()
                    : station;
    p.stationNamed = !station.isEmpty();
    p.tellsConflicts = readScanSettings().cfMode == QLatin1String("0");
    const QString skew = read("db", "max_clock_skew", config::path()).trimmed();
    if (!skew.isEmpty()) {
        const std::optional<int32_t> seconds = textnum::tryInt32(skew);
        if (seconds && *seconds >= 1 && *seconds <= 86400)
            p.maxClockSkewSeconds = *seconds;
        else
            addProblem(p.problems, "db", "max_clock_skew", skew,
                       QStringLiteral("时钟允许的偏差（秒）%1；本次按 60").arg(textnum::rangeRule(skew, 1, 86400)));
    }
    const QString line = read("batch", "line", config::path()).trimmed();
    if (!line.isEmpty() && url.isEmpty())
        addProblem(p.problems, "batch", "line", line, QStringLiteral("批次来自中央记录，须与 [db] url 同用；本次不按批次包装"));
    else if (line.toUcs4().size() > 40 || std::any_of(line.begin(), line.end(), [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; }))
        addProblem(p.problems, "batch", "line", line.left(40), QStringLiteral("产线名须为 1 到 40 个字符，不含空格；本次不按批次包装"));
    else
        p.batchLine = line;
    const QString required = read("operators", "required", config::path()).trimmed();
    if (required == QLatin1String("1") && url.isEmpty())
        addProblem(p.problems, "operators", "required", required, QStringLiteral("操作员登录要用中央记录，须与 [db] url 同用；本次不要求登录"));
    else if (!required.isEmpty() && required != QLatin1String("0") && required != QLatin1String("1"))
        addProblem(p.problems, "operators", "required", required, QStringLiteral("应为 0 或 1；本次不要求登录"));
    else
        p.operatorsRequired = required == QLatin1String("1");
    const auto hoursOrMinutes = [&](const char *key, int low, int high, int &into, const QString &unit) {
        const QString text = read("operators", key, config::path()).trimmed();
        if (text.isEmpty())
            return;
        const std::optional<int32_t> value = textnum::tryInt32(text);
        if (value && *value >= low && *value <= high)
            into = *value;
        else
            addProblem(p.problems, "operators", key, text,
                       QStringLiteral("%1%2；本次按 %3").arg(unit, textnum::rangeRule(text, low, high)).arg(into));
    };
    hoursOrMinutes("offline_hours", 0, 720, p.offlineHours, QStringLiteral("离线登录的有效小时数"));
    hoursOrMinutes("lock_minutes", 1, 1440, p.lockMinutes, QStringLiteral("无操作锁定的分钟数"));
    if (url.isEmpty())
        return p;
    if (const qsizetype length = p.station.toUcs4().size(); length > kMaxStationName) {
        // Every box would be refused by the record, and the boxes after it wait behind it.
        addProblem(p.problems, "db", "station", p.station.left(20) + QStringLiteral("…"),
                   QStringLiteral("站名最长 %1 个字符，现为 %2 个；本次不使用中央记录").arg(kMaxStationName).arg(length));
        return p;
    }
    QString problem;
    const std::optional<QString> password = passwordIn(url, &problem);
    if (!password) {
        addProblem(p.problems, "db", "url", url, QStringLiteral("无法识别的连接串（%1）；本次不使用中央记录").arg(problem));
    } else if (!password->isEmpty()) {
        // The value is not repeated: it holds the password.
        p.problems << QStringLiteral("[db] url 中含有密码：密码不能写在 config.ini 中，请写在 ~/.pgpass（或 PGPASSFILE "
                                     "所指的文件）或 pg_service.conf 中；本次不使用中央记录");
    } else {
        p.url = url;
    }
    return p;
}

PrintSettings readPrintSettings()
{
    PrintSettings p;
    Reader read(p.problems);
    const QString printer = read("print", "printer", config::path()).trimmed();
    const QString size = read("print", "size", config::path()).trimmed();
    const QString dpi = read("print", "dpi", config::path()).trimmed();
    const QString middle = read("print", "middle", config::path()).trimmed();
    const QString outer = read("label", "outer", config::path()).trimmed();
    if (!size.isEmpty()) {
        const QStringList parts = size.toLower().replace(QChar(0xd7), QLatin1Char('x')).split(QLatin1Char('x'));
        const std::optional<int32_t> w = parts.size() == 2 ? textnum::tryInt32(parts[0].trimmed()) : std::nullopt;
        const std::optional<int32_t> h = parts.size() == 2 ? textnum::tryInt32(parts[1].trimmed()) : std::nullopt;
        if (w && h && *w >= 10 && *w <= 400 && *h >= 10 && *h <= 400) {
            p.widthMm = *w;
            p.heightMm = *h;
        } else {
            addProblem(p.problems, "print", "size", size, QStringLiteral("标签尺寸应为 宽x高（毫米，各 10 到 400），如 100x60；本次不打印"));
            return p;
        }
    }
    if (!dpi.isEmpty()) {
        const std::optional<int32_t> d = textnum::tryInt32(dpi);
        if (d && *d >= 100 && *d <= 1200) {
            p.dpi = *d;
        } else {
            addProblem(p.problems, "print", "dpi", dpi, QStringLiteral("打印机分辨率%1；本次不打印").arg(textnum::rangeRule(dpi, 100, 1200)));
            return p;
        }
    }
    if (middle == QLatin1String("1"))
        p.middle = true;
    else if (!middle.isEmpty() && middle != QLatin1String("0"))
        addProblem(p.problems, "print", "middle", middle, QStringLiteral("应为 0 或 1；本次不打印中箱标签"));
    if (outer.compare(QLatin1String("sscc"), Qt::CaseInsensitive) == 0)
        p.sscc = true;
    else if (!outer.isEmpty())
        addProblem(p.problems, "label", "outer", outer, QStringLiteral("只能为 sscc 或空；本次按普通外箱号"));
    QStringList toldByTheScanWindow; // [gs1]'s problems are told where scans are read
    p.gs1 = readGs1Settings(toldByTheScanWindow).scans;
    p.printer = printer;
    return p;
}

DigitSettings readDigitSettings()
{
    DigitSettings d;
    Reader read(d.problems);
    d.middleDigits = digitCount(read, "zlen", QStringLiteral("中箱序号长度"), d.middleShown, d.problems);
    d.outerDigits = digitCount(read, "wlen", QStringLiteral("外箱序号长度"), d.outerShown, d.problems);
    return d;
}

QString displayPath()
{
    return modINI::DisplayPath(config::path());
}

void saveDigitCounts(const QString &outerDigits, const QString &middleDigits)
{
    modINI::WriteIniValue("length", "wlen", config::path(), outerDigits, QString());
    modINI::WriteIniValue("length", "zlen", config::path(), middleDigits, QString());
}

} // namespace settings
