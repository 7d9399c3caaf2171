#include "core/LineEscape.h"

namespace lineescape {

QByteArray escaped(const QString &text, const std::function<bool(char16_t)> &mustEscape, bool upperHex)
{
    QByteArray out;
    out.reserve(text.size());
    // Runs between escapes are converted whole: a surrogate pair converted half by
    // half would come out as two question marks.
    qsizetype run = 0;
    auto flush = [&](qsizetype end) { out += QStringView(text).sliced(run, end - run).toUtf8(); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'\\') {
            flush(i);
            out += "\\\\";
        } else if (mustEscape(u)) {
            flush(i);
            const QByteArray hex = QByteArray::number(int(u), 16).rightJustified(2, '0');
            out += "\\x" + (upperHex ? hex.toUpper() : hex);
        } else {
            continue;
        }
        run = i + 1;
    }
    flush(text.size());
    return out;
}

} // namespace lineescape
