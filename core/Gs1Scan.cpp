#include "core/Gs1Scan.h"

#include "core/Gs1.h"
#include "core/LineCodec.h"

#include <QHash>
#include <QStringList>

namespace gs1 {

const QString kNotGs1 = QStringLiteral("不是 GS1 条码！");

namespace {

// What a part of an AI's data must be.
enum class Check { None, CheckDigit, Date };

struct Part
{
    bool digits; // N: digits only; X: GS1's 82 characters
    int least;
    int most;
    Check check;
};

struct AiFormat
{
    std::vector<Part> parts;
    bool zeroFirst = false; // the data starts with "0" (8003)
};

Part n(int length, Check check = Check::None)
{
    return {true, length, length, check};
}
Part nUpTo(int most)
{
    return {true, 1, most, Check::None};
}
Part xUpTo(int most)
{
    return {false, 1, most, Check::None};
}

// The AIs this station knows. Their data never runs past what the format allows.
const QHash<QString, AiFormat> &table()
{
    static const QHash<QString, AiFormat> t = [] {
        QHash<QString, AiFormat> a;
        a.insert(QStringLiteral("00"), {{n(18, Check::CheckDigit)}});
        a.insert(QStringLiteral("01"), {{n(14, Check::CheckDigit)}});
        a.insert(QStringLiteral("02"), {{n(14, Check::CheckDigit)}});
        a.insert(QStringLiteral("10"), {{xUpTo(20)}});
        for (const char *date : {"11", "12", "13", "15", "16", "17"})
            a.insert(QLatin1String(date), {{n(6, Check::Date)}});
        a.insert(QStringLiteral("20"), {{n(2)}});
        a.insert(QStringLiteral("21"), {{xUpTo(20)}});
        a.insert(QStringLiteral("22"), {{xUpTo(20)}});
        for (const char *id : {"240", "241", "250", "251", "400"})
            a.insert(QLatin1String(id), {{xUpTo(30)}});
        a.insert(QStringLiteral("30"), {{nUpTo(8)}});
        for (int measure = 310; measure <= 316; ++measure) // net weight, length … with 0–5 decimals
            for (int decimals = 0; decimals <= 5; ++decimals)
                a.insert(QString::number(measure) + QString::number(decimals), {{n(6)}});
        a.insert(QStringLiteral("37"), {{nUpTo(8)}});
        for (int gln = 410; gln <= 415; ++gln)
            a.insert(QString::number(gln), {{n(13, Check::CheckDigit)}});
        a.insert(QStringLiteral("420"), {{xUpTo(20)}});
        for (int national = 710; national <= 715; ++national) // national healthcare reimbursement numbers
            a.insert(QString::number(national), {{xUpTo(20)}});
        a.insert(QStringLiteral("8003"), {{n(14, Check::CheckDigit), {false, 0, 16, Check::None}}, true});
        a.insert(QStringLiteral("8004"), {{xUpTo(30)}});
        return a;
    }();
    return t;
}

// AIs whose first two digits say how long their data is: no GS needs to follow them.
bool predefinedLength(const QString &ai)
{
    static const QStringList prefixes{QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03"),
                                      QStringLiteral("04"), QStringLiteral("11"), QStringLiteral("12"), QStringLiteral("13"),
                                      QStringLiteral("14"), QStringLiteral("15"), QStringLiteral("16"), QStringLiteral("17"),
                                      QStringLiteral("18"), QStringLiteral("19"), QStringLiteral("20"), QStringLiteral("31"),
                                      QStringLiteral("32"), QStringLiteral("33"), QStringLiteral("34"), QStringLiteral("35"),
                                      QStringLiteral("36"), QStringLiteral("41")};
    return prefixes.contains(ai.left(2));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// GS1's 82 characters (ISO/IEC 646 without some punctuation).
bool isCset82(QChar c)
{
    static const QString punctuation = QStringLiteral("!\"%&'()*+,-./:;<=>?_");
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || isDigit(c) || punctuation.contains(c);
}

int longest(const AiFormat &f)
{
    int most = 0;
    for (const Part &p : f.parts)
        most += p.most;
    return most;
}

QString wrong(const QString &ai, const QString &what)
{
    return QStringLiteral("GS1 条码不正确：(%1) %2").arg(ai, what);
}

// Why the data does not fit the AI's format; "" when it does.
QString checkData(const QString &ai, const AiFormat &f, const QString &data, const QDate &today)
{
    if (data.isEmpty())
        return wrong(ai, QStringLiteral("没有数据"));
    if (f.zeroFirst && data[0] != QLatin1Char('0'))
        return wrong(ai, QStringLiteral("第一位应为 0"));
    qsizetype at = 0;
    for (size_t i = 0; i < f.parts.size(); ++i) {
        const Part &p = f.parts[i];
        const bool last = i + 1 == f.parts.size();
        const qsizetype left = data.size() - at;
        if (left < p.least || (last && left > p.most)) {
            if (p.least == p.most && f.parts.size() == 1)
                return wrong(ai, QStringLiteral("应为 %1 位数字，现为 %2 位").arg(p.least).arg(data.size()));
            return wrong(ai, QStringLiteral("长度不对：最多 %1 个字符，现为 %2 个").arg(longest(f)).arg(data.size()));
        }
        const QString piece = data.mid(at, last ? left : p.most);
        for (QChar c : piece)
            if (p.digits ? !isDigit(c) : !isCset82(c))
                return wrong(ai, (p.digits ? QStringLiteral("只能是数字，含有“%1”") : QStringLiteral("含有不允许的字符“%1”")).arg(linecodec::shown(c)));
        if (p.check == Check::CheckDigit) {
            const int expected = checkDigit(piece.chopped(1));
            if (expected != piece.back().unicode() - '0')
                return wrong(ai, QStringLiteral("校验位应为 %1").arg(expected));
        }
        if (p.check == Check::Date && !dateOf(piece, today).isValid())
            return wrong(ai, QStringLiteral("不是有效日期 %1").arg(piece));
        at += piece.size();
    }
    return {};
}

// The known AI at the start of text (2 to 4 digits); "" when none.
QString aiAt(const QString &text, qsizetype at)
{
    for (int length = 2; length <= 4; ++length)
        if (table().contains(text.mid(at, length)))
            return text.mid(at, length);
    return {};
}

// The AI the text starts with, as far as it can be named, for a refusal.
QString unknownAiAt(const QString &text, qsizetype at)
{
    qsizetype end = at;
    while (end < text.size() && end - at < 4 && isDigit(text[end]))
        ++end;
    return end - at >= 2 ? text.mid(at, end - at) : text.mid(at, 4);
}

ScanRead refused(const QString &why)
{
    return {std::nullopt, why};
}

// In the human-readable form, "(" two to four digits ")" begins the next field: a
// known AI's, or an unknown one that is refused by its name.
bool looksLikeAi(const QString &inside)
{
    if (inside.size() < 2 || inside.size() > 4)
        return false;
    for (QChar c : inside)
        if (!isDigit(c))
            return false;
    return true;
}

// The human-readable form: "(AI)data(AI)data…".
ScanRead readHumanReadable(const QString &text, ElementString &out, const QDate &today)
{
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype close = text.indexOf(QLatin1Char(')'), at);
        if (text[at] != QLatin1Char('(') || close < 0)
            return refused(QStringLiteral("GS1 条码不正确：第 %1 个字符处应为 (应用标识符)").arg(at + 1));
        const QString ai = text.mid(at + 1, close - at - 1);
        if (!table().contains(ai))
            return refused(QStringLiteral("未知的应用标识符 (%1)").arg(ai));
        // The data runs to the next "(AI)", or to the end.
        qsizetype next = close + 1;
        while (next < text.size()) {
            next = text.indexOf(QLatin1Char('('), next);
            if (next < 0) {
                next = text.size();
                break;
            }
            const qsizetype end = text.indexOf(QLatin1Char(')'), next);
            if (end > next && looksLikeAi(text.mid(next + 1, end - next - 1)))
                break;
            ++next;
        }
        const QString data = text.mid(close + 1, next - close - 1);
        if (const QString why = checkData(ai, table()[ai], data, today); !why.isEmpty())
            return refused(why);
        out.elements.push_back({ai, data});
        at = next;
    }
    return {out, {}};
}

// The scanner's form: AIs and data, GS after data of no predefined length.
ScanRead readSeparated(const QString &text, ElementString &out, const QDate &today)
{
    qsizetype at = 0;
    if (at < text.size() && text[at] == QChar(kGroupSeparator))
        ++at; // some scanners send FNC1 first
    while (at < text.size()) {
        if (text[at] == QChar(kGroupSeparator))
            return refused(QStringLiteral("GS1 条码不正确：第 %1 个字符处有多余的分隔符").arg(at + 1));
        const QString ai = aiAt(text, at);
        if (ai.isEmpty())
            return refused(QStringLiteral("未知的应用标识符 (%1)").arg(unknownAiAt(text, at)));
        const AiFormat &format = table()[ai];
        qsizetype from = at + ai.size();
        qsizetype end = text.indexOf(QChar(kGroupSeparator), from);
        if (end < 0)
            end = text.size();
        if (predefinedLength(ai))
            end = std::min<qsizetype>(end, from + longest(format));
        const QString data = text.mid(from, end - from);
        if (const QString why = checkData(ai, format, data, today); !why.isEmpty())
            return refused(why);
        out.elements.push_back({ai, data});
        at = end;
        if (at < text.size() && text[at] == QChar(kGroupSeparator))
            ++at; // a separator after any field, and one at the end
    }
    return {out, {}};
}

} // namespace

std::optional<QString> ElementString::value(const QString &ai) const
{
    for (const Element &e : elements)
        if (e.ai == ai)
            return e.data;
    return std::nullopt;
}

QString ElementString::humanReadable() const
{
    QString out;
    for (const Element &e : elements)
        out += QLatin1Char('(') + e.ai + QLatin1Char(')') + e.data;
    return out;
}

bool isKnownAi(const QString &ai)
{
    return table().contains(ai);
}

QDate dateOf(const QString &yymmdd, const QDate &today)
{
    if (yymmdd.size() != 6)
        return {};
    for (QChar c : yymmdd)
        if (!isDigit(c))
            return {};
    const int yy = yymmdd.left(2).toInt(), mm = yymmdd.mid(2, 2).toInt(), dd = yymmdd.mid(4, 2).toInt();
    // The century: within 49 years ahead and 50 behind this year.
    const int century = today.year() / 100 * 100;
    const int d = yy - today.year() % 100;
    const int year = century + yy + (d >= 51 ? -100 : d <= -50 ? 100 : 0);
    if (mm < 1 || mm > 12)
        return {};
    const QDate first(year, mm, 1);
    if (dd == 0)
        return first.addDays(first.daysInMonth() - 1); // 00: the month's last day
    return dd <= first.daysInMonth() ? QDate(year, mm, dd) : QDate();
}

ScanRead readScan(const QString &scan, const QDate &today)
{
    ElementString out;
    QString text = scan;
    if (text.startsWith(QLatin1Char(']'))) {
        static const QStringList gs1Symbologies{QStringLiteral("]d2"), QStringLiteral("]C1"), QStringLiteral("]Q3"),
                                                QStringLiteral("]e0"), QStringLiteral("]J1")};
        out.symbology = text.left(3);
        if (!gs1Symbologies.contains(out.symbology))
            return refused(kNotGs1);
        text = text.mid(3);
    }
    if (text.isEmpty() || (text.size() == 1 && text[0] == QChar(kGroupSeparator)))
        return refused(QStringLiteral("GS1 条码不正确：没有任何字段"));
    ScanRead read = text.startsWith(QLatin1Char('(')) ? readHumanReadable(text, out, today) : readSeparated(text, out, today);
    if (!read.read)
        return read;
    QStringList seen;
    for (const Element &e : read.read->elements) {
        if (seen.contains(e.ai))
            return refused(wrong(e.ai, QStringLiteral("出现了两次")));
        seen << e.ai;
    }
    return read;
}

} // namespace gs1
