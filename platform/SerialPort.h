#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

class QSerialPort;

// The scanner's serial port: 9600 baud, no parity, 8 data bits, 1 stop bit, no
// flow control. Port number n is the device COMn in the program's folder when it
// exists (usually a link to /dev/ttyUSB0, /dev/ttyACM0 or a pseudo-terminal),
// otherwise /dev/ttyS<n-1>. Counts are of bytes, as the scanner sent them.
//
// The device is read whenever it has data, whatever the receive threshold: a line
// that is not drained stops reporting both data and a vanished device.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    // Kinds of communication event.
    enum Event : int {
        NoEvent = 0,
        Received = 2,     // characters are waiting
        LineError = 1004, // the line reported a read error
        DeviceGone = 1100 // the device disappeared (adapter unplugged, scanner simulator ended)
    };

    // Input kept while nobody reads it; beyond this the oldest characters are dropped
    // and counted (a runaway device must not eat the memory).
    static constexpr qsizetype kMaxWaiting = 1 << 20;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // A new number also forgets which device the previous one reached.
    void setCommPort(int16_t number);
    int16_t commPort() const { return m_number; }
    // The device that port number n stands for.
    static QString devicePath(const QString &programFolder, int16_t number);
    // Once a port has been opened through COMn in the program's folder, only that
    // link is ever looked for again: /dev/ttyS<n-1> is some other device.
    QString devicePath() const;

    // 1 or more: a Received event whenever that many characters wait, also when the
    // threshold comes back while characters are waiting; 0: none are raised, the
    // characters stay buffered for the next event.
    void setRThreshold(int count);
    int rThreshold() const { return m_rThreshold; }

    bool portOpen() const;
    // Opening raises a RuntimeError naming the port, its device and the reason.
    void setPortOpen(bool open);

    int commEvent() const { return m_event; }
    // Characters waiting to be read.
    qsizetype inBufferCount() const;
    // Every byte waiting, removed from the buffer; the scanner's encoding decodes it.
    QByteArray input();
    // Characters dropped because the buffer was full since the last call; resets it.
    qint64 takeDropped();
    // Everything that arrived before now, the system's queue included, thrown away
    // (as a line that no program listened to would have lost it); how many bytes.
    qint64 discardWaiting();

    // Records the kind and raises onComm; the port's own signals use it, and tests
    // raise line events that a pseudo-terminal cannot produce.
    void raiseEvent(Event kind);

signals:
    // Raised on the user-interface thread; commEvent() tells its kind.
    void onComm();

private:
    void drainDevice();
    void takeFromDevice();
    void raiseIfWaiting();
    bool deviceGone() const;

    QSerialPort *m_port;
    int16_t m_number = 1;
    bool m_linkOnly = false;
    int m_rThreshold = 0;
    int m_event = NoEvent;
    QByteArray m_waiting;
    qint64 m_dropped = 0;
};
