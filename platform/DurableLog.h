#pragma once

#include "core/RuntimeError.h"

#include <QByteArray>
#include <QString>

// A small file that grows by whole lines, each on disk (fdatasync) before append()
// returns. A failed append raises a RuntimeError of the log's kind and leaves the
// file as it was, so no torn line is ever followed by a good one. DurableLogReader
// reads it back.
class DurableLog
{
public:
    DurableLog(QString path, RuntimeError::Kind kind);
    ~DurableLog();
    DurableLog(const DurableLog &) = delete;
    DurableLog &operator=(const DurableLog &) = delete;

    const QString &path() const { return m_path; }
    void append(const QByteArray &lines);
    // The whole file replaced atomically (the log compacted).
    void replace(const QByteArray &content);

private:
    void open();
    void close();

    QString m_path;
    RuntimeError::Kind m_kind;
    int m_fd = -1;
};
