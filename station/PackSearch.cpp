#include "station/PackSearch.h"

#include "core/RuntimeError.h"
#include "platform/xls/ColumnReader.h"

#include <QDir>
#include <QFileInfo>

namespace packsearch {

namespace {
constexpr int kColumns = 3; // outer label, middle label, barcode
}

std::vector<Pack> packsOf(const QString &path)
{
    const std::vector<QStringList> columns = xls::readFirstSheetColumns(path, kColumns);
    const QString name = QFileInfo(path).fileName();
    std::vector<Pack> packs;
    QString outer, middle;
    for (qsizetype r = 0; r < columns[0].size(); ++r) {
        if (!columns[0][r].isEmpty()) {
            outer = columns[0][r];
            middle.clear();
        }
        if (!columns[1][r].isEmpty())
            middle = columns[1][r];
        if (!columns[2][r].isEmpty())
            packs.push_back({name, int32_t(r + 1), outer, middle, columns[2][r]});
    }
    return packs;
}

QStringList workbooksIn(const QString &filesFolder)
{
    return QDir(filesFolder).entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name);
}

std::vector<Pack> search(const QString &filesFolder, const std::function<bool(const Pack &)> &keep,
                         const std::function<void(const QString &, const QString &)> &unreadable,
                         const std::function<void(int, int)> &progress)
{
    const QStringList names = workbooksIn(filesFolder);
    std::vector<Pack> found;
    for (qsizetype i = 0; i < names.size(); ++i) {
        try {
            for (Pack &pack : packsOf(QDir(filesFolder).filePath(names[i])))
                if (keep(pack))
                    found.push_back(std::move(pack));
        } catch (const RuntimeError &e) {
            unreadable(names[i], e.description());
        }
        if (progress)
            progress(int(i + 1), int(names.size()));
    }
    return found;
}

} // namespace packsearch
