#include "platform/AtomicFile.h"

#include <optional>

#include "core/RuntimeError.h"
#include "platform/linux/SystemCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include "platform/FaultSeam.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int injected(faultseam::Point step)
{
    return faultseam::at(step);
}

[[noreturn]] void fail(int err, const QString &path, const QString &what)
{
    throw RuntimeError::fromErrno(err, QStringLiteral("replaceFileAtomically"),
                                  QStringLiteral("%1 %2").arg(what, path));
}

// Removes the temporary file on every way out unless it was renamed into place.
struct TemporaryFile
{
    QByteArray path;
    int fd = -1;
    bool renamed = false;
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!renamed && !path.isEmpty())
            sys::removePath(path.constData());
    }
};

} // namespace


void replaceFileAtomically(const QString &path, const QByteArray &content)
{
    replaceFileAtomically(path, [&](int fd) { return sys::writeAll(fd, content.constData(), size_t(content.size())); });
}

namespace {

void replaceWithMode(const QString &path, const std::function<int(int fd)> &write, std::optional<mode_t> forced)
{
    const QByteArray target = QFile::encodeName(path);
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray folderName = QFile::encodeName(folder);

    // The new file keeps the old one's permissions; a new file gets the usual 0644.
    mode_t mode = 0644;
    struct stat old {};
    if (forced)
        mode = *forced;
    else if (::stat(target.constData(), &old) == 0)
        mode = old.st_mode & 07777;

    TemporaryFile tmp;
    tmp.path = target + ".tmp-XXXXXX";
    int err = injected(faultseam::Point::CreateTemporary);
    if (err == 0) {
        tmp.fd = sys::makeTemporary(tmp.path.data());
        if (tmp.fd < 0)
            err = errno;
    }
    if (err != 0) {
        tmp.path.clear(); // nothing was created
        fail(err, folder, QStringLiteral("无法在此文件夹中创建临时文件"));
    }
    if ((err = injected(faultseam::Point::Write)) != 0 || (::fchmod(tmp.fd, mode) != 0 && (err = errno))
        || (err = write(tmp.fd)) != 0)
        fail(err, path, QStringLiteral("无法写入"));
    if ((err = injected(faultseam::Point::SyncFile)) != 0 || (sys::syncFile(tmp.fd, false) != 0 && (err = errno)))
        fail(err, path, QStringLiteral("无法写入磁盘"));
    ::close(tmp.fd);
    tmp.fd = -1;
    if ((err = injected(faultseam::Point::Rename)) != 0
        || (sys::renamePath(tmp.path.constData(), target.constData()) != 0 && (err = errno)))
        fail(err, path, QStringLiteral("无法替换"));
    tmp.renamed = true;

    // The new content is in place and whole. A failing folder sync only weakens
    // durability across a power cut; reporting it as a failed replace would make
    // callers redo work that already landed (a box appended twice), so it is not raised.
    if (injected(faultseam::Point::SyncFolder) != 0)
        return;
    sys::syncFolder(folderName.constData());
}

} // namespace

void replaceFileAtomically(const QString &path, const std::function<int(int fd)> &write)
{
    replaceWithMode(path, write, std::nullopt);
}

void replacePrivateFileAtomically(const QString &path, const QByteArray &content)
{
    replaceWithMode(path, [&](int fd) { return sys::writeAll(fd, content.constData(), size_t(content.size())); }, mode_t(0600));
}

int removeLeftoverTemporaries(const QString &folder, const QStringList &fileNamePatterns)
{
    // mkstemp's six characters: letters and digits.
    static const QRegularExpression suffix(QStringLiteral("^(.+)\\.tmp-[A-Za-z0-9]{6}$"));
    int removed = 0;
    const QDir dir(folder);
    for (const QString &entry : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = suffix.match(entry);
        if (!m.hasMatch() || !QDir::match(fileNamePatterns, m.captured(1)))
            continue;
        if (sys::removePath(QFile::encodeName(dir.filePath(entry)).constData()) == 0)
            ++removed;
    }
    return removed;
}
