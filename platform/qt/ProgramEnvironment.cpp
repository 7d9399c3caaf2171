#include "platform/ProgramEnvironment.h"

#include <QCoreApplication>
#include <cstdlib>
#include <unistd.h>

namespace program {

namespace {
QString g_folder;
std::function<QDateTime()> g_clock;
std::function<void()> g_endHandler;
} // namespace

QString folder()
{
    if (g_folder.isEmpty() && QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return g_folder;
}

void setFolder(const QString &f)
{
    g_folder = f;
}

QDateTime now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

void setClock(std::function<QDateTime()> clock)
{
    g_clock = std::move(clock);
}

void endNow()
{
    if (g_endHandler) {
        g_endHandler();
        return;
    }
    // Every write of the station is already on disk (fsync'd), so nothing is lost by
    // skipping destructors; running them while nested event loops are active is not safe.
    ::_exit(0);
}

void setEndHandler(std::function<void()> handler)
{
    g_endHandler = std::move(handler);
}

} // namespace program
