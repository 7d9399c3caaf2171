#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// The kinds of change a recorded box can have, with the word the record stores
// (box_changes.kind) and the name a person reads: the one table rework, EPCIS and
// the board go by.
namespace changekind {

enum class Kind { TakeOut, PutIn, Void, Restore };

// As the record stores it: "take-out", "put-in", "void", "restore".
QString word(Kind k);
std::optional<Kind> named(QStringView word);
// A change of one pack (take-out, put-in), not of the whole box.
bool ofOnePack(Kind k);
// What the board calls an event of a pack's history: a change's word, or "packed";
// another word as it stands.
QString shown(const QString &word);

} // namespace changekind
