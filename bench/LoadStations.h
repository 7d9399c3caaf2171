#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// The 20-station load run's stations: that many load_station processes, each in a
// folder of its own under folders, scanning rate packs a second for seconds into url.
inline std::vector<std::unique_ptr<QProcess>> startLoadStations(const QTemporaryDir &folders, const QString &url, int count, int seconds,
                                                                int rate)
{
    std::vector<std::unique_ptr<QProcess>> stations;
    for (int i = 0; i < count; ++i) {
        const QString folder = folders.filePath(QString::number(i));
        QDir().mkpath(folder);
        auto p = std::make_unique<QProcess>();
        p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/load_station"),
                 {folder, url, QString::number(i), QString::number(count), QString::number(seconds), QString::number(rate)});
        stations.push_back(std::move(p));
    }
    return stations;
}
