#include "platform/SerialPort.h"

#include "core/RuntimeError.h"
#include "platform/ProgramEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <poll.h>

SerialPort::SerialPort(QObject *parent) : QObject(parent), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::dataArrived);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
            return;
        // A read failed. Qt reports a vanished device as either kind, so look at the
        // device itself: a hung-up line or a missing device node means it is gone.
        if (deviceGone()) {
            m_port->close();
            raiseEvent(DeviceGone);
        } else {
            m_port->clearError();
            raiseEvent(LineError);
        }
    });
}

SerialPort::~SerialPort() = default;

bool SerialPort::deviceGone() const
{
    if (!QFileInfo::exists(m_port->portName()))
        return true;
    pollfd p {int(m_port->handle()), POLLIN, 0};
    if (p.fd < 0)
        return true;
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void SerialPort::setCommPort(int16_t number)
{
    m_number = number;
}

QString SerialPort::devicePath(const QString &programFolder, int16_t number)
{
    const QString link = QDir(programFolder).filePath(QStringLiteral("COM%1").arg(number));
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink())
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

QString SerialPort::devicePath() const
{
    return devicePath(program::folder(), m_number);
}

void SerialPort::setInBufferSize(int bytes)
{
    m_inBufferSize = bytes;
    m_port->setReadBufferSize(bytes);
}

bool SerialPort::portOpen() const
{
    return m_port->isOpen();
}

void SerialPort::setPortOpen(bool open)
{
    if (!open) {
        m_port->close();
        return;
    }
    const QString device = devicePath();
    const QString name = QStringLiteral("COM%1 (%2)").arg(m_number).arg(device);
    if (m_number < 1)
        throw RuntimeError(RuntimeError::PortOpenFailed, QStringLiteral("MSComm1"),
                           QStringLiteral("%1: invalid port number").arg(name));
    if (m_port->isOpen())
        throw RuntimeError(8005, QStringLiteral("MSComm1"), QStringLiteral("%1: port already open").arg(name));
    m_port->setPortName(QFileInfo(device).absoluteFilePath());
    m_port->setReadBufferSize(m_inBufferSize);
    if (!m_port->open(QIODevice::ReadWrite))
        throw RuntimeError(RuntimeError::PortOpenFailed, QStringLiteral("MSComm1"),
                           QStringLiteral("%1: %2").arg(name, m_port->errorString()));
    const bool lineSet = m_port->setBaudRate(QSerialPort::Baud9600) && m_port->setDataBits(QSerialPort::Data8)
                         && m_port->setParity(QSerialPort::NoParity) && m_port->setStopBits(QSerialPort::OneStop)
                         && m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!lineSet) {
        const QString reason = m_port->errorString();
        m_port->close();
        throw RuntimeError(RuntimeError::PortOpenFailed, QStringLiteral("MSComm1"),
                           QStringLiteral("%1: cannot set 9600 8N1: %2").arg(name, reason));
    }
    m_port->clearError();
}

QString SerialPort::input()
{
    const QByteArray bytes = m_inputLen > 0 ? m_port->read(m_inputLen) : m_port->readAll();
    return QString::fromLatin1(bytes);
}

void SerialPort::raiseEvent(Event kind)
{
    m_event = kind;
    emit onComm();
}

void SerialPort::dataArrived()
{
    if (m_rThreshold > 0 && m_port->bytesAvailable() >= m_rThreshold)
        raiseEvent(Received);
}
