#include "core/Gs1Scan.h"

#include "core/Gs1Lint.h"
#include "core/LineCodec.h"

namespace gs1 {

const QString kNotGs1 = QStringLiteral("不是 GS1 条码！");

namespace {

constexpr QChar kGs(kGroupSeparator);

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool allDigits(QStringView s)
{
    for (QChar c : s)
        if (!isDigit(c))
            return false;
    return !s.isEmpty();
}

ScanRead refused(ScanFault fault, const QString &ai = {}, const QStringList &values = {}, Lint lint = Lint::none)
{
    ScanRefusal r{fault, ai, values, lint};
    return {std::nullopt, r, describe(r)};
}

ScanRead refused(const ScanRefusal &r)
{
    return {std::nullopt, r, describe(r)};
}

// The least and most characters the AI's data may have.
std::pair<int, int> lengths(const AiEntry &e)
{
    int least = 0, most = 0;
    for (int i = 0; i < e.componentCount; ++i) {
        if (!e.components[i].optional)
            least += e.components[i].least;
        most += e.components[i].most;
    }
    return {least, most};
}

bool inSet(char type, QChar c)
{
    switch (type) {
    case 'N':
        return isDigit(c);
    case 'Y':
        return inCset39(c);
    case 'Z':
        return inCset64(c);
    default:
        return inCset82(c);
    }
}

// Why the data does not fit the AI's components; nothing when it does.
std::optional<ScanRefusal> checkData(const QString &ai, const AiEntry &e, const QString &data, const QDate &today)
{
    if (data.isEmpty())
        return ScanRefusal{ScanFault::NoData, ai, {}};
    const auto [least, most] = lengths(e);
    const auto wrongLength = [&]() -> ScanRefusal {
        if (e.componentCount == 1 && least == most && e.components[0].type == 'N')
            return {ScanFault::FixedDigits, ai, {QString::number(most), QString::number(data.size())}};
        if (data.size() > most)
            return {ScanFault::TooLong, ai, {QString::number(most), QString::number(data.size())}};
        return {ScanFault::TooShort, ai, {QString::number(least), QString::number(data.size())}};
    };
    if (data.size() > most || data.size() < least)
        return wrongLength();
    qsizetype at = 0;
    for (int i = 0; i < e.componentCount; ++i) {
        const AiComponent &c = e.components[i];
        const qsizetype left = data.size() - at;
        if (left == 0 && c.optional)
            break;
        const qsizetype take = c.least == c.most ? c.most : left;
        if (left < take || take < c.least || take > c.most)
            return wrongLength();
        const QString piece = data.mid(at, take);
        for (QChar ch : piece)
            if (!inSet(c.type, ch))
                return ScanRefusal{c.type == 'N' ? ScanFault::NotDigit : ScanFault::NotInSet, ai, {linecodec::shown(ch)}};
        for (Lint l : c.lints) {
            if (l == Lint::none)
                break;
            const LintResult r = lint(l, piece, today);
            if (!r.ok) {
                if (l == Lint::csum || l == Lint::csumalpha)
                    return ScanRefusal{ScanFault::CheckDigit, ai, {r.expected}, l};
                return ScanRefusal{ScanFault::Invalid, ai, {piece}, l};
            }
        }
        at += take;
    }
    if (at != data.size())
        return wrongLength();
    return std::nullopt;
}

// The name of the AI at the text's start that GS1 has not allocated: as many digits as
// the table gives its prefix.
QString unknownAiAt(const QString &text, qsizetype at)
{
    const int length = aiLengthOfPrefix(QStringView(text).mid(at, 2));
    return text.mid(at, length > 0 ? length : 2);
}

// What a scan that is no GS1 element string starts with, as the operator reads it.
QString startOf(const QString &text)
{
    QString shown;
    for (QChar c : text.left(8))
        shown += linecodec::shown(c);
    return text.size() > 8 ? shown + QStringLiteral("…") : shown;
}

// In the human-readable form, "(" two to four digits ")" begins the next field.
bool looksLikeAi(QStringView inside)
{
    return inside.size() >= 2 && inside.size() <= 4 && allDigits(inside);
}

// The human-readable form cut into its fields; nothing when it is not one.
std::optional<std::vector<Element>> splitHumanReadable(const QString &text, qsizetype *badAt = nullptr)
{
    std::vector<Element> fields;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype close = text.indexOf(QLatin1Char(')'), at);
        if (text[at] != QLatin1Char('(') || close < 0) {
            if (badAt)
                *badAt = at;
            return std::nullopt;
        }
        qsizetype next = close + 1;
        while (next < text.size()) {
            next = text.indexOf(QLatin1Char('('), next);
            if (next < 0) {
                next = text.size();
                break;
            }
            const qsizetype end = text.indexOf(QLatin1Char(')'), next);
            if (end > next && looksLikeAi(QStringView(text).mid(next + 1, end - next - 1)))
                break;
            ++next;
        }
        fields.push_back({text.mid(at + 1, close - at - 1), text.mid(close + 1, next - close - 1)});
        at = next;
    }
    return fields;
}

// Fields already cut (human-readable or bracketed), each checked against its AI.
ScanRead checkFields(std::vector<Element> fields, ElementString &out, const QDate &today)
{
    for (Element &f : fields) {
        const AiEntry *e = aiEntry(f.ai);
        if (!e)
            return refused(ScanFault::UnknownAi, f.ai);
        if (std::optional<ScanRefusal> why = checkData(f.ai, *e, f.data, today))
            return refused(*why);
        out.elements.push_back(std::move(f));
    }
    return {out, {}, {}};
}

ScanRead readHumanReadable(const QString &text, ElementString &out, const QDate &today)
{
    qsizetype badAt = 0;
    std::optional<std::vector<Element>> fields = splitHumanReadable(text, &badAt);
    if (!fields)
        return refused(ScanFault::AiExpected, {}, {QString::number(badAt + 1)});
    return checkFields(std::move(*fields), out, today);
}

// "[01]…[21]…": the data runs to the next "[", which no GS1 data holds.
ScanRead readBracketed(const QString &text, ElementString &out, const QDate &today)
{
    std::vector<Element> fields;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype close = text.indexOf(QLatin1Char(']'), at);
        const QStringView inside = close < 0 ? QStringView() : QStringView(text).mid(at + 1, close - at - 1);
        if (text[at] != QLatin1Char('[') || !looksLikeAi(inside)) {
            if (at == 0)
                return refused(ScanFault::NotGs1, {}, {startOf(text)});
            return refused(ScanFault::AiExpected, {}, {QString::number(at + 1)});
        }
        qsizetype next = text.indexOf(QLatin1Char('['), close + 1);
        if (next < 0)
            next = text.size();
        fields.push_back({inside.toString(), text.mid(close + 1, next - close - 1)});
        at = next;
    }
    return checkFields(std::move(fields), out, today);
}

