#include "platform/ProfileFile.h"

#include "core/RuntimeError.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "platform/linux/SystemCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>
#include <vector>

namespace profile {

namespace {

constexpr int kHiddenAttribute = 2;
constexpr int kFolderAttribute = 16;

struct Line
{
    QByteArray content;
    QByteArray ending; // "\r\n", "\n", "\r" or "" for a last line without one
};

std::vector<Line> splitLines(const QByteArray &bytes)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r')
            continue;
        const bool crlf = c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        lines.push_back({bytes.mid(start, i - start), crlf ? "\r\n" : QByteArray(1, c)});
        if (crlf)
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.push_back({bytes.mid(start), QByteArray()});
    return lines;
}

QByteArray blanksTrimmed(const QByteArray &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.mid(b, e - b);
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<QByteArray> sectionName(const QByteArray &trimmed)
{
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    const QByteArray inner = close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1);
    return blanksTrimmed(inner);
}

// The key of an entry line, or nothing for comments and lines without '='.
std::optional<QByteArray> entryKey(const QByteArray &trimmed, qsizetype *equals = nullptr)
{
    if (trimmed.startsWith(';'))
        return std::nullopt;
    const qsizetype eq = trimmed.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    if (equals)
        *equals = eq;
    return blanksTrimmed(trimmed.left(eq));
}

// Where a section's lines are: the header line and one past its last line.
struct SectionSpan
{
    qsizetype header = -1;
    qsizetype end = -1;
    qsizetype keyLine = -1;
    qsizetype lastEntry = -1;
};

SectionSpan locate(const std::vector<Line> &lines, const QByteArray &section, const QByteArray &key)
{
    SectionSpan span;
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        const QByteArray t = blanksTrimmed(lines[size_t(i)].content);
        if (const auto name = sectionName(t)) {
            if (span.header >= 0) {
                span.end = i;
                return span;
            }
            if (sameName(*name, section))
                span.header = i;
            continue;
        }
        if (span.header < 0)
            continue;
        if (const auto k = entryKey(t)) {
            span.lastEntry = i;
            if (span.keyLine < 0 && sameName(*k, key))
                span.keyLine = i;
        }
    }
    if (span.header >= 0)
        span.end = qsizetype(lines.size());
    return span;
}

QByteArray unquoted(const QByteArray &value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

QByteArray lineEndingOf(const std::vector<Line> &lines)
{
    for (const Line &l : lines)
        if (!l.ending.isEmpty())
            return l.ending;
    return "\r\n";
}

// Editors on Windows may put a UTF-8 byte-order mark first; it is no part of the
// first section's header. Removes it and says whether it was there.
const QByteArray kByteOrderMark("\xEF\xBB\xBF");

bool takeByteOrderMark(QByteArray &bytes)
{
    if (!bytes.startsWith(kByteOrderMark))
        return false;
    bytes.remove(0, kByteOrderMark.size());
    return true;
}

// Nothing when the file is not there; raises when something that cannot be read is.
std::optional<QByteArray> readAll(const QString &path)
{
    try {
        return regularfile::read(path, regularfile::kConfigLimit);
    } catch (const RuntimeError &e) {
        throw RuntimeError(RuntimeError::PathNotFound, QStringLiteral("GetPrivateProfileString"),
                           QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), e.description()));
    }
}

bool isHiddenName(const QString &name)
{
    return name.startsWith(QLatin1Char('.'));
}

bool acceptable(const QFileInfo &info, int attributes)
{
    if (isHiddenName(info.fileName()) && !(attributes & kHiddenAttribute))
        return false;
    if (info.isDir())
        return attributes & kFolderAttribute;
    return info.isFile();
}

} // namespace

QString resolvePath(const QString &spelledPath)
{
    QString path = spelledPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty())
        return path;
    QDir dir = info.dir();
    const QString lower = name.toLower();
    QString found;
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                              QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (entry == lower)
            return dir.filePath(entry);
        if (entry == name || found.isEmpty())
            found = entry;
    }
    return dir.filePath(found.isEmpty() ? lower : found);
}

std::optional<QString> readValue(const QString &path, const QString &section, const QString &key,
                                 int32_t bufferSize)
{
    std::optional<QByteArray> bytes = readAll(path);
    if (!bytes)
        return std::nullopt;
    takeByteOrderMark(*bytes);
    const std::vector<Line> lines = splitLines(*bytes);
    const SectionSpan span = locate(lines, section.toUtf8(), key.toUtf8());
    if (span.keyLine < 0)
        return std::nullopt;
    const QByteArray t = blanksTrimmed(lines[size_t(span.keyLine)].content);
    qsizetype eq = 0;
    entryKey(t, &eq);
    const QString value = QString::fromUtf8(unquoted(blanksTrimmed(t.mid(eq + 1))));
    return value.left(std::max<int32_t>(0, bufferSize - 1));
}

void writeValue(const QString &path, const QString &section, const QString &key, const QString &text)
{
    // A file that cannot be read is never replaced: readAll raises.
    QByteArray old = readAll(path).value_or(QByteArray());
    const bool hadMark = takeByteOrderMark(old);
    std::vector<Line> lines = splitLines(old);
    const QByteArray eol = lineEndingOf(lines);
    const SectionSpan span = locate(lines, section.toUtf8(), key.toUtf8());
    const QByteArray value = text.toUtf8();

    if (span.keyLine >= 0) {
        // Keep the stored spelling of the key and the line's own ending.
        Line &line = lines[size_t(span.keyLine)];
        const QByteArray t = blanksTrimmed(line.content);
        line.content = *entryKey(t) + '=' + value;
    } else {
        std::vector<Line> added;
        qsizetype at = qsizetype(lines.size());
        if (span.header >= 0) {
            at = (span.lastEntry >= 0 ? span.lastEntry : span.header) + 1;
        } else {
            added.push_back({'[' + section.toUtf8() + ']', eol});
        }
        added.push_back({key.toUtf8() + '=' + value, eol});
        if (at > 0 && lines[size_t(at - 1)].ending.isEmpty())
            lines[size_t(at - 1)].ending = eol;
        lines.insert(lines.begin() + at, added.begin(), added.end());
    }

    QByteArray bytes;
    bytes.reserve(old.size() + value.size() + 64);
    if (hadMark)
        bytes += kByteOrderMark;
    for (const Line &l : lines)
        bytes += l.content + l.ending;
    replaceFileAtomically(path, bytes);
}

void createEmptyFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // Only where nothing is: opening a pipe or a device for writing could block, and a
    // link must not make its target appear.
    const int fd = sys::openForWriting(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST)
        return; // the write that follows reads it, and tells what it is
    if (fd < 0)
        throw RuntimeError::fromErrno(errno, QStringLiteral("Open"), QStringLiteral("无法创建 %1").arg(path));
    ::close(fd);
}

QString findFirst(const QString &spelledPath, int attributes)
{
    QString path = spelledPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(path);
    const QString pattern = info.fileName();
    if (pattern.isEmpty())
        return {};
    const QDir dir = info.dir();
    if (!dir.exists())
        return {};
    const QByteArray patternBytes = QFile::encodeName(pattern);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                              QDir::Name);
    for (const QString &entry : entries) {
        if (::fnmatch(patternBytes.constData(), QFile::encodeName(entry).constData(), FNM_CASEFOLD) != 0)
            continue;
        if (acceptable(QFileInfo(dir.filePath(entry)), attributes))
            return entry;
    }
    return {};
}

} // namespace profile
