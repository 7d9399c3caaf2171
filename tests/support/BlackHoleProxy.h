#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A proxy in front of a test server's Unix socket that can swallow one connection
// at the moment its client sends a given text: the text still reaches the server,
// then nothing passes either way and the server's side is never closed, as when a
// network drops a connection without a word. Later connections pass as before.
// It works while the test's event loop runs (QTRY_* waits).
class BlackHoleProxy
{
public:
    // In front of a PostgreSQL server's socket: clients connect with url().
    BlackHoleProxy(const QString &serverSocket, int port)
        : m_serverSocket(serverSocket), m_port(port), m_path(QStringLiteral("%1/.s.PGSQL.%2").arg(m_dir.path()).arg(port))
    {
        listen();
    }
    // In front of any server's socket: clients connect to socket().
    explicit BlackHoleProxy(const QString &serverSocket)
        : m_serverSocket(serverSocket), m_port(0), m_path(m_dir.path() + QStringLiteral("/proxy.sock"))
    {
        listen();
    }

    QString socket() const { return m_path; }

    bool listening() const { return m_listening; }
    QString url(const QString &user, const QString &db) const
    {
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4").arg(m_dir.path()).arg(m_port).arg(db, user);
    }
    // The next connection whose client sends this text is swallowed after it.
    void swallowAfter(const QByteArray &text) { m_trigger = text; }
    int swallowed() const { return m_swallowed; }

private:
    void listen()
    {
        QLocalServer::removeServer(m_path);
        m_listening = m_server.listen(m_path);
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] { accept(); });
    }

    void accept()
    {
        while (QLocalSocket *client = m_server.nextPendingConnection()) {
            auto *server = new QLocalSocket(&m_server);
            server->connectToServer(m_serverSocket);
            if (!server->waitForConnected(5000)) {
                client->disconnectFromServer();
                continue;
            }
            auto gone = std::make_shared<bool>(false); // swallowed: nothing passes any more
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client, server, gone] {
                const QByteArray bytes = client->readAll();
                if (*gone)
                    return;
                server->write(bytes);
                if (!m_trigger.isEmpty() && bytes.contains(m_trigger)) {
                    m_trigger.clear();
                    *gone = true;
                    ++m_swallowed;
                }
            });
            QObject::connect(server, &QLocalSocket::readyRead, server, [client, server, gone] {
                const QByteArray bytes = server->readAll();
                if (!*gone)
                    client->write(bytes);
            });
            QObject::connect(client, &QLocalSocket::disconnected, client, [server, gone] {
                if (!*gone)
                    server->disconnectFromServer();
            });
            QObject::connect(server, &QLocalSocket::disconnected, server, [client, gone] {
                if (!*gone)
                    client->disconnectFromServer();
            });
        }
    }

    QTemporaryDir m_dir;
    QString m_serverSocket;
    int m_port;
    QString m_path;
    QLocalServer m_server;
    bool m_listening = false;
    QByteArray m_trigger;
    int m_swallowed = 0;
};
