#include "station/files/PackSearch.h"

#include "core/RuntimeError.h"
#include "platform/WorkbookReader.h"
#include "station/files/BoxSheet.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <mutex>
#include <thread>

namespace packsearch {

std::vector<Listed> packsOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    std::vector<Listed> packs;
    for (const boxsheet::SheetBox &box : boxsheet::boxesIn(workbook::readFirstSheetColumns(path, boxsheet::kColumns))) {
        QString middle;
        for (size_t i = 1; i < box.rows.size(); ++i) {
            const BoxRow &row = box.rows[i];
            if (row.kind == BoxRow::MiddleLabel)
                middle = row.text;
            else
                packs.push_back({name, box.firstRow + int32_t(i), box.rows[0].text, middle, row.pack()});
        }
    }
    return packs;
}

QStringList workbooksIn(const QString &filesFolder)
{
    // Not only regular files: a pipe, a folder or a broken link named *.xls is
    // reported as skipped rather than passed over in silence.
    return QDir(filesFolder).entryList({QStringLiteral("*.xls")}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                                       QDir::Name);
}

std::vector<Listed> search(const QString &filesFolder, const std::function<bool(const Listed &)> &keep,
                         const std::function<void(const QString &, const QString &)> &unreadable,
                         const std::function<void(int, int)> &progress)
{
    const QStringList names = workbooksIn(filesFolder);
    struct Outcome
    {
        std::vector<Listed> found;
        QString why; // "" when the workbook was read
    };
    std::vector<Outcome> outcomes(size_t(names.size()));
    std::atomic<qsizetype> next{0};
    std::mutex progressLock;
    int done = 0;
    // One workbook per core; each result goes to its own slot, so the output keeps the names' order.
    auto work = [&] {
        for (qsizetype i = next++; i < names.size(); i = next++) {
            Outcome &outcome = outcomes[size_t(i)];
            try {
                for (Listed &pack : packsOf(QDir(filesFolder).filePath(names[i])))
                    if (keep(pack))
                        outcome.found.push_back(std::move(pack));
            } catch (const RuntimeError &e) {
                outcome.why = e.description();
            }
            if (progress) {
                const std::lock_guard<std::mutex> lock(progressLock);
                progress(++done, int(names.size()));
            }
        }
    };
    const unsigned helpers = std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), unsigned(names.size()));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread &t : threads)
        t.join();

    std::vector<Listed> found;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        if (!outcomes[i].why.isEmpty())
            unreadable(names[qsizetype(i)], outcomes[i].why);
        for (Listed &pack : outcomes[i].found)
            found.push_back(std::move(pack));
    }
    return found;
}

} // namespace packsearch
