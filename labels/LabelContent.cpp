#include "labels/LabelContent.h"

#include "station/ports/BoxExport.h"

#include <QCryptographicHash>
#include <QUuid>

namespace labels {

QString keyOf(const QString &kind, const QString &identity)
{
    return kind + QLatin1Char('-')
           + QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));
}

QString outerKeyOf(const Box &box, const ExportReceipt &receipt)
{
    const QString identity = box.exportTarget() && !box.exportTarget()->boxId.isNull()
                                 ? box.exportTarget()->boxId.toString(QUuid::WithoutBraces)
                                 : receipt.workbook + QLatin1Char(':') + QString::number(receipt.firstRow);
    return keyOf(QStringLiteral("box"), identity);
}

Label middleLabelOf(const Box &box, const QString &middleLabel, const QString &station, const QDateTime &written)
{
    Label l;
    l.kind = Label::Kind::Middle;
    l.text = middleLabel;
    l.outer = box.outerLabel();
    l.station = station;
    l.written = written;
    QString under;
    for (const BoxRow &r : box.rows()) {
        if (r.kind == BoxRow::MiddleLabel)
            under = r.text;
        else if (r.kind == BoxRow::Pack && under == middleLabel)
            l.packList << r.text;
    }
    l.packs = int(l.packList.size());
    return l;
}

QString middleKeyOf(const Label &middle)
{
    return keyOf(QStringLiteral("middle"), middle.outer + QLatin1Char('\n') + middle.text + QLatin1Char('\n')
                                               + middle.written.toString(Qt::ISODateWithMs) + QLatin1Char('\n')
                                               + middle.packList.join(QLatin1Char('\n')));
}

} // namespace labels
