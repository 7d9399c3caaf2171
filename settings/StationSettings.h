#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

// The station's settings, read from config.ini through modINI and checked in one
// place. Each problem names the section, the key and the value as stored; the
// windows put the file's name in front of the list.
namespace settings {

// A scan needs room for at least one barcode character after the terminator.
constexpr int16_t kMinScanLength = 3;
// Longer than this and the station looks dead after every scan.
constexpr int32_t kMaxSettleMs = 10000;
// The code page of the Chinese Windows systems the stations ran on (a superset of GBK).
inline const QByteArray kDefaultEncoding = "GB18030";
// The longest station name the plant record takes.
constexpr qsizetype kMaxStationName = 200;
// The digit count that labels use while a stored one is missing or not a whole number.
constexpr int16_t kFallbackDigits = 3;

// Inner packs marked with GS1 element strings.
struct Gs1Settings
{
    bool scans = false; // [gs1] scans = 1: a scan is a GS1 element string, known by its GTIN and serial
    int32_t shelfDays = 0; // [gs1] shelf_days: the least shelf life, in days, a pack must have left
};
// The longest shelf life asked for: a hundred years.
constexpr int32_t kMaxShelfDays = 36500;

// What the scan window needs.
struct ScanSettings
{
    Gs1Settings gs1;
    std::optional<int16_t> innerLen; // [length] nlen, when usable
    std::optional<int32_t> port;     // [com] ComPort1, when 1..32767
    QString cfMode;                  // [cf] cf, as stored
    bool dayWide = false;            // [cf] scope = day or plant: repeats are looked for in the whole day
    bool wholePlant = false;         // [cf] scope = plant: and in every station's boxes, through the plant record
    int32_t budgetMs = 150;          // [cf] budget: the longest a scan waits for the plant record's answer
    QByteArray encoding = kDefaultEncoding; // [com] encoding: how the scanner's bytes are read
    QString stime;                   // [waittime] stime, as stored (converted at each wait)
    bool stimeUsable = false;
    QStringList problems;

    bool scanningPossible() const { return innerLen && port && stimeUsable; }
    // Repeats refused across the plant (and, when two stations take one pack at once, recorded as conflicts).
    bool checksWholePlant() const { return wholePlant && cfMode == QLatin1String("0"); }
};

// The digit counts of the box numbers, and the texts their fields show.
struct DigitSettings
{
    int16_t middleDigits = kFallbackDigits; // [length] zlen
    int16_t outerDigits = kFallbackDigits;  // [length] wlen
    QString middleShown;
    QString outerShown;
    QStringList problems;
};

// The plant record: where it is and what this station is called there.
struct PlantSettings
{
    QString url;     // [db] url, a libpq connection string or URI; "" : no central record
    QString station; // [db] station, or the host name and the program folder's name
    bool stationNamed = false; // [db] station is given
    // [cf] cf = 0, whatever the scope: the operator is told when a pack this station
    // delivers is in an earlier box of the plant (every station's are recorded).
    bool tellsConflicts = false;
    int maxClockSkewSeconds = 60; // [db] max_clock_skew: a clock further off is told in red
    // [batch] line: the line whose batches Start offers (needs the url); "" : no batches.
    QString batchLine;
    // [operators] required = 1: an operator logs in at Start (needs the url); offline_hours:
    // how long a login here lets him log in again offline; lock_minutes: the scan window
    // locks after that long without a scan or a key.
    bool operatorsRequired = false;
    int offlineHours = 12;
    int lockMinutes = 15;
    QStringList problems;

    bool configured() const { return !url.isEmpty(); }
    bool packsBatches() const { return configured() && !batchLine.isEmpty(); }
    bool logsOperatorsIn() const { return configured() && operatorsRequired; }
};

// Labels on paper: where and how they are printed, and what an outer label is.
struct PrintSettings
{
    QString printer;    // [print] printer, a CUPS queue; "" : no printing
    int widthMm = 100;  // [print] size = WIDTHxHEIGHT in millimetres
    int heightMm = 60;
    int dpi = 203;      // [print] dpi, the printer's resolution
    bool middle = false; // [print] middle = 1: each middle box's label too
    bool sscc = false;  // [label] outer = sscc: outer labels are Serial Shipping Container Codes
    bool gs1 = false;   // [gs1] scans = 1: outer labels say what the box holds (a GS1 logistic label with sscc)
    QStringList problems;

    bool configured() const { return !printer.isEmpty(); }
};

ScanSettings readScanSettings();
// [gs1], its problems added to problems.
Gs1Settings readGs1Settings(QStringList &problems);
PrintSettings readPrintSettings();
// What a url's password is ("" when none), or nothing with *problem set when the
// url cannot be read; the plant record's library knows (plant::readSettings).
using PasswordCheck = std::function<std::optional<QString>(const QString &url, QString *problem)>;
// A url that holds a password, or that passwordIn cannot read, is a problem and
// leaves the station without a central record.
PlantSettings readPlantSettings(const QString &programFolder, const PasswordCheck &passwordIn);
DigitSettings readDigitSettings();
// Start keeps the digit counts as typed ([length] wlen and zlen). Raises a
// RuntimeError when config.ini cannot be written.
void saveDigitCounts(const QString &outerDigits, const QString &middleDigits);

// The file the problems are in, as the operator should read it.
QString displayPath();

} // namespace settings
