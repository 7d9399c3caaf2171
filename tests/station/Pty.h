#pragma once

#include <QFile>
#include <QString>
#include <QTest>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal standing in for the scanner, linked as COM<n> in a program folder.
class Pty
{
public:
    Pty(const QString &folder, int port)
    {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            qFatal("openpty failed");
        termios raw {};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
        m_device = QString::fromLatin1(name);
        m_link = folder + QStringLiteral("/COM%1").arg(port);
        QFile::remove(m_link);
        QFile::link(m_device, m_link);
    }
    ~Pty() { close(); }

    void send(const QByteArray &bytes)
    {
        if (::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qWarning("short write to the pseudo-terminal");
    }
    // The scanner goes away: both ends closed, the link left dangling.
    void close()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }
    const QString &device() const { return m_device; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_device;
    QString m_link;
};
