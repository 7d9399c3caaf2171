#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

// GS1 identifiers as EPCIS receivers read them: EPC URIs where the GS1 company
// prefix's length is known (it is not in the key), GS1 Digital Link URIs otherwise.
namespace gs1uri {

// urn:epc:id:sgtin:CompanyPrefix.IndicatorItemRef.Serial; "" when the GTIN is no 14
// digits or the length is not 6 to 12. The serial escaped as the Tag Data Standard says.
QString sgtin(const QString &gtin, const QString &serial, int gcpLength);
// {base}01/{gtin}/21/{serial}; base ends with "/".
QString digitalLink(const QString &base, const QString &gtin, const QString &serial);
// {base}00/{sscc}.
QString ssccDigitalLink(const QString &base, const QString &sscc);

// GS1's list of company prefixes and their lengths ({"GCPPrefixFormatList":{"entry":
// [{"prefix":"0614141","gcpLength":7},…]}}).
class GcpLengths
{
public:
    // Nothing, with why, when the text is no such list.
    static std::optional<GcpLengths> fromJson(const QByteArray &json, QString *why);
    // A company's own prefix, 6 to 12 digits, as long as it is; false when it is none.
    bool addCompany(const QString &prefix);
    // The length for a key's digits after its indicator (or extension digit): that of
    // the longest prefix listed that they start with.
    std::optional<int> of(const QString &digits) const;
    qsizetype size() const { return m_lengths.size(); }

private:
    QHash<QString, int> m_lengths;
};

} // namespace gs1uri
