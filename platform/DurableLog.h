#pragma once

#include "core/RuntimeError.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// A small file that grows by whole lines, each on disk (fdatasync) before append()
// returns. A failed append raises a RuntimeError of the log's kind and leaves the
// file as it was, so no torn line is ever followed by a good one. The file is
// opened by its path for every append, and only a regular file is written: a
// pipe, a device or a folder in its place is refused at once, never waited on.
// DurableLogReader reads it back.
class DurableLog
{
public:
    // Watched: a file that changed since this log last wrote it (cut, written by
    // someone else, moved away, replaced) is not appended to; append() raises
    // RuntimeError::FileChanged instead, and the owner decides.
    enum class Watch { No, Yes };

    DurableLog(QString path, RuntimeError::Kind kind, Watch watch = Watch::No);

    const QString &path() const { return m_path; }
    void append(const QByteArray &lines);
    // The whole file replaced atomically (the log compacted).
    void replace(const QByteArray &content);
    // Whatever is at the path now counts as this log's own (a fresh start after a change).
    void forget() { m_known = false; }

private:
    [[noreturn]] void fail(int err, const QString &what) const;
    void remember(int fd);

    QString m_path;
    RuntimeError::Kind m_kind;
    Watch m_watch;
    // The file as this log last left it.
    bool m_known = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_size = 0;
};