// The scanner's form: AIs and data, GS after data of no predefined length. claimsGs1:
// the scanner said the symbol is GS1's; else a first AI that is no AI says the scan
// is no element string at all (a plain number, a PPN code).
ScanRead readSeparated(const QString &text, ElementString &out, const QDate &today, bool claimsGs1)
{
    qsizetype at = 0;
    if (at < text.size() && text[at] == kGs)
        ++at; // some scanners send FNC1 first
    const qsizetype first = at;
    while (at < text.size()) {
        if (text[at] == kGs)
            return refused(ScanFault::ExtraSeparator, {}, {QString::number(at + 1)});
        const int length = aiLengthOfPrefix(QStringView(text).mid(at, 2));
        const QString ai = text.mid(at, length);
        const AiEntry *e = length > 0 && allDigits(ai) && ai.size() == length ? aiEntry(ai) : nullptr;
        if (!e) {
            if (at == first && !claimsGs1)
                return refused(ScanFault::NotGs1, {}, {startOf(text.mid(first))});
            if (!allDigits(QStringView(text).mid(at, 2)))
                return refused(ScanFault::AiExpected, {}, {QString::number(at + 1)});
            return refused(ScanFault::UnknownAi, unknownAiAt(text, at));
        }
        const qsizetype from = at + ai.size();
        qsizetype end = text.indexOf(kGs, from);
        if (end < 0)
            end = text.size();
        if (e->predefinedLength)
            end = std::min<qsizetype>(end, from + lengths(*e).second);
        const QString data = text.mid(from, end - from);
        if (std::optional<ScanRefusal> why = checkData(ai, *e, data, today))
            return refused(*why);
        out.elements.push_back({ai, data});
        at = end;
        if (at < text.size() && text[at] == kGs)
            ++at; // a separator after any field, and one at the end
    }
    return {out, {}, {}};
}

// "310n" matches 3100 … 3109; an AI matches itself.
bool matches(QStringView pattern, const QString &ai)
{
    if (pattern.size() != ai.size())
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i)
        if (pattern[i] != QLatin1Char('n') && pattern[i] != ai[i])
            return false;
    return true;
}

bool present(QStringView pattern, const std::vector<Element> &elements)
{
    for (const Element &e : elements)
        if (matches(pattern, e.ai))
            return true;
    return false;
}

