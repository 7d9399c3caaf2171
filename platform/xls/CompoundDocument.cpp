#include "platform/xls/CompoundDocument.h"

#include "core/RuntimeError.h"
#include "core/SystemReason.h"
#include "platform/MemoryUse.h"
#include "platform/linux/SystemCall.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

namespace xls {

namespace {

// Streams below this size would go to the mini-stream; padding the workbook stream
// keeps it in ordinary sectors, as office programs write it.
constexpr size_t kMiniStreamCutoff = 4096;
const std::string kWorkbookStream = "Workbook";

[[noreturn]] void fail(const QString &what)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("CompoundDocument"), what);
}

void initGsf()
{
    static const bool initialised = (gsf_init(), true);
    (void)initialised;
}

void readChildren(GsfInfile *infile, CompoundEntry &into, int depth)
{
    if (depth > 32)
        fail(QStringLiteral("文件结构嵌套过深（%1）").arg(reason::notAWorkbook()));
    const int count = gsf_infile_num_children(infile);
    for (int i = 0; i < count; ++i) {
        GsfInput *input = gsf_infile_child_by_index(infile, i);
        if (!input)
            fail(QStringLiteral("无法读取文件中的第 %1 项").arg(i + 1));
        CompoundEntry entry;
        const char *name = gsf_infile_name_by_index(infile, i);
        entry.name = name ? name : "";
        const bool isStorage = GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0;
        if (isStorage) {
            entry.storage = true;
            if (GSF_IS_INFILE_MSOLE(input))
                entry.hasClassId = gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(input), entry.classId.data());
            readChildren(GSF_INFILE(input), entry, depth + 1);
        } else {
            const gsf_off_t size = gsf_input_size(input);
            // With room to grow: a workbook stream is appended to, and its memory is
            // used again for the stream after it (see WorkbookAppender::append).
            entry.data.reserve(size_t(size) + size_t(size) / 8);
            memoryuse::prepareForWriting(entry.data.data(), size_t(size));
            entry.data.resize(size_t(size));
            if (size > 0 && !gsf_input_read(input, size_t(size), reinterpret_cast<guint8 *>(entry.data.data()))) {
                g_object_unref(input);
                fail(QStringLiteral("无法读取流 %1").arg(QString::fromStdString(entry.name)));
            }
        }
        g_object_unref(input);
        into.children.push_back(std::move(entry));
    }
}

bool writeChildren(GsfOutfile *outfile, const CompoundEntry &from)
{
    for (const CompoundEntry &entry : from.children) {
        GsfOutput *child = gsf_outfile_new_child(outfile, entry.name.c_str(), entry.storage);
        if (!child)
            return false;
        bool ok = true;
        if (entry.storage) {
            if (entry.hasClassId && GSF_IS_OUTFILE_MSOLE(child))
                gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child), entry.classId.data());
            ok = writeChildren(GSF_OUTFILE(child), entry);
        } else {
            std::string padded;
            const std::string *data = &entry.data;
            if (entry.name == kWorkbookStream && entry.data.size() < kMiniStreamCutoff) {
                padded = entry.data;
                padded.resize(kMiniStreamCutoff, '\0');
                data = &padded;
            }
            ok = data->empty() || gsf_output_write(child, data->size(), reinterpret_cast<const guint8 *>(data->data()));
        }
        ok = gsf_output_close(child) && ok;
        g_object_unref(child);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

CompoundEntry *CompoundEntry::child(const std::string &childName)
{
    for (CompoundEntry &c : children)
        if (c.name == childName)
            return &c;
    return nullptr;
}

const CompoundEntry *CompoundEntry::child(const std::string &childName) const
{
    return const_cast<CompoundEntry *>(this)->child(childName);
}

CompoundEntry readCompoundDocument(const QByteArray &fileBytes)
{
    initGsf();
    GsfInput *memory = gsf_input_memory_new(reinterpret_cast<const guint8 *>(fileBytes.constData()),
                                            gsf_off_t(fileBytes.size()), FALSE);
    if (!memory)
        fail(reason::notAWorkbook());
    GError *error = nullptr;
    GsfInfile *ole = gsf_infile_msole_new(memory, &error);
    g_object_unref(memory);
    if (!ole) {
        if (error)
            g_error_free(error);
        fail(reason::notAWorkbook());
    }
    CompoundEntry root;
    root.storage = true;
    root.hasClassId = gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(ole), root.classId.data());
    try {
        readChildren(GSF_INFILE(ole), root, 0);
    } catch (...) {
        g_object_unref(ole);
        throw;
    }
    g_object_unref(ole);
    return root;
}

namespace {

// The document into sink, which the container closes with itself.
void writeInto(GsfOutput *sink, const CompoundEntry &root)
{
    GsfOutfile *ole = gsf_outfile_msole_new(sink);
    if (!ole)
        fail(QStringLiteral("无法生成工作簿文件结构"));
    if (root.hasClassId)
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole), root.classId.data());
    bool ok = writeChildren(ole, root);
    ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
    g_object_unref(ole);
    if (!gsf_output_is_closed(sink))
        ok = gsf_output_close(sink) && ok;
    if (!ok)
        fail(QStringLiteral("无法生成工作簿文件结构"));
}

} // namespace

QByteArray writeCompoundDocument(const CompoundEntry &root)
{
    initGsf();
    GsfOutput *memory = gsf_output_memory_new();
    QByteArray bytes;
    try {
        writeInto(memory, root);
        const guint8 *data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
        bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(gsf_output_size(memory)));
    } catch (...) {
        g_object_unref(memory);
        throw;
    }
    g_object_unref(memory);
    return bytes;
}

namespace {

// A stdio stream whose writes go to a descriptor through writeAll, keeping the
// first failure's errno: the container writes through stdio, and errno after the
// fact may belong to anything.
struct Descriptor
{
    int fd;
    int err = 0;
};

ssize_t writeToDescriptor(void *cookie, const char *data, size_t size)
{
    auto *d = static_cast<Descriptor *>(cookie);
    if (d->err == 0)
        d->err = sys::writeAll(d->fd, data, size);
    return d->err == 0 ? ssize_t(size) : -1;
}

int seekDescriptor(void *cookie, off64_t *position, int whence)
{
    auto *d = static_cast<Descriptor *>(cookie);
    const off_t at = ::lseek(d->fd, off_t(*position), whence);
    if (at < 0) {
        if (d->err == 0)
            d->err = errno;
        return -1;
    }
    *position = at;
    return 0;
}

int keepDescriptor(void *)
{
    return 0; // the descriptor is its owner's to close
}

} // namespace

int writeCompoundDocument(const CompoundEntry &root, int fd)
{
    initGsf();
    Descriptor d{fd};
    FILE *file = ::fopencookie(&d, "w", cookie_io_functions_t{nullptr, writeToDescriptor, seekDescriptor, keepDescriptor});
    if (!file)
        return errno;
    GsfOutput *sink = gsf_output_stdio_new_FILE("workbook", file, TRUE);
    try {
        writeInto(sink, root);
    } catch (const RuntimeError &) {
        g_object_unref(sink);
        std::fclose(file);
        if (d.err != 0)
            return d.err; // the disk, not the container, failed
        throw;
    }
    g_object_unref(sink);
    const bool flushed = std::fflush(file) == 0;
    std::fclose(file);
    return d.err != 0 ? d.err : flushed ? 0 : EIO;
}

} // namespace xls
