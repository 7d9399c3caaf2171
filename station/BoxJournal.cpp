#include "station/BoxJournal.h"

#include "core/RuntimeError.h"

#include <QDir>
#include <QFile>

namespace {

const QByteArray kHeader = "# Zantrel 当前外箱（程序自动写入，请勿在运行时修改）\n";
const QByteArray kNumbers = "numbers";
const QByteArray kRemove = "remove";
const QByteArray kPending = "pending";

QByteArray keywordOf(BoxRow::Kind kind)
{
    switch (kind) {
    case BoxRow::OuterLabel: return "outer";
    case BoxRow::MiddleLabel: return "middle";
    case BoxRow::Pack: break;
    }
    return "pack";
}

std::optional<BoxRow::Kind> kindOf(const QByteArray &keyword)
{
    if (keyword == "outer")
        return BoxRow::OuterLabel;
    if (keyword == "middle")
        return BoxRow::MiddleLabel;
    if (keyword == "pack")
        return BoxRow::Pack;
    return std::nullopt;
}

QByteArray escaped(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += "\\\\";
        else if (u < 0x20 || u == 0x7F)
            out += "\\x" + QByteArray::number(int(u), 16).rightJustified(2, '0');
        else
            out += QString(c).toUtf8();
    }
    return out;
}

std::optional<QString> unescaped(const QByteArray &bytes)
{
    QByteArray raw;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\\') {
            raw += bytes[i];
            continue;
        }
        if (i + 1 < bytes.size() && bytes[i + 1] == '\\') {
            raw += '\\';
            ++i;
            continue;
        }
        if (i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            raw += char(value);
            i += 3;
            continue;
        }
        return std::nullopt;
    }
    return QString::fromUtf8(raw);
}

QByteArray numbersLine(int32_t middleNo, int32_t outerNo)
{
    return kNumbers + ' ' + QByteArray::number(middleNo) + ' ' + QByteArray::number(outerNo) + '\n';
}

QByteArray rowLine(const BoxRow &row)
{
    return keywordOf(row.kind) + ' ' + escaped(row.text) + '\n';
}

[[noreturn]] void unreadable(const QString &path, int line)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("BoxJournal"),
                       QStringLiteral("%1 第 %2 行无法识别").arg(QDir::toNativeSeparators(path)).arg(line));
}

} // namespace

QString BoxJournal::fileName()
{
    return QStringLiteral("open-box.txt");
}

int16_t BoxJournal::Saved::packs() const
{
    int16_t n = 0;
    for (const BoxRow &row : rows)
        if (row.kind == BoxRow::Pack && n < INT16_MAX)
            ++n;
    return n;
}

QString BoxJournal::Saved::outerLabel() const
{
    for (const BoxRow &row : rows)
        if (row.kind == BoxRow::OuterLabel)
            return row.text;
    return {};
}

BoxJournal::BoxJournal(const QString &programFolder) : m_log(QDir(programFolder).filePath(fileName())) {}

std::optional<BoxJournal::Saved> BoxJournal::load(const QString &programFolder)
{
    const QString path = QDir(programFolder).filePath(fileName());
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("BoxJournal"),
                           QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    Saved saved;
    const QList<QByteArray> lines = bytes.split('\n');
    // The piece after the last line end is a torn line (or nothing).
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray &line = lines[n];
        const int lineNumber = int(n + 1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray keyword = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
        if (const std::optional<BoxRow::Kind> kind = kindOf(keyword)) {
            const std::optional<QString> text = unescaped(rest);
            if (!text)
                unreadable(path, lineNumber);
            saved.rows.push_back({*kind, *text});
        } else if (keyword == kRemove) {
            if (saved.rows.empty())
                unreadable(path, lineNumber);
            saved.rows.pop_back();
        } else if (keyword == kPending) {
            saved.exportPending = rest == "1";
        } else if (keyword == kNumbers) {
            const QList<QByteArray> parts = rest.split(' ');
            bool okMiddle = false, okOuter = false;
            const int32_t middle = parts.size() == 2 ? parts[0].toInt(&okMiddle) : 0;
            const int32_t outer = parts.size() == 2 ? parts[1].toInt(&okOuter) : 0;
            if (!okMiddle || !okOuter)
                unreadable(path, lineNumber);
            saved.middleNo = middle;
            saved.outerNo = outer;
        } else {
            unreadable(path, lineNumber);
        }
    }
    return saved;
}

void BoxJournal::startWith(const std::vector<BoxRow> &rows, bool exportPending, int32_t middleNo, int32_t outerNo)
{
    QByteArray content = kHeader + numbersLine(middleNo, outerNo);
    for (const BoxRow &row : rows)
        content += rowLine(row);
    if (exportPending)
        content += kPending + " 1\n";
    m_log.replace(content);
}

void BoxJournal::rowAdded(const BoxRow &row)
{
    m_log.append(rowLine(row));
}

void BoxJournal::lastRowRemoved()
{
    m_log.append(kRemove + '\n');
}

void BoxJournal::exportPendingChanged(bool pending)
{
    m_log.append(kPending + (pending ? " 1\n" : " 0\n"));
}

void BoxJournal::emptied(int32_t middleNo, int32_t outerNo)
{
    startWith({}, false, middleNo, outerNo);
}

void BoxJournal::numbersAdvanced(int32_t middleNo, int32_t outerNo)
{
    m_log.append(numbersLine(middleNo, outerNo));
}
