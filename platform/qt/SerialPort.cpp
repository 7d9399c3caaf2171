#include "platform/SerialPort.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/ProgramEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>
#include <poll.h>
#include <sys/ioctl.h>
#include <utility>

namespace {

const QString kSource = QStringLiteral("MSComm1");

// The reason an open failed, in Chinese, with Qt's words kept.
QString openFailure(const QSerialPort &port)
{
    QString chinese;
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        chinese = QStringLiteral("设备不存在");
        break;
    case QSerialPort::PermissionError:
        chinese = QStringLiteral("没有权限，或设备正被其他程序使用");
        break;
    case QSerialPort::OpenError:
        chinese = QStringLiteral("设备已被打开");
        break;
    case QSerialPort::ResourceError:
        chinese = reason::deviceGone();
        break;
    default:
        chinese = QStringLiteral("无法打开设备");
        break;
    }
    return reason::withSystemText(chinese, port.errorString());
}

} // namespace

SerialPort::SerialPort(QObject *parent) : QObject(parent), m_port(new QSerialPort(this))
{
    // No read buffer limit: a full Qt buffer switches the device's read notifier off,
    // and then neither data nor a hang-up is ever seen again. The port drains the
    // device into its own buffer instead, bounded by kMaxWaiting.
    m_port->setReadBufferSize(0);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::drainDevice);
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
    if (number != m_number)
        m_linkOnly = false;
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
    if (m_linkOnly)
        return QDir(program::folder()).filePath(QStringLiteral("COM%1").arg(m_number));
    return devicePath(program::folder(), m_number);
}

void SerialPort::setRThreshold(int count)
{
    m_rThreshold = count;
    // Characters that came while events were off get their own event, queued so that
    // the handler that switched events back on has returned first.
    if (count > 0 && inBufferCount() > 0)
        QTimer::singleShot(0, this, &SerialPort::raiseIfWaiting);
}

qsizetype SerialPort::inBufferCount() const
{
    return m_waiting.size() + m_port->bytesAvailable();
}

void SerialPort::raiseIfWaiting()
{
    takeFromDevice();
    if (m_rThreshold > 0 && m_waiting.size() >= m_rThreshold)
        raiseEvent(Received);
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
        throw RuntimeError(RuntimeError::PortOpenFailed, kSource, QStringLiteral("%1：串口号无效").arg(name), RuntimeError::Kind::Port);
    if (m_port->isOpen())
        throw RuntimeError(RuntimeError::PortOpenFailed, kSource, QStringLiteral("%1：串口已打开").arg(name), RuntimeError::Kind::Port);
    if (m_linkOnly && !QFileInfo::exists(device))
        throw RuntimeError(RuntimeError::PortOpenFailed, kSource,
                           QStringLiteral("%1：%2").arg(name, reason::deviceGone()), RuntimeError::Kind::Port);
    m_port->setPortName(QFileInfo(device).absoluteFilePath());
    if (!m_port->open(QIODevice::ReadWrite))
        throw RuntimeError(RuntimeError::PortOpenFailed, kSource, QStringLiteral("%1：%2").arg(name, openFailure(*m_port)), RuntimeError::Kind::Port);
    const bool lineSet = m_port->setBaudRate(QSerialPort::Baud9600) && m_port->setDataBits(QSerialPort::Data8)
                         && m_port->setParity(QSerialPort::NoParity) && m_port->setStopBits(QSerialPort::OneStop)
                         && m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!lineSet) {
        const QString why = reason::withSystemText(QStringLiteral("无法设置 9600 8N1"), m_port->errorString());
        m_port->close();
        throw RuntimeError(RuntimeError::PortOpenFailed, kSource, QStringLiteral("%1：%2").arg(name, why), RuntimeError::Kind::Port);
    }
    m_port->clearError();
    if (device == QDir(program::folder()).filePath(QStringLiteral("COM%1").arg(m_number)))
        m_linkOnly = true;
}

QByteArray SerialPort::input()
{
    takeFromDevice();
    return std::exchange(m_waiting, QByteArray());
}

qint64 SerialPort::discardWaiting()
{
    if (!m_port->isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(int(m_port->handle()), FIONREAD, &queued) != 0)
        queued = 0; // only what is counted is reported; the flush below still empties it
    const qint64 discarded = m_waiting.size() + m_port->bytesAvailable() + queued;
    m_waiting.clear();
    m_port->clear(QSerialPort::Input);
    m_port->readAll(); // whatever Qt had buffered already
    return discarded;
}

qint64 SerialPort::takeDropped()
{
    const qint64 dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}

void SerialPort::raiseEvent(Event kind)
{
    m_event = kind;
    emit onComm();
}

void SerialPort::drainDevice()
{
    takeFromDevice();
    // Queued: Qt emits no readyRead while a readyRead handler runs, and a scan's
    // handling (waits, messages) must not run inside one.
    if (m_rThreshold > 0 && !m_waiting.isEmpty())
        QTimer::singleShot(0, this, &SerialPort::raiseIfWaiting);
}

void SerialPort::takeFromDevice()
{
    m_waiting += m_port->readAll();
    if (m_waiting.size() > kMaxWaiting) {
        const qsizetype excess = m_waiting.size() - kMaxWaiting;
        m_dropped += excess;
        m_waiting.remove(0, excess);
    }
}
