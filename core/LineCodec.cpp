#include "core/LineCodec.h"

namespace linecodec {

bool isControl(char16_t u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString shown(QChar c)
{
    if (!isControl(c.unicode()))
        return QString(c);
    switch (c.unicode()) {
    case 0x00: return QStringLiteral("<NUL>");
    case 0x09: return QStringLiteral("<TAB>");
    case 0x0A: return QStringLiteral("<LF>");
    case 0x0D: return QStringLiteral("<CR>");
    default: return QStringLiteral("<0x%1>").arg(QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0')));
    }
}

namespace {

bool mustEscape(char16_t u, Escape what)
{
    switch (what) {
    case Escape::Controls:
        return isControl(u);
    case Escape::ControlsAndBlanks:
        return isControl(u) || u == u' ';
    case Escape::NonAscii:
        break;
    }
    return u < 0x20 || u >= 0x7F;
}

} // namespace

QByteArray escaped(const QString &text, Escape what, Hex hex)
{
    QByteArray out;
    out.reserve(text.size());
    // Runs between escapes are converted whole: a surrogate pair converted half by
    // half would come out as two question marks. Only characters below U+0100 are
    // escaped, so two hex digits always hold them.
    qsizetype run = 0;
    auto flush = [&](qsizetype end) { out += QStringView(text).sliced(run, end - run).toUtf8(); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'\\') {
            flush(i);
            out += "\\\\";
        } else if (u < 0x100 && mustEscape(u, what)) {
            flush(i);
            const QByteArray digits = QByteArray::number(int(u), 16).rightJustified(2, '0');
            out += "\\x" + (hex == Hex::Upper ? digits.toUpper() : digits);
        } else {
            continue;
        }
        run = i + 1;
    }
    flush(text.size());
    return out;
}

std::optional<QString> unescaped(QByteArrayView field)
{
    QString out;
    qsizetype run = 0;
    auto flush = [&](qsizetype end) { out += QString::fromUtf8(field.sliced(run, end - run)); };
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\')
            continue;
        flush(i);
        if (i + 1 < field.size() && field[i + 1] == '\\') {
            out += QLatin1Char('\\');
            i += 1;
        } else if (i + 3 < field.size() && field[i + 1] == 'x') {
            bool ok = false;
            const int value = field.sliced(i + 2, 2).toInt(&ok, 16);
            if (!ok || value < 0)
                return std::nullopt;
            out += QChar(char16_t(value));
            i += 3;
        } else {
            return std::nullopt;
        }
        run = i + 1;
    }
    flush(field.size());
    return out;
}

QByteArray line(QByteArrayView keyword, std::initializer_list<QByteArrayView> fields)
{
    QByteArray out = keyword.toByteArray();
    for (QByteArrayView f : fields)
        out += ' ' + f.toByteArray();
    return out + '\n';
}

Parts split(QByteArrayView line)
{
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return {line, {}};
    return {line.first(space), line.sliced(space + 1)};
}

std::optional<Leading> leading(QByteArrayView rest, int fields)
{
    Leading out;
    for (int n = 0; n < fields; ++n) {
        const qsizetype space = rest.indexOf(' ');
        if (space < 0)
            return std::nullopt;
        out.fields.push_back(rest.first(space));
        rest = rest.sliced(space + 1);
    }
    out.tail = rest;
    return out;
}

} // namespace linecodec
