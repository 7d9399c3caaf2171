#include "platform/xls/OleContainer.h"

#include "core/RuntimeError.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-utils.h>

namespace xls {

namespace {

// Streams below this size would go to the mini-stream; padding keeps them in
// ordinary sectors, as office programs write them.
constexpr size_t kMiniStreamCutoff = 4096;

[[noreturn]] void fail(const char *what)
{
    throw RuntimeError(RuntimeError::WorkbookFailed, QStringLiteral("compoundDocument"),
                       QStringLiteral("无法生成工作簿文件结构：%1").arg(QLatin1String(what)));
}

} // namespace

QByteArray compoundDocument(const std::string &workbookStream)
{
    static const bool initialised = (gsf_init(), true);
    (void)initialised;

    std::string stream = workbookStream;
    if (stream.size() < kMiniStreamCutoff)
        stream.resize(kMiniStreamCutoff, '\0');

    GsfOutput *memory = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(memory);
    if (!ole) {
        g_object_unref(memory);
        fail("no OLE2 writer");
    }
    GsfOutput *child = gsf_outfile_new_child(ole, "Workbook", FALSE);
    bool ok = child && gsf_output_write(child, stream.size(), reinterpret_cast<const guint8 *>(stream.data()));
    if (child) {
        ok = gsf_output_close(child) && ok;
        g_object_unref(child);
    }
    ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
    g_object_unref(ole);

    QByteArray bytes;
    if (ok) {
        const gsf_off_t size = gsf_output_size(memory);
        const guint8 *data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
        bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    }
    g_object_unref(memory);
    if (!ok)
        fail("write failed");
    return bytes;
}

} // namespace xls
