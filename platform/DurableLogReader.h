#pragma once

#include "core/RuntimeError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

// Reads back a file that DurableLog wrote: whole lines, each "keyword rest", with
// blank lines and lines starting with '#' left out. What follows the last line end
// was torn by a crash and is not a line. The file is read whole, as a regular file
// within a bound; its kind and number mark every failure it raises.
class DurableLogReader
{
public:
    struct Line
    {
        int number = 0;     // counted from 1 over every line of the file
        qsizetype from = 0; // where it starts in bytes()
        qsizetype to = 0;   // just past its line end
        QByteArray keyword;
        QByteArray rest;    // after the first blank
    };

    // Raises "无法读取 PATH：why" when the file is there but cannot be read as one.
    DurableLogReader(const QString &path, int64_t limit, RuntimeError::Kind kind, int number, const QString &source);

    bool exists() const { return m_exists; }
    // The next line with content; false after the last whole line.
    bool next(Line &line);
    // Whether something follows the last line end (valid once next() returned false).
    bool tornTail() const { return m_pos < m_bytes.size(); }
    // "PATH 第 N 行无法识别", of this log's kind.
    [[noreturn]] void unreadable(const Line &line) const;
    QByteArray &bytes() { return m_bytes; }
    const QString &path() const { return m_path; }

    // A damaged log renamed beside itself, NAME.damaged-yyyyMMdd-HHmmss.txt, so that a
    // person can look into it and a new one can begin. The new name, or "" when the
    // rename failed.
    static QString setAside(const QString &path, const QDateTime &at);

private:
    QString m_path;
    RuntimeError::Kind m_kind;
    int m_number;
    QString m_source;
    QByteArray m_bytes;
    bool m_exists = false;
    qsizetype m_pos = 0;
    int m_lineNumber = 0;
};
