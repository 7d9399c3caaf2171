#pragma once

#include "platform/DurableLog.h"

#include <QSet>
#include <QString>
#include <QStringList>

// Which conflicts of this station's boxes the operator has been shown, so that one
// recorded while the station was down is told after the restart, and none twice:
// conflicts-told.txt in the program folder, a line "told KEY" for each, appended when
// it was shown (KEY: the box, the other box and the pack, escaped as in the outbox).
class ToldConflicts
{
public:
    static QString fileName() { return QStringLiteral("conflicts-told.txt"); }

    explicit ToldConflicts(const QString &programFolder);

    // Never raises: a file that cannot be read tells every open conflict again, which
    // is better than telling none. Lines that do not read are passed over.
    QSet<QString> read() const;
    // Raises a RuntimeError when the lines cannot be written.
    void add(const QStringList &keys);

private:
    QString m_path;
    DurableLog m_log;
};
