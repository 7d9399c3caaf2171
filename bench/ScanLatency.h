#pragma once

#include "Quantile.h"
#include "tools/RawPty.h"
#include "ui/scan/frm_SCAN.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

// A program folder for a scan window: config.ini with that settle wait and the
// duplicate check on, and a pseudo-terminal linked as its COM1. False when no
// pseudo-terminal could be had.
inline bool prepareScanFolder(const QString &folder, int settleMs, RawPty &pty, const QString &moreSettings = {})
{
    QFile config(folder + "/config.ini");
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("[length]\r\nnlen=8;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=%1;\r\n%2")
                     .arg(settleMs).arg(moreSettings).toLatin1());
    config.close();
    if (!openRawPty(pty))
        return false;
    return QFile::link(QString::fromStdString(pty.path), folder + "/COM1");
}

// Scan-to-listed latency beyond the settle wait: each scan written to the
// pseudo-terminal the scan window reads, timed from its last byte until its row is
// in the list, minus the settle wait. Sorted, in milliseconds; empty on a failed write.
inline QByteArray plainScan(int i)
{
    return QStringLiteral("S%1\r\n").arg(i, 5, 10, QLatin1Char('0')).toLatin1();
}

inline std::vector<double> scanLatencies(frm_SCAN &window, int master, int settleMs, int scans, int firstNumber = 0,
                                         QByteArray (*scanOf)(int) = plainScan)
{
    std::vector<double> beyondWaitMs;
    QElapsedTimer clock;
    clock.start();
    for (int i = firstNumber; i < firstNumber + scans; ++i) {
        const QByteArray scan = scanOf(i);
        const int barcodesBefore = int(window.intake().iInnerCount());
        const qint64 sentAt = clock.nsecsElapsed();
        if (::write(master, scan.constData(), size_t(scan.size())) != scan.size())
            return {};
        // The event loop runs until this scan's barcode row is in; label rows may come
        // first, and a full box empties the list instead.
        qint64 listedAt = 0;
        QEventLoop loop;
        const auto listed = [&] {
            if (listedAt == 0 && int(window.intake().iInnerCount()) != barcodesBefore) {
                listedAt = clock.nsecsElapsed();
                loop.quit();
            }
        };
        QObject::connect(&window.grid(), &QAbstractItemModel::rowsInserted, &loop, listed);
        QObject::connect(&window.grid(), &QAbstractItemModel::modelReset, &loop, listed);
        QObject::connect(&window.grid(), &QAbstractItemModel::rowsRemoved, &loop, listed);
        loop.exec();
        beyondWaitMs.push_back(double(listedAt - sentAt) / 1e6 - settleMs);
    }
    std::sort(beyondWaitMs.begin(), beyondWaitMs.end());
    return beyondWaitMs;
}
