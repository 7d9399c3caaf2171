#include "station/files/RefusedScan.h"

#include "station/files/RefusalRecord.h"

#include "core/LineCodec.h"

#include <QStringList>

namespace refused {

namespace {

// Pieces listed in full up to this many; beyond it the first and last few.
constexpr qsizetype kListedInFull = 8;
constexpr qsizetype kShownAtEachEnd = 3;
// A piece longer than this is cut: a message box must stay on the screen.
constexpr qsizetype kShownCharacters = 40;

bool isControl(QChar c)
{
    return linecodec::isControl(c.unicode());
}

} // namespace

std::optional<qsizetype> firstControlCharacter(const QString &barcode, std::optional<char16_t> allowed)
{
    for (qsizetype i = 0; i < barcode.size(); ++i)
        if (isControl(barcode[i]) && barcode[i].unicode() != allowed)
            return i;
    return std::nullopt;
}

QString readable(const QString &text)
{
    QString out;
    const qsizetype shown = std::min(text.size(), kShownCharacters);
    for (qsizetype i = 0; i < shown; ++i)
        out += linecodec::shown(text[i]);
    if (text.size() > shown)
        out += QStringLiteral("……（共 %1 个字符）").arg(text.size());
    return out;
}

QString wrongLengthDetails(const QString &text, int16_t expectedLength, qint64 dropped, const QString &recordedIn)
{
    const QStringList pieces = refusalrecord::piecesOf(text);
    QStringList lines;
    if (expectedLength > 0)
        lines << QStringLiteral("收到 %1 个字符（每次扫描应为 %2 个），按回车换行分为 %3 段：")
                     .arg(text.size()).arg(expectedLength).arg(pieces.size());
    else
        lines << QStringLiteral("收到 %1 个字符（每次扫描应为以回车换行结束的一段），按回车换行分为 %2 段：")
                     .arg(text.size()).arg(pieces.size());
    auto list = [&](qsizetype i) {
        lines << QStringLiteral("  %1. %2").arg(i + 1).arg(readable(pieces[i]));
    };
    if (pieces.size() <= kListedInFull) {
        for (qsizetype i = 0; i < pieces.size(); ++i)
            list(i);
    } else {
        for (qsizetype i = 0; i < kShownAtEachEnd; ++i)
            list(i);
        lines << (recordedIn.isEmpty()
                      ? QStringLiteral("  ……（中间 %1 段未列出）").arg(pieces.size() - 2 * kShownAtEachEnd)
                      : QStringLiteral("  ……（中间 %1 段未在此列出；全部 %2 段都记在 %3 中）")
                            .arg(pieces.size() - 2 * kShownAtEachEnd).arg(pieces.size()).arg(recordedIn));
        for (qsizetype i = pieces.size() - kShownAtEachEnd; i < pieces.size(); ++i)
            list(i);
    }
    lines << QStringLiteral("以上 %1 段都没有记录，请重新扫描这些内包。").arg(pieces.size());
    if (dropped > 0)
        lines << QStringLiteral("另有 %1 个字符因接收缓冲区已满被丢弃，也没有记录。").arg(dropped);
    return lines.join(QLatin1Char('\n'));
}

QString controlCharacterDetails(const QString &text, qsizetype position)
{
    return QStringLiteral("收到：%1\n第 %2 个字符是控制字符 %3，可能是扫描枪读错或线路干扰。\n该条码没有记录，请重新扫描该内包。")
        .arg(readable(text))
        .arg(position + 1)
        .arg(linecodec::shown(text[position]));
}

QString shownBytes(const QByteArray &bytes)
{
    QString out;
    const qsizetype shown = std::min(bytes.size(), kShownCharacters);
    for (qsizetype i = 0; i < shown; ++i) {
        const uchar b = uchar(bytes[i]);
        out += b > 0x20 && b < 0x7F ? QString(QLatin1Char(char(b))) : QStringLiteral("\\x") + QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    if (shown < bytes.size())
        out += QStringLiteral("…（共 %1 个字节）").arg(bytes.size());
    return out;
}

} // namespace refused
