#include "platform/xls/Styles.h"

#include "platform/xls/Records.h"

namespace xls {

namespace {

constexpr uint16_t kTextFormat = 49; // built-in "@"
constexpr uint16_t kStyleXf = 0xFFF5;     // locked, style XF, no parent
constexpr uint16_t kCellXf = 0x0001;      // locked, parent is the Normal style
constexpr uint16_t kQuotePrefix = 0x0008; // what a leading apostrophe sets
constexpr uint8_t kTextAttributes = 0x04; // the number format differs from the parent's
constexpr int kFontRecords = 5;           // index 4 is skipped by readers, so 0-3 and 5 exist
constexpr uint16_t kTenPoints = 200;      // in twentieths of a point
constexpr uint8_t kStyleAttributes = 0xF4; // the used-attribute flags Excel gives its built-in style XFs

} // namespace

void writeStyles(ByteSink &out)
{
    for (int i = 0; i < kFontRecords; ++i)
        records::font(out, "Arial", kTenPoints);

    records::xf(out, 0, 0, kStyleXf, 0);                         // 0: Normal
    for (int i = 1; i < 15; ++i)
        records::xf(out, i < 3 ? 1 : (i < 5 ? 2 : 0), 0, kStyleXf, kStyleAttributes);
    records::xf(out, 0, 0, kCellXf, 0);                          // 15: default cell format
    out.bytes(textXfRecord().data(), textXfRecord().size());    // 16: text

    records::normalStyle(out);
}

std::string textXfRecord()
{
    static const std::string record = [] {
        ByteSink out;
        records::xf(out, 0, kTextFormat, kCellXf | kQuotePrefix, kTextAttributes);
        return out.take();
    }();
    return record;
}

} // namespace xls
