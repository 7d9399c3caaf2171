// Scanner simulator: makes a pseudo-terminal, links it as COM<n> in a program
// folder and sends every line (from the arguments, else from standard input) as
// one scan followed by CR LF, like a barcode scanner on a serial port.
//
//   scanner-sim --folder build/station [--port 1] [--paced] [--hold-ms 500] [BARCODE ...]

#include "RawPty.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One character at 9600 baud, 8N1: ten bit times.
constexpr auto kCharacterTime = std::chrono::microseconds(1042);

struct Options
{
    std::string folder = ".";
    int port = 1;
    bool paced = false;
    int holdMs = 500;
    std::vector<std::string> scans;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: scanner-sim --folder DIR [--port N] [--paced] [--hold-ms MS] [BARCODE ...]\n");
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (a == "--folder")
            o.folder = value();
        else if (a == "--port")
            o.port = std::atoi(value().c_str());
        else if (a == "--paced")
            o.paced = true;
        else if (a == "--hold-ms")
            o.holdMs = std::atoi(value().c_str());
        else if (a == "--help" || a == "-h")
            usage();
        else
            o.scans.push_back(a);
    }
    return o;
}

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool sendScan(int master, const std::string &barcode, bool paced)
{
    const std::string scan = barcode + "\r\n";
    if (!paced)
        return sendAll(master, scan.data(), scan.size());
    for (char c : scan) {
        if (!sendAll(master, &c, 1))
            return false;
        std::this_thread::sleep_for(kCharacterTime);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    RawPty pty;
    if (!openRawPty(pty))
        return 1;
    const int master = pty.master;
    const char *name = pty.path.c_str();

    // Replace the link in one step, so the station never sees it missing.
    const std::string link = o.folder + "/COM" + std::to_string(o.port);
    const std::string tmp = link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(name, tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "cannot link %s -> %s: %s\n", link.c_str(), name, std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "scanner ready: %s -> %s\n", link.c_str(), name);

    bool ok = true;
    if (!o.scans.empty()) {
        for (const std::string &s : o.scans)
            ok = ok && sendScan(master, s, o.paced);
        std::this_thread::sleep_for(std::chrono::milliseconds(o.holdMs));
    } else {
        std::fprintf(stderr, "type a barcode and press Enter to scan it; Ctrl-D ends the scanner\n");
        std::string line;
        while (ok && std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ok = sendScan(master, line, o.paced);
        }
    }
    ::close(pty.slave);
    ::close(master);
    return ok ? 0 : 1;
}
