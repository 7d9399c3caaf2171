#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

class QSerialPort;

// The scanner's serial port: 9600 baud, no parity, 8 data bits, 1 stop bit, no
// flow control. Port number n is the device COMn in the program's folder when it
// exists (usually a link to /dev/ttyUSB0, /dev/ttyACM0 or a pseudo-terminal),
// otherwise /dev/ttyS<n-1>. Every received byte is one character (Latin-1).
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

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    void setCommPort(int16_t number);
    int16_t commPort() const { return m_number; }
    // The device that port number n stands for.
    static QString devicePath(const QString &programFolder, int16_t number);
    QString devicePath() const;

    void setInBufferSize(int bytes);
    void setOutBufferSize(int bytes) { m_outBufferSize = bytes; } // the station never sends
    // 1 or more: a Received event whenever that many characters wait; 0: none are raised,
    // the characters stay buffered for the next event.
    void setRThreshold(int count) { m_rThreshold = count; }
    int rThreshold() const { return m_rThreshold; }
    void setSThreshold(int count) { m_sThreshold = count; }

    bool portOpen() const;
    // Opening raises a RuntimeError naming the port, its device and the system's reason.
    void setPortOpen(bool open);

    int commEvent() const { return m_event; }
    // 0: the next input() takes everything waiting.
    void setInputLen(int count) { m_inputLen = count; }
    QString input();

    // Records the kind and raises onComm; the port's own signals use it, and tests
    // raise line events that a pseudo-terminal cannot produce.
    void raiseEvent(Event kind);

signals:
    // Raised on the user-interface thread; commEvent() tells its kind.
    void onComm();

private:
    void dataArrived();
    bool deviceGone() const;

    QSerialPort *m_port;
    int16_t m_number = 1;
    int m_inBufferSize = 512;
    int m_outBufferSize = 512;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inputLen = 0;
    int m_event = NoEvent;
};
