#include "platform/BarcodeSymbol.h"

#include <zint.h>

#include <memory>

namespace barcode {

namespace {

// The library's refusal in the operator's words (its own text is English).
QString plainly(int status)
{
    switch (status) {
    case ZINT_ERROR_TOO_LONG:
        return QStringLiteral("内容太长");
    case ZINT_ERROR_INVALID_DATA:
        return QStringLiteral("内容中有条码不能表示的字符");
    case ZINT_ERROR_INVALID_CHECK:
        return QStringLiteral("校验位不正确");
    case ZINT_ERROR_MEMORY:
        return QStringLiteral("内存不足");
    default:
        return QStringLiteral("条码库内部错误");
    }
}

} // namespace

std::optional<Symbol> encode(Kind kind, const QString &text, QString *why)
{
    std::unique_ptr<zint_symbol, void (*)(zint_symbol *)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) {
        *why = QStringLiteral("条码库无法分配内存");
        return std::nullopt;
    }
    QByteArray data;
    Symbol out;
    if (kind == Kind::Gs1Sscc) {
        symbol->symbology = BARCODE_GS1_128;
        data = "[00]" + text.toLatin1();
        out.text = QStringLiteral("(00)") + text;
    } else if (kind == Kind::Gs1) {
        symbol->symbology = BARCODE_GS1_128;
        data = text.toLatin1();
        out.text = QString(text).replace(QLatin1Char('['), QLatin1Char('(')).replace(QLatin1Char(']'), QLatin1Char(')'));
    } else {
        symbol->symbology = BARCODE_CODE128;
        symbol->input_mode = UNICODE_MODE;
        data = text.toUtf8();
        out.text = text;
    }
    const int status = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()));
    if (status >= ZINT_ERROR) {
        *why = QStringLiteral("条码无法生成：%1（条码库代码 %2）").arg(plainly(status)).arg(status);
        return std::nullopt;
    }
    // A GS1 symbol that breaks GS1's rules is still drawn, with a warning: a scanner
    // that checks would refuse it, so no label carries it.
    if (status == ZINT_WARN_NONCOMPLIANT) {
        *why = QStringLiteral("条码不符合 GS1 规则：%1").arg(QString::fromLatin1(symbol->errtxt));
        return std::nullopt;
    }
    // A linear symbol has one row; its modules are packed eight to a byte, lowest bit first.
    for (int x = 0; x < symbol->width; ++x)
        out.modules.push_back((symbol->encoded_data[0][x >> 3] >> (x & 7)) & 1);
    return out;
}

} // namespace barcode