// The same AI twice is one field when its data is the same; else refused.
std::optional<ScanRefusal> withoutRepeats(std::vector<Element> &elements)
{
    std::vector<Element> once;
    for (const Element &e : elements) {
        const auto earlier = std::find_if(once.begin(), once.end(), [&](const Element &o) { return o.ai == e.ai; });
        if (earlier == once.end())
            once.push_back(e);
        else if (earlier->data != e.data)
            return ScanRefusal{ScanFault::Twice, e.ai, {earlier->data, e.data}};
    }
    elements = std::move(once);
    return std::nullopt;
}

QString lintText(Lint l)
{
    switch (l) {
    case Lint::yymmd0:
    case Lint::yymmdd:
    case Lint::yyyymmdd:
        return QStringLiteral("不是有效日期");
    case Lint::hhmi:
    case Lint::hh:
    case Lint::mi:
    case Lint::ss:
        return QStringLiteral("不是有效时间");
    case Lint::iso3166:
    case Lint::iso3166999:
    case Lint::iso3166alpha2:
        return QStringLiteral("不是有效的国家代码");
    case Lint::iso4217:
        return QStringLiteral("不是有效的货币代码");
    case Lint::nonzero:
        return QStringLiteral("不能为 0");
    case Lint::zero:
        return QStringLiteral("第一位应为 0，现为");
    case Lint::nozeroprefix:
        return QStringLiteral("不能以 0 开头");
    case Lint::gcppos1:
    case Lint::gcppos2:
        return QStringLiteral("不是以厂商识别代码开始");
    case Lint::hasnondigit:
        return QStringLiteral("须含有数字以外的字符");
    case Lint::pcenc:
        return QStringLiteral("百分号编码不正确");
    case Lint::iban:
        return QStringLiteral("不是有效的 IBAN");
    default:
        return QStringLiteral("不符合 %1 规则").arg(QLatin1String(lintName(l)));
    }
}

// "(01)(21)" for "01+21", alternatives joined by "或".
QString alternatives(const QStringList &alts)
{
    QStringList shown;
    for (const QString &alt : alts) {
        QString one;
        for (const QString &ai : alt.split(QLatin1Char('+')))
            one += QLatin1Char('(') + ai + QLatin1Char(')');
        shown << one;
    }
    return shown.join(QStringLiteral(" 或 "));
}

} // namespace

QString describe(const ScanRefusal &r)
{
    const auto wrong = [&](const QString &what) { return QStringLiteral("GS1 条码不正确：(%1) %2").arg(r.ai, what); };
    const auto v = [&](int i) { return i < r.values.size() ? r.values[i] : QString(); };
    switch (r.fault) {
    case ScanFault::NotGs1:
        return kNotGs1;
    case ScanFault::NoFields:
        return QStringLiteral("GS1 条码不正确：没有任何字段");
    case ScanFault::AiExpected:
        return QStringLiteral("GS1 条码不正确：第 %1 个字符处应为 (应用标识符)").arg(v(0));
    case ScanFault::ExtraSeparator:
        return QStringLiteral("GS1 条码不正确：第 %1 个字符处有多余的分隔符").arg(v(0));
    case ScanFault::UnknownAi:
        return QStringLiteral("未知的应用标识符 (%1)").arg(r.ai);
    case ScanFault::NoData:
        return wrong(QStringLiteral("没有数据"));
    case ScanFault::FixedDigits:
        return wrong(QStringLiteral("应为 %1 位数字，现为 %2 位").arg(v(0), v(1)));
    case ScanFault::TooLong:
        return wrong(QStringLiteral("长度不对：最多 %1 个字符，现为 %2 个").arg(v(0), v(1)));
    case ScanFault::TooShort:
        return wrong(QStringLiteral("长度不对：至少 %1 个字符，现为 %2 个").arg(v(0), v(1)));
    case ScanFault::NotDigit:
        return wrong(QStringLiteral("只能是数字，含有“%1”").arg(v(0)));
    case ScanFault::NotInSet:
        return wrong(QStringLiteral("含有不允许的字符“%1”").arg(v(0)));
    case ScanFault::CheckDigit:
        return wrong((r.lint == Lint::csumalpha ? QStringLiteral("校验字符应为 %1") : QStringLiteral("校验位应为 %1")).arg(v(0)));
    case ScanFault::Invalid:
        return wrong(lintText(r.lint) + QLatin1Char(' ') + v(0));
    case ScanFault::Twice:
        return wrong(QStringLiteral("出现了两次，值不同：%1 和 %2").arg(v(0), v(1)));
    case ScanFault::Excluded:
        return wrong(QStringLiteral("不能与 (%1) 同在一个条码中").arg(v(0)));
    case ScanFault::Required:
        return wrong(QStringLiteral("须与 %1 同在一个条码中").arg(alternatives(r.values)));
    }
    return {};
}

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
    return aiEntry(ai) != nullptr;
}

