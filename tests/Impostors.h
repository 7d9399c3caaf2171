#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTest>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>

// What a careless person or an attacker can put where the station expects one of
// its files. Each reader's test puts each of them in place of its file.
namespace impostor {

enum Kind { Pipe, EndlessDevice, Folder, Oversized };

inline void addRows()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("told"); // part of the reason the operator must read
    QTest::newRow("a pipe with no writer") << int(Pipe) << QStringLiteral("是管道");
    QTest::newRow("a link to /dev/zero") << int(EndlessDevice) << QStringLiteral("是设备");
    QTest::newRow("a folder") << int(Folder) << QStringLiteral("是文件夹");
    QTest::newRow("larger than its kind can be") << int(Oversized) << QStringLiteral("文件太大");
}

// Puts the impostor at path; an oversized file is sparse, one byte past the bound.
inline bool make(int kind, const QString &path, int64_t bound)
{
    const QByteArray name = QFile::encodeName(path);
    switch (Kind(kind)) {
    case Pipe:
        return ::mkfifo(name.constData(), 0644) == 0;
    case EndlessDevice:
        return QFile::link(QStringLiteral("/dev/zero"), path);
    case Folder:
        return QDir().mkpath(path);
    case Oversized: {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.resize(bound + 1);
    }
    }
    return false;
}

// The impostor is still there, as it was.
inline bool unchanged(int kind, const QString &path, int64_t bound)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    switch (Kind(kind)) {
    case Pipe:
        return S_ISFIFO(st.st_mode);
    case EndlessDevice:
        return S_ISLNK(st.st_mode) && QFileInfo(path).symLinkTarget() == QStringLiteral("/dev/zero");
    case Folder:
        return S_ISDIR(st.st_mode);
    case Oversized:
        return S_ISREG(st.st_mode) && st.st_size == bound + 1;
    }
    return false;
}

} // namespace impostor
