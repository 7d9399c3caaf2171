#include "platform/xls/NativeWorkbookFile.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "platform/xls/BiffWorkbookWriter.h"
#include "platform/xls/WorkbookData.h"

#include <QFile>
#include <optional>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xls {

namespace {

const std::string kWorkbookStream = "Workbook";
const std::string kOlderWorkbookStream = "Book"; // Excel 5 and 95

[[noreturn]] void fail(const QString &path, const QString &why)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("WorkbookFile"),
                       QStringLiteral("%1：%2").arg(path, why), RuntimeError::Kind::Workbook);
}

// The whole file into bytes; false when it does not exist; any other failure raises.
bool readWholeFile(const QString &path, std::string &bytes)
{
    try {
        return regularfile::read(path, regularfile::kWorkbookLimit, bytes);
    } catch (const RuntimeError &e) {
        fail(path, e.description());
    }
}

} // namespace

WorkbookFile::Opened NativeWorkbookFile::open(const QString &path)
{
    m_path = path;
    m_appender.reset();
    m_changed.clear();
    if (m_saved && m_saved->path == path && m_saved->stamp && stampOf(path) == m_saved->stamp) {
        // The file is still the one this object wrote: no need to read it again.
        std::string stream = std::move(m_saved->stream);
        m_saved.reset();
        useStream(std::move(stream));
        return Opened::Existing;
    }
    m_saved.reset();
    // Read into the spare buffer; once the stream is out of it, its memory (larger
    // than the stream, already present) takes the stream after the box.
    std::string bytes = std::move(m_spare);
    if (!readWholeFile(path, bytes))
        return Opened::DoesNotExist;
    try {
        m_document = readCompoundDocument(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
        m_spare = std::move(bytes);
        CompoundEntry *stream = m_document.child(kWorkbookStream);
        if (!stream || stream->storage) {
            if (m_document.child(kOlderWorkbookStream))
                fail(path, QStringLiteral("这是 Excel 5/95 格式的工作簿，只能追加到 Excel 97-2003 格式"));
            fail(path, reason::notAWorkbook());
        }
        useStream(std::move(stream->data));
        stream->data.clear();
    } catch (const RuntimeError &e) {
        m_appender.reset();
        if (e.kind() == RuntimeError::Kind::Workbook) // already names the workbook
            throw;
        fail(path, e.description());
    }
    return Opened::Existing;
}

void NativeWorkbookFile::create(const QString &path)
{
    m_path = path;
    m_saved.reset();
    m_changed.clear();
    Workbook book;
    book.sheets.resize(1);
    book.sheets[0].name = QStringLiteral("Sheet1");
    m_document = CompoundEntry();
    m_document.storage = true;
    CompoundEntry stream;
    stream.name = kWorkbookStream;
    m_document.children.push_back(std::move(stream));
    useStream(workbookStream(book));
}

void NativeWorkbookFile::useStream(std::string workbookStream)
{
    m_appender = std::make_unique<WorkbookAppender>(std::move(workbookStream));
}

int32_t NativeWorkbookFile::lastUsedRow() const
{
    if (!m_appender)
        fail(m_path, QStringLiteral("没有打开的工作簿"));
    return m_appender->lastUsedRow();
}

void NativeWorkbookFile::appendRows(const std::vector<Row> &rows)
{
    if (!m_appender)
        fail(m_path, QStringLiteral("没有打开的工作簿"));
    try {
        m_changed = m_appender->append(rows, std::move(m_spare));
    } catch (const RuntimeError &e) {
        fail(m_path, e.description());
    }
}

void NativeWorkbookFile::replaceFile()
{
    if (!m_appender || m_changed.empty())
        fail(m_path, QStringLiteral("没有要写入的内容"));
    CompoundEntry *stream = m_document.child(kWorkbookStream);
    stream->data = std::move(m_changed);
    m_changed.clear();
    m_spare = m_appender->releaseStream();
    m_appender.reset();
    try {
        replaceFileAtomically(m_path, [this](int fd) { return writeCompoundDocument(m_document, fd); });
    } catch (...) {
        stream->data.clear();
        m_saved.reset();
        throw;
    }
    // Kept for the next box while the file on disk is this one.
    m_saved = Saved{m_path, stampOf(m_path), std::move(stream->data)};
    stream->data.clear();
}

std::optional<NativeWorkbookFile::Stamp> NativeWorkbookFile::stampOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

} // namespace xls
