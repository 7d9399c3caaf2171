#include "station/files/RefusalRecord.h"

#include "core/LineCodec.h"
#include "core/RuntimeError.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QStringList>

namespace refusalrecord {

namespace {

const QString kScanEnd = QStringLiteral("\r\n");

QByteArray escaped(const QString &text, bool bytes)
{
    return linecodec::escaped(text, bytes ? linecodec::Escape::NonAscii : linecodec::Escape::Controls, linecodec::Hex::Upper);
}

} // namespace

QString fileName(const QDate &day)
{
    return QStringLiteral("refused-%1.txt").arg(day.toString(QStringLiteral("yyyyMMdd")));
}

QStringList piecesOf(const QString &text)
{
    QStringList pieces = text.split(kScanEnd);
    if (pieces.size() > 1 && pieces.last().isEmpty())
        pieces.removeLast(); // the terminator of the last scan, not a piece of its own
    return pieces;
}

QString record(const QString &filesFolder, const QDateTime &at, const QString &reason, const QString &text, bool bytes,
               const QString &operatorId)
{
    const QStringList pieces = piecesOf(text);
    const QByteArray stamp = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
    QByteArray lines;
    for (qsizetype i = 0; i < pieces.size(); ++i)
        lines += stamp + '\t' + reason.toUtf8() + '\t' + QByteArray::number(i + 1) + '/' + QByteArray::number(pieces.size())
                 + '\t' + escaped(pieces[i], bytes) + (operatorId.isEmpty() ? QByteArray() : '\t' + escaped(operatorId, false)) + '\n';
    if (const QString why = regularfile::makeFolders(filesFolder); !why.isEmpty())
        return QStringLiteral("无法创建文件夹 %1（%2）").arg(QDir::toNativeSeparators(filesFolder), why);
    const QString path = QDir(filesFolder).filePath(fileName(at.date()));
    try {
        regularfile::append(path, lines);
    } catch (const RuntimeError &e) {
        return QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), e.description());
    }
    return {};
}

} // namespace refusalrecord
