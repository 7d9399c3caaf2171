// zantrel-board: the line's board, a web page of every station, the output per hour,
// a lookup of packs and boxes, and the packs found in two boxes, with a supervisor's
// decision on each. Reads the plant record as zantrel_reader; a decision goes in as
// zantrel_supervisor, and only when the board was started with a token. Over a company's
// database (zantrel-db company init) it shows the plants, then their stations, read only.
//
//   zantrel-board --db URL [--listen ADDR:PORT --token-file FILE] [--idle-minutes N]
//
// Prints the page's address on stdout once it listens. Exit status: 2 when it cannot
// start (told on stderr).
#include "board/BoardOptions.h"
#include "board/BoardServer.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

constexpr int kError = 2;

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList problems;
    const board::Options options = board::parseArguments(app.arguments().mid(1), &problems);
    if (!problems.isEmpty()) {
        for (const QString &p : problems)
            std::fprintf(stderr, "zantrel-board：%s\n", local(p).constData());
        std::fprintf(stderr, "%s\n", local(board::usage()).constData());
        return kError;
    }
    // The record is read on the snapshot's own thread from now on; a failure is told
    // on stderr and on the page, and reading goes on until the record answers.
    board::BoardServer server(options);
    const quint16 port = server.start();
    if (port == 0) {
        std::fprintf(stderr, "zantrel-board：无法在 %s:%u 上监听（端口可能已被占用）\n",
                     local(options.address.toString()).constData(), unsigned(options.port));
        return kError;
    }
    const QString host = options.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + options.address.toString() + QLatin1Char(']')
                             : options.address.toString();
    std::printf("http://%s:%u/\n", local(host).constData(), unsigned(port));
    std::fflush(stdout);
    return app.exec();
}
