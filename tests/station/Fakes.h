#pragma once

#include "core/RuntimeError.h"
#include "platform/MessageBox.h"
#include "platform/Sound.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"

#include <QFileInfo>
#include <QStringList>
#include <functional>
#include <vector>

// Records every message; optionally runs something while the "box" is open,
// as the operator's clicks would run inside the real modal loop. Questions are
// answered from a queue, or with their default when it is empty.
class RecordingMessages : public MessageBox
{
public:
    void show(const QString &text) override
    {
        texts << text;
        if (whileOpen)
            whileOpen(text);
    }
    int ask(const QString &text, const QStringList &buttons, int defaultButton) override
    {
        questions << text;
        const int answer = answers.isEmpty() ? defaultButton : buttons.indexOf(answers.takeFirst());
        return answer >= 0 ? answer : defaultButton;
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
    QStringList questions;
    QStringList answers; // button captions, first question first
    std::function<void(const QString &)> whileOpen;
};

// Keeps a copy of every exported box, one after the other as in one workbook
// from row 2; can be told to fail before or after the box is kept.
class RecordingExport : public BoxExport
{
public:
    using Rows = std::vector<QStringList>;
    ExportReceipt exportBox(const Box &box, const BeforeReplace &beforeReplace) override
    {
        ++calls;
        if (failNext > 0) {
            --failNext;
            throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"), QStringLiteral("磁盘已满"));
        }
        const ExportTarget target{QStringLiteral("recorded.xls"), nextRow, {}};
        if (beforeReplace)
            beforeReplace(target);
        boxes.push_back(rowsOf(box));
        starts.push_back(nextRow);
        nextRow += box.rowCount();
        if (failAfterWriting > 0) {
            --failAfterWriting;
            throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("export"), QStringLiteral("无法同步文件夹"));
        }
        ExportReceipt receipt;
        receipt.workbook = target.workbook;
        receipt.firstRow = target.firstRow;
        return receipt;
    }
    bool holds(const Box &box, const ExportTarget &target) override
    {
        for (size_t i = 0; i < boxes.size(); ++i)
            if (starts[i] == target.firstRow && QFileInfo(target.workbook).fileName() == QStringLiteral("recorded.xls")
                && boxes[i] == rowsOf(box))
                return true;
        return false;
    }
    QString keepUnfinished(const Box &box) override
    {
        unfinished.push_back(rowsOf(box));
        return QStringLiteral("unfinished-recorded.xls");
    }
    static Rows rowsOf(const Box &box)
    {
        Rows rows;
        for (int r = 0; r < box.rowCount(); ++r)
            rows.push_back({box.cellText(r, 0), box.cellText(r, 1), box.cellText(r, 2)});
        return rows;
    }
    std::vector<Rows> boxes;
    std::vector<int32_t> starts; // sheet row of each box's first row
    std::vector<Rows> unfinished;
    int calls = 0;
    int failNext = 0;
    int failAfterWriting = 0; // the box is kept, then the export fails (a folder that would not sync)
    int32_t nextRow = 2;
};

// Hears every sound the station plays.
class RecordingSounds : public SoundPlayer
{
public:
    void play(Sound sound) override { played.push_back(sound); }
    std::vector<Sound> played;
};
