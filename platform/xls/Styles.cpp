#include "platform/xls/Styles.h"

#include "platform/xls/BiffRecords.h"

namespace xls {

namespace {

constexpr uint16_t kTextFormat = 49; // built-in "@"
constexpr uint16_t kStyleXf = 0xFFF5;     // locked, style XF, no parent
constexpr uint16_t kCellXf = 0x0001;      // locked, parent is the Normal style
constexpr uint16_t kQuotePrefix = 0x0008; // what a leading apostrophe sets
constexpr uint8_t kTextAttributes = 0x04; // the number format differs from the parent's
constexpr int kFontRecords = 5;      // index 4 is skipped by readers, so 0-3 and 5 exist

void writeFont(ByteSink &out)
{
    static const char kName[] = "Arial";
    const size_t at = out.begin(rec::kFont);
    out.u16(200);    // 10 pt in twentieths of a point
    out.u16(0);      // no italic, strike-out, outline
    out.u16(0x7FFF); // automatic colour
    out.u16(400);    // normal weight
    out.u16(0);      // no super- or subscript
    out.u8(0);       // no underline
    out.u8(0);       // family
    out.u8(0);       // character set
    out.u8(0);
    out.u8(uint8_t(sizeof(kName) - 1));
    out.u8(0); // 8-bit characters
    out.bytes(kName, sizeof(kName) - 1);
    out.end(at);
}

// One 20-byte XF: font, number format, the type/protection word, and the usual
// bottom alignment, no borders, automatic pattern colours.
void writeXf(ByteSink &out, uint16_t font, uint16_t format, uint16_t typeAndProtection, uint8_t usedAttributes)
{
    out.header(rec::kXf, 20);
    out.u16(font);
    out.u16(format);
    out.u16(typeAndProtection);
    out.u8(0x20); // general horizontal, bottom vertical alignment
    out.u8(0);    // no rotation
    out.u8(0);    // no indent
    out.u8(usedAttributes);
    out.u32(0); // border lines
    out.u32(0); // border colours
    out.u16(0x20C0);
}

} // namespace

void writeStyles(ByteSink &out)
{
    for (int i = 0; i < kFontRecords; ++i)
        writeFont(out);

    writeXf(out, 0, 0, kStyleXf, 0x00);        // 0: Normal
    for (int i = 1; i < 15; ++i)
        writeXf(out, i < 3 ? 1 : (i < 5 ? 2 : 0), 0, kStyleXf, 0xF4);
    writeXf(out, 0, 0, kCellXf, 0x00);                           // 15: default cell format
    out.bytes(textXfRecord().data(), textXfRecord().size());     // 16: text

    out.header(rec::kStyle, 4);
    out.u16(0x8000); // built-in style of XF 0
    out.u8(0);       // Normal
    out.u8(0xFF);
}

std::string textXfRecord()
{
    static const std::string record = [] {
        ByteSink out;
        writeXf(out, 0, kTextFormat, kCellXf | kQuotePrefix, kTextAttributes);
        return out.take();
    }();
    return record;
}

} // namespace xls
