#pragma once

#include "platform/Spreadsheet.h"
#include "platform/xls/WorkbookData.h"

#include <optional>
#include <sys/stat.h>

namespace xls {

// The spreadsheet without a spreadsheet program: FreeXL reads, our BIFF8 writer and
// libgsf write. The workbook last saved is kept in memory and used again while its
// file on disk is still the one this object wrote.
class NativeSpreadsheet : public Spreadsheet
{
public:
    void start() override;
    void newWorkbook(const QString &path) override;
    void openWorkbook(const QString &path) override;
    void hide() override {}
    void useFirstWorksheet() override;
    int32_t lastUsedRow() const override;
    void setCellText(int32_t row, int32_t column, const QString &text) override;
    void autoFitColumns() override;
    void save() override;
    void quit() override;

    // How often a workbook had to be read from disk (the rest came from memory).
    int fileReads() const { return m_fileReads; }

private:
    // What identifies the file this object last wrote.
    struct FileStamp
    {
        dev_t device;
        ino_t inode;
        off_t size;
        timespec modified;
        bool operator==(const FileStamp &o) const;
    };
    static std::optional<FileStamp> stampOf(const QString &path);
    void requireWorkbook() const;
    Sheet &firstSheet();

    std::optional<Workbook> m_book;
    QString m_path;
    bool m_sheetChosen = false;
    bool m_changed = false;

    // The workbook as last saved, and the file it was saved to.
    std::optional<Workbook> m_saved;
    QString m_savedPath;
    std::optional<FileStamp> m_savedStamp;
    int m_fileReads = 0;
};

} // namespace xls
