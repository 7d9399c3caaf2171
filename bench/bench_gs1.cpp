// Reading GS1 scans: the time the parser takes per scan, for the forms a station
// receives (a DataMatrix with its identifier and GS, the human-readable form, a
// refused one), beside the floor of copying the scan's text.
#include "Quantile.h"

#include "core/Gs1Scan.h"

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

} // namespace

int main()
{
    const QString gs(QChar(gs1::kGroupSeparator));
    const struct
    {
        const char *name;
        QString prefix, middle, suffix;
    } forms[] = {
        {"datamatrix", QStringLiteral("]d20109501101530003") + QStringLiteral("21"), gs + QStringLiteral("10L24") + gs,
         QStringLiteral("17270630")},
        {"human_readable", QStringLiteral("(01)09501101530003(21)"), QStringLiteral("(10)L24"), QStringLiteral("(17)270630")},
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
    return 0;
}
