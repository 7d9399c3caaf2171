#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// What one printed label says: an outer box's or a middle box's.
namespace labels {

// What a GS1 box holds, as its first pack set it: the GTIN of its packs, their lot
// (10) and expiry (17, YYMMDD), "" where the packs carry none.
struct Content
{
    QString gtin;
    QString lot;
    QString expiry;
    bool operator==(const Content &o) const = default;
};

struct Label
{
    enum class Kind { Outer, Middle };
    Kind kind = Kind::Outer;
    QString text;        // the label the barcode carries
    bool sscc = false;   // an outer label that is an SSCC: GS1-128 with AI (00)
    QString station;
    QDateTime written;   // when the box was written (a middle box: when its last pack was listed)
    bool timeKnown = true; // false: only the day is known (a label found in a workbook)
    int packs = 0;
    QStringList middles; // an outer box's middle labels
    QString outer;       // a middle box's outer label
    QStringList packList; // a middle box's packs
    bool reprint = false; // says 补打
    std::optional<Content> content; // an outer label of GS1 packs: says what it holds

    QJsonObject toJson() const;
    // Nothing when the object is no label this program wrote (a damaged or edited file).
    static std::optional<Label> fromJson(const QJsonObject &o);
};

// The page a label is printed on.
struct PageSize
{
    int widthMm = 100;
    int heightMm = 60;
    int dpi = 203;
};

} // namespace labels
