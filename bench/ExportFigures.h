#pragma once

#include <QFile>
#include <QIODevice>

// This process's peak resident memory so far, in KiB (-1 when the system does not say).
inline qint64 peakKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').at(0).toLongLong();
    return -1;
}

// A /dev/null that counts what an export wrote.
class CountingDevice : public QIODevice
{
public:
    qint64 bytes = 0;
    CountingDevice() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 n) override
    {
        bytes += n;
        return n;
    }
};
