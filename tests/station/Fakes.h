#pragma once

#include "platform/MessageBox.h"
#include "station/BoxExport.h"
#include "platform/RecordGrid.h"
#include "core/RuntimeError.h"

#include <QStringList>
#include <functional>
#include <vector>

// Records every message; optionally runs something while the "box" is open,
// as the operator's clicks would run inside the real modal loop.
class RecordingMessages : public MessageBox
{
public:
    void show(const QString &text) override
    {
        texts << text;
        if (whileOpen)
            whileOpen(text);
    }
    // The first line of each message: the system's own fixed text.
    QStringList firstLines() const
    {
        QStringList out;
        for (const QString &t : texts)
            out << t.section(QLatin1Char('\n'), 0, 0);
        return out;
    }
    QStringList texts;
    std::function<void(const QString &)> whileOpen;
};

// Keeps a copy of every exported grid; can be told to fail.
class RecordingExport : public BoxExport
{
public:
    using Rows = std::vector<QStringList>;
    void exportBox(const RecordGrid &grid) override
    {
        ++calls;
        if (failNext > 0) {
            --failNext;
            throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"),
                               QStringLiteral("disk full"));
        }
        Rows rows;
        for (int r = 0; r < grid.rowCount(); ++r)
            rows.push_back({grid.cellText(r, 0), grid.cellText(r, 1), grid.cellText(r, 2)});
        boxes.push_back(rows);
    }
    std::vector<Rows> boxes;
    int calls = 0;
    int failNext = 0;
};
