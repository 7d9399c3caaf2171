#include "core/Gs1Uris.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace gs1uri {

namespace {

constexpr int kLongestPrefix = 12;

bool digits(const QString &s, qsizetype length)
{
    if (s.size() != length)
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// The characters of GS1's set that an EPC URI must escape.
QString epcEscaped(const QString &serial)
{
    QString out;
    for (QChar c : serial) {
        if (QStringLiteral("\"%&/<>?").contains(c))
            out += QStringLiteral("%%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString segment(const QString &s)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(s));
}

} // namespace

QString sgtin(const QString &gtin, const QString &serial, int gcpLength)
{
    if (!digits(gtin, 14) || gcpLength < 6 || gcpLength > kLongestPrefix)
        return {};
    const QString prefix = gtin.mid(1, gcpLength);
    const QString itemRef = gtin.left(1) + gtin.mid(1 + gcpLength, 12 - gcpLength);
    return QStringLiteral("urn:epc:id:sgtin:%1.%2.%3").arg(prefix, itemRef, epcEscaped(serial));
}

QString digitalLink(const QString &base, const QString &gtin, const QString &serial)
{
    return base + QStringLiteral("01/") + gtin + QStringLiteral("/21/") + segment(serial);
}

QString ssccDigitalLink(const QString &base, const QString &sscc)
{
    return base + QStringLiteral("00/") + sscc;
}

std::optional<GcpLengths> GcpLengths::fromJson(const QByteArray &json, QString *why)
{
    QJsonParseError error;
    const QJsonDocument d = QJsonDocument::fromJson(json, &error);
    const QJsonValue entries = d.object().value(QStringLiteral("GCPPrefixFormatList")).toObject().value(QStringLiteral("entry"));
    if (error.error != QJsonParseError::NoError || !entries.isArray()) {
        *why = error.error != QJsonParseError::NoError ? error.errorString()
                                                       : QStringLiteral("没有 GCPPrefixFormatList.entry 列表");
        return std::nullopt;
    }
    GcpLengths table;
    for (const QJsonValue &v : entries.toArray()) {
        const QString prefix = v.toObject().value(QStringLiteral("prefix")).toString();
        const int length = v.toObject().value(QStringLiteral("gcpLength")).toInt(-1);
        if (prefix.isEmpty() || prefix.size() > kLongestPrefix || !digits(prefix, prefix.size())) {
            *why = QStringLiteral("前缀“%1”不是 1 到 12 位数字").arg(prefix.left(20));
            return std::nullopt;
        }
        // GS1 lists prefixes that are not given out with a length of 0: no key has them.
        if (length != 0 && (length < 6 || length > kLongestPrefix)) {
            *why = QStringLiteral("前缀 %1 的长度 %2 不在 6 到 12 之间").arg(prefix).arg(length);
            return std::nullopt;
        }
        table.m_lengths.insert(prefix, length);
    }
    return table;
}

bool GcpLengths::addCompany(const QString &prefix)
{
    if (prefix.size() < 6 || prefix.size() > kLongestPrefix || !digits(prefix, prefix.size()))
        return false;
    m_lengths.insert(prefix, int(prefix.size()));
    return true;
}

std::optional<int> GcpLengths::of(const QString &digits) const
{
    for (qsizetype length = std::min<qsizetype>(kLongestPrefix, digits.size()); length > 0; --length) {
        const auto it = m_lengths.constFind(digits.left(length));
        if (it != m_lengths.constEnd())
            return *it > 0 ? std::optional<int>(*it) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace gs1uri
