#pragma once

#include "platform/WorkbookFile.h"
#include "platform/xls/CompoundDocument.h"
#include "platform/xls/WorkbookAppender.h"

#include <memory>

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
    void useStream(std::string workbookStream);

    QString m_path;
    CompoundEntry m_document;                      // every entry but the workbook stream's bytes
    std::unique_ptr<WorkbookAppender> m_appender;  // the workbook stream, parsed
    std::string m_changed;                         // the stream after appendRows
};

} // namespace xls
