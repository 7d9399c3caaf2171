#pragma once

#include "plant/ChangeKinds.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace database {
class Connection;
}

// Changes to recorded boxes, each a record of its own: a pack taken out or put in, a
// box voided or restored. Made only by a login in the role zantrel_rework; the server
// keeps who and when, the person's name and the reason are given here.
namespace rework {

using Kind = changekind::Kind;

struct Change
{
    Kind kind = Kind::TakeOut;
    QString box;     // an outer label, or a box id
    QString station; // narrows an outer label that more than one station used; "" for any
    QString barcode; // take-out and put-in
    QString middle;  // put-in: the middle box it goes into; "" for none named
    QString person;
    QString reason;  // one of reasons()
    QString note;
    bool newMiddle = false; // put-in: the middle box is a new one of the outer box
};

// 抽样 / 损坏更换 / 重新装箱 / 重复包裁定 / 其他
QStringList reasons();

// The change's id. A pack is read as a station reads its scan, and a put-in holds to
// the station's rules: into a GS1 box only a GS1 pack of its product, lot and expiry.
// Raises a RuntimeError with a plain reason in Chinese: the login may not
// (DatabaseNotAllowed); no such box or more than one, or the change does not fit where
// the pack and the box stand now (ChangeRefused, with the record's ZR code where it has
// one); a refusal of the server's this program cannot put in plain words
// (DatabaseRefusedData, with the server's words).
// signedBy: the 工号 who signed it with his password, once the record has operators ("" before).
qint64 record(database::Connection &db, const Change &change, const QString &signedBy = {});

} // namespace rework
