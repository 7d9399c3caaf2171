#pragma once

#include <QIODevice>

// The program's standard output as a device a writer streams into. Every write goes
// to it at once, so a full disk, a closed output or a reader that went away fails the
// write that meets it (errorString() in Chinese), not some flush at the end, and a
// document that did not get out whole is never reported written. A reader that went
// away is an error of the write, not a signal that ends the program.
class StandardOutput : public QIODevice
{
public:
    StandardOutput();

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;
};
