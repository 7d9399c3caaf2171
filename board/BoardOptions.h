#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <chrono>

// How the board is started: the database, where it listens, the token and when a
// station counts as idle. A token is required once the board listens beyond this
// machine, and is then asked of every request.
namespace board {

struct Options
{
    QString url;      // where the board reads: the primary, or a standby
    QString writeUrl; // where decisions and changes go; "" : url
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8765;
    QString token;        // empty: no token, and no decisions can be recorded
    int idleMinutes = 10; // no box for longer: "idle"
    int answerSeconds = 5;      // the longest wait for the record, per statement
    unsigned idleSeconds = 30;  // a connection silent this long is closed
    std::chrono::milliseconds refresh{2500}; // the shared data is read at most this often
};

// The options from the arguments (without the program name); what is wrong is put in
// *problems, one line each in Chinese, and the board must then not start.
Options parseArguments(const QStringList &args, QStringList *problems);

// The token of a token file: its first line without blanks. Told, and "" returned,
// when the file cannot be read, is empty or too short to be hard to guess, or others
// than its owner may read it.
QString readTokenFile(const QString &path, QStringList *problems);

QString usage();

} // namespace board
