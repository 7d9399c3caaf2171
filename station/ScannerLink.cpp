#include "station/ScannerLink.h"

#include "core/SystemReason.h"
#include "platform/MessageBox.h"

#include <QFileInfo>

ScannerLink::ScannerLink(MessageBox &messages, QObject *parent) : QObject(parent), m_messages(messages)
{
    m_reconnect.setInterval(kReconnectIntervalMs);
    connect(&m_reconnect, &QTimer::timeout, this, &ScannerLink::tryReconnect);
}

void ScannerLink::open(int16_t number)
{
    m_port.setCommPort(number);
    m_port.setRThreshold(1);
    if (const std::optional<RuntimeError> failure = reopen())
        reportProblem(failure->description());
}

std::optional<RuntimeError> ScannerLink::reopen()
{
    try {
        if (m_port.portOpen())
            m_port.setPortOpen(false);
        m_port.setPortOpen(true);
        m_reconnect.stop();
        return std::nullopt;
    } catch (const RuntimeError &e) {
        return e; // the caller decides what the operator is told
    }
}

void ScannerLink::reportProblem(const QString &what)
{
    // Told once; the port is then looked for every second until it is back.
    if (m_reconnect.isActive())
        return;
    m_reconnect.start();
    emit changed();
    m_messages.show(QStringLiteral("无法使用扫描枪串口 %1\n扫描枪重新连接后将自动恢复，无需重新启动。").arg(what));
}

void ScannerLink::reportGone()
{
    reportProblem(QStringLiteral("COM%1（%2）：%3").arg(m_port.commPort()).arg(m_port.devicePath(), reason::deviceGone()));
    m_port.setRThreshold(1);
}

QString ScannerLink::describe() const
{
    if (!m_port.portOpen())
        return QStringLiteral("扫描枪 COM%1 未连接").arg(m_port.commPort());
    const QFileInfo device(m_port.devicePath());
    return QStringLiteral("扫描枪 COM%1 → %2")
        .arg(m_port.commPort())
        .arg(device.isSymLink() ? device.symLinkTarget() : device.absoluteFilePath());
}

void ScannerLink::tryReconnect()
{
    if (m_port.portOpen()) {
        m_reconnect.stop();
        return;
    }
    try {
        m_port.setPortOpen(true);
        m_port.setRThreshold(1);
        m_reconnect.stop();
        emit changed();
    } catch (const RuntimeError &) {
        // Still absent: already reported once; the timer looks again.
    }
}
