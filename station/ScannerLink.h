#pragma once

#include "core/RuntimeError.h"
#include "platform/SerialPort.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class MessageBox;

// The scanner's line as the station keeps it: opened once configured, reopened
// after a failed scan, and when the device vanishes or cannot be opened, told
// once and looked for every second until it is back.
class ScannerLink : public QObject
{
    Q_OBJECT
public:
    // How often a vanished or unopenable scanner is looked for again.
    static constexpr int kReconnectIntervalMs = 1000;

    explicit ScannerLink(MessageBox &messages, QObject *parent = nullptr);

    SerialPort &port() { return m_port; }
    const SerialPort &port() const { return m_port; }
    // Fires at every attempt to find a vanished scanner again.
    const QTimer &reconnectTimer() const { return m_reconnect; }

    // Takes port number n and opens it with receive events on; a failure is told.
    void open(int16_t number);
    // Closes the port if open and opens it; the failure, if any, is returned.
    std::optional<RuntimeError> reopen();
    // Tells the operator once and starts looking for the scanner again.
    void reportProblem(const QString &what);
    // The device went away under an open port.
    void reportGone();
    // "扫描枪 COM1 → /dev/ttyACM0", or that it is not connected.
    QString describe() const;

signals:
    // What describe() says may have changed.
    void changed();

private:
    void tryReconnect();

    MessageBox &m_messages;
    SerialPort m_port;
    QTimer m_reconnect;
};
