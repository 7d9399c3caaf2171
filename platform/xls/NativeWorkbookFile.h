#pragma once

#include "platform/WorkbookFile.h"
#include "platform/xls/CompoundDocument.h"
#include "platform/xls/WorkbookAppender.h"

#include <memory>
#include <optional>
#include <sys/stat.h>

namespace xls {

// The workbook kept as it is on disk: every stream of its compound document and
// every record of its "Workbook" stream, with a box's rows appended record by
// record. A new workbook comes from our BIFF8 writer.
class NativeWorkbookFile : public WorkbookFile
{
public:
    Opened open(const QString &path) override;
    void create(const QString &path) override;
    int32_t lastUsedRow() const override;
    void appendRows(const std::vector<Row> &rows) override;
    void replaceFile() override;

private:
    // What identifies the file this object last wrote.
    struct Stamp
    {
        dev_t device;
        ino_t inode;
        off_t size;
        time_t seconds;
        long nanoseconds;
        bool operator==(const Stamp &) const = default;
    };
    struct Saved
    {
        QString path;
        std::optional<Stamp> stamp;
        std::string stream;
    };
    static std::optional<Stamp> stampOf(const QString &path);
    void useStream(std::string workbookStream);

    QString m_path;
    CompoundEntry m_document;                      // every entry but the workbook stream's bytes
    std::unique_ptr<WorkbookAppender> m_appender;  // the workbook stream, parsed
    std::string m_changed;                         // the stream after appendRows
    std::optional<Saved> m_saved;                  // the stream last written, and its file
    std::string m_spare;                           // memory of an old stream, for the next one
};

} // namespace xls
