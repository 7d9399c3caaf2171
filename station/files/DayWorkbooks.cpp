#include "station/files/DayWorkbooks.h"

#include "core/RuntimeError.h"
#include "platform/ProfileFile.h"
#include "platform/WorkbookReader.h"
#include "station/files/BoxSheet.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace dayworkbooks {

namespace {

const QString kFolder = QStringLiteral("files");

// The entry of that folder named so whatever its case: folders copied from Windows
// may say Files or 20261207.XLS. The profile file's lookup serves the same purpose.
QString entryIgnoringCase(const QString &folder, const QString &name)
{
    return profile::resolvePath(QDir(folder).filePath(name));
}

} // namespace

QString filesFolder(const QString &programFolder)
{
    return entryIgnoringCase(programFolder, kFolder);
}

QString shownName(const QString &path)
{
    return kFolder + QLatin1Char('/') + QFileInfo(path).fileName();
}

QString fileName(const QDate &date, int number)
{
    const QString day = date.toString(QStringLiteral("yyyyMMdd"));
    return number <= 1 ? day + QStringLiteral(".xls") : day + QStringLiteral("-%1.xls").arg(number);
}

QString path(const QString &programFolder, const QDate &date, int number)
{
    return entryIgnoringCase(filesFolder(programFolder), fileName(date, number));
}

std::optional<Named> named(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{8})(?:-(\\d+))?\\.xls$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(name);
    const QDate day = m.hasMatch() ? QDate::fromString(m.captured(1), QStringLiteral("yyyyMMdd")) : QDate();
    if (!day.isValid())
        return std::nullopt;
    return Named{day, m.captured(2).isEmpty() ? 1 : m.captured(2).toInt()};
}

QString unfinishedPath(const QString &programFolder, const QDateTime &at)
{
    return QDir(filesFolder(programFolder))
        .filePath(QStringLiteral("unfinished-") + at.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".xls"));
}

QStringList unfinishedWorkbooks(const QString &programFolder)
{
    const QDir files(filesFolder(programFolder));
    QStringList paths;
    // The time in the name orders them.
    for (const QString &name : files.entryList({QStringLiteral("unfinished-*.xls")}, QDir::Files, QDir::Name))
        paths << files.filePath(name);
    return paths;
}

QList<int> existing(const QString &programFolder, const QDate &date)
{
    QList<int> numbers;
    if (QFileInfo(path(programFolder, date, 1)).isFile())
        numbers << 1;
    // Continuations are made one after the other, so the first gap ends the search.
    for (int n = 2; QFileInfo(path(programFolder, date, n)).isFile(); ++n)
        numbers << n;
    return numbers;
}

namespace {

std::optional<Use> findIn(const QStringList &files, const QString &label)
{
    for (const QString &file : files) {
        QStringList column;
        try {
            column = workbook::readFirstSheetColumn(file, boxsheet::kOuterLabelColumn);
        } catch (const RuntimeError &) {
            // A workbook that cannot be read is told about by the export; here it can only be skipped.
            continue;
        }
        const qsizetype row = column.indexOf(label);
        if (row >= 0)
            return Use{shownName(file), int32_t(row + 1)};
    }
    return std::nullopt;
}

} // namespace

std::optional<Use> findOuterLabel(const QString &programFolder, const QDate &date, const QString &label)
{
    QStringList files;
    for (const int n : existing(programFolder, date))
        files << path(programFolder, date, n);
    return findIn(files, label);
}

std::optional<Use> findOuterLabelOnAnyDay(const QString &programFolder, const QString &label)
{
    const QDir folder(filesFolder(programFolder));
    QStringList files;
    // Without QDir::CaseSensitive the filter also takes the .XLS of a folder copied from Windows.
    for (const QString &name : folder.entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
        files << folder.filePath(name);
    return findIn(files, label);
}

} // namespace dayworkbooks