QString cellForm(const std::vector<Element> &elements)
{
    const QString readable = ElementString{{}, elements}.humanReadable();
    const std::optional<std::vector<Element>> back = splitHumanReadable(readable);
    if (back && *back == elements)
        return readable;
    QString bracketed;
    for (const Element &e : elements)
        bracketed += QLatin1Char('[') + e.ai + QLatin1Char(']') + e.data;
    return bracketed;
}

int dataCharacters(const std::vector<Element> &elements)
{
    int count = 0;
    for (size_t i = 0; i < elements.size(); ++i) {
        const AiEntry *e = aiEntry(elements[i].ai);
        count += int(elements[i].ai.size() + elements[i].data.size());
        if (i + 1 < elements.size() && !(e && e->predefinedLength))
            ++count;
    }
    return count;
}

namespace {

// An entry's pairs, split once: the patterns it excludes; per req key, its alternatives,
// each the patterns that must all be there.
struct PairRules
{
    QStringList excluded;
    std::vector<std::vector<QStringList>> required;
    std::vector<QStringList> requiredShown; // each key's alternatives as written
};

const PairRules &pairRulesOf(const AiEntry *entry)
{
    static const std::vector<PairRules> rules = [] {
        std::vector<PairRules> all(static_cast<size_t>(kAiTableSize), PairRules());
        for (int i = 0; i < kAiTableSize; ++i) {
            for (const QString &key : QString::fromLatin1(kAiTable[i].ex).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                all[size_t(i)].excluded << key.split(QLatin1Char(','));
            for (const QString &key : QString::fromLatin1(kAiTable[i].req).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QStringList alts = key.split(QLatin1Char(','));
                std::vector<QStringList> split;
                for (const QString &alt : alts)
                    split.push_back(alt.split(QLatin1Char('+')));
                all[size_t(i)].required.push_back(std::move(split));
                all[size_t(i)].requiredShown.push_back(alts);
            }
        }
        return all;
    }();
    return rules[size_t(entry - kAiTable)];
}

} // namespace

std::optional<ScanRefusal> checkPairs(const std::vector<Element> &elements)
{
    for (const Element &e : elements) {
        const AiEntry *entry = aiEntry(e.ai);
        if (!entry)
            continue;
        const PairRules &rules = pairRulesOf(entry);
        for (const QString &pattern : rules.excluded)
            for (const Element &other : elements)
                if (other.ai != e.ai && matches(pattern, other.ai))
                    return ScanRefusal{ScanFault::Excluded, e.ai, {other.ai}};
        for (size_t k = 0; k < rules.required.size(); ++k) {
            const bool met = std::any_of(rules.required[k].begin(), rules.required[k].end(), [&](const QStringList &all) {
                return std::all_of(all.begin(), all.end(), [&](const QString &p) { return present(p, elements); });
            });
            if (!met)
                return ScanRefusal{ScanFault::Required, e.ai, rules.requiredShown[k]};
        }
    }
    return std::nullopt;
}

QDate dateOf(const QString &yymmdd, const QDate &today)
{
    if (yymmdd.size() != 6 || !allDigits(yymmdd))
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

ScanRead readScan(const QString &scan, const QDate &today, Pairs pairs)
{
    ElementString out;
    QString text = scan;
    bool claimsGs1 = false;
    if (text.startsWith(QLatin1Char(']'))) {
        static const QStringList gs1Symbologies{QStringLiteral("]d2"), QStringLiteral("]C1"), QStringLiteral("]Q3"),
                                                QStringLiteral("]e0"), QStringLiteral("]J1")};
        out.symbology = text.left(3);
        if (!gs1Symbologies.contains(out.symbology))
            return refused(ScanFault::NotGs1, {}, {startOf(text)});
        text = text.mid(3);
        claimsGs1 = true;
    }
    if (text.isEmpty() || (text.size() == 1 && text[0] == kGs))
        return refused(ScanFault::NoFields);
    ScanRead read = text.startsWith(QLatin1Char('('))   ? readHumanReadable(text, out, today)
                    : text.startsWith(QLatin1Char('[')) ? readBracketed(text, out, today)
                                                        : readSeparated(text, out, today, claimsGs1);
    if (!read.read)
        return read;
    if (std::optional<ScanRefusal> twice = withoutRepeats(read.read->elements))
        return refused(*twice);
    if (pairs == Pairs::Checked)
        if (std::optional<ScanRefusal> why = checkPairs(read.read->elements))
            return refused(*why);
    return read;
}

} // namespace gs1
