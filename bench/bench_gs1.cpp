// Reading GS1 scans: the time the parser takes per scan, for the forms a station
// receives (a DataMatrix with its identifier and GS, the human-readable form, an EAEU
// pack with its crypto fields, a refused one), beside the floor of copying the scan's text.
#include "Quantile.h"

#include "BenchFakes.h"
#include "core/Gs1Scan.h"
#include "station/files/DayIndex.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <QDate>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kScans = 60000; // a busy station's day

std::vector<double> timed(const std::vector<QString> &scans, bool parse, size_t *read)
{
    const QDate today = QDate::currentDate();
    std::vector<double> us;
    us.reserve(scans.size());
    QElapsedTimer clock;
    for (const QString &scan : scans) {
        clock.start();
        if (parse) {
            if (gs1::readScan(scan, today).read)
                ++*read;
        } else {
            QString copy = scan;
            copy.detach();
            *read += size_t(copy.size() > 0);
        }
        us.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return us;
}

QString packScan(int serial)
{
    static const QString expiry = QDate::currentDate().addYears(1).toString(QStringLiteral("yyMMdd"));
    return QStringLiteral("]d2" "0109501101530003" "21S%1\x1d" "10L24\x1d" "17%2\r\n").arg(serial).arg(expiry);
}

// A scan's whole intake: read, the box's rules, the repeat looked for in a box of 60 and
// in a day that already holds 60,000 packs, listed; boxes written nowhere.
void intakeFigures()
{
    QTemporaryDir folder;
    DayIndex day;
    day.load(folder.path(), QDate::currentDate());
    day.readGs1Packs(true);
    PackingState state;
    state.iPerMiddle = 10;
    state.iPerOuter = 60;
    state.lMiddleNo = state.lOuterNo = 1;
    Box box;
    SilentMessages messages;
    CountingExport written;
    BarcodeIntake intake(state, box, messages, written);
    intake.sCfMode = QStringLiteral("0");
    intake.takeGs1Scans(true, 30);
    intake.checkWholeDay(&day);
    for (int i = 0; i < kScans; ++i)
        intake.receive(packScan(i));
    const long long dayBefore = day.size();
    std::vector<double> us;
    int listed = 0;
    QElapsedTimer clock;
    for (int i = kScans; i < kScans + 6000; ++i) {
        clock.start();
        intake.receive(packScan(i));
        us.push_back(double(clock.nsecsElapsed()) / 1000.0);
        listed += intake.lastScanListed();
    }
    std::sort(us.begin(), us.end());
    std::printf("gs1_intake_median: %.2f us (box of %d, day of %lld packs, %d of 6000 listed)\n", quantile(us, 0.5),
                int(state.iPerOuter), dayBefore, listed);
    std::printf("gs1_intake_p99: %.2f us\n", quantile(us, 0.99));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString gs(QChar(gs1::kGroupSeparator));
    const struct
    {
        const char *name;
        QString prefix, middle, suffix;
    } forms[] = {
        {"datamatrix", QStringLiteral("]d20109501101530003") + QStringLiteral("21"), gs + QStringLiteral("10L24") + gs,
         QStringLiteral("17270630")},
        {"human_readable", QStringLiteral("(01)09501101530003(21)"), QStringLiteral("(10)L24"), QStringLiteral("(17)270630")},
        {"eaeu", QStringLiteral("]d20104600123456782") + QStringLiteral("21"), gs + QStringLiteral("91EE07") + gs,
         QStringLiteral("92Wn2mQ7hsvB8P1eZ+R8dFzQ0wY2kT6Kc0P1XyzQmB9C4=")},
        {"refused_check_digit", QStringLiteral("]d20109501101530004") + QStringLiteral("21"), gs + QStringLiteral("10L24") + gs,
         QStringLiteral("17270630")},
    };
    for (const auto &form : forms) {
        std::vector<QString> scans;
        scans.reserve(kScans);
        for (int i = 0; i < kScans; ++i)
            scans.push_back(form.prefix + QString::number(100000 + i) + form.middle + form.suffix);
        size_t read = 0, copied = 0;
        const std::vector<double> floor = timed(scans, false, &copied);
        const std::vector<double> parsed = timed(scans, true, &read);
        std::printf("gs1_read_%s_median: %.2f us (floor %.2f us, %zu of %d read)\n", form.name, quantile(parsed, 0.5),
                    quantile(floor, 0.5), read, kScans);
        std::printf("gs1_read_%s_p99: %.2f us (floor %.2f us)\n", form.name, quantile(parsed, 0.99), quantile(floor, 0.99));
    }
    intakeFigures();
    return 0;
}
