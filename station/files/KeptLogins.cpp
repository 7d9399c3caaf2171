#include "station/files/KeptLogins.h"

#include "core/LineCodec.h"
#include "core/RuntimeError.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "station/files/BoxLines.h"

#include <QDir>

namespace keptlogins {

namespace {

const QByteArray kHeader = "# Zantrel 本站登录过的操作员（程序自动写入，请勿修改；只有本站的用户可读）\n";
const QByteArray kOperator = "operator";
constexpr int64_t kLimit = 4ll << 20; // a few hundred operators in practice

QString pathIn(const QString &folder)
{
    return QDir(folder).filePath(fileName());
}

QByteArray lineOf(const Kept &k)
{
    using boxlines::escaped;
    return linecodec::line(kOperator, {escaped(k.id, true), escaped(k.name, true), escaped(k.role, true),
                                       escaped(boxlines::timeText(k.at), true), escaped(k.verifier, true)});
}

std::optional<Kept> keptFrom(const QByteArray &line)
{
    if (!line.startsWith(kOperator + ' '))
        return std::nullopt;
    const QByteArrayList fields = line.mid(kOperator.size() + 1).split(' ');
    if (fields.size() != 5)
        return std::nullopt;
    QString texts[5];
    for (int i = 0; i < 5; ++i) {
        const std::optional<QString> text = boxlines::unescaped(fields[i]);
        if (!text || text->isEmpty())
            return std::nullopt;
        texts[i] = *text;
    }
    Kept k{texts[0], texts[1], texts[2], QDateTime::fromString(texts[3], Qt::ISODateWithMs), texts[4]};
    if (!k.at.isValid() || !k.verifier.startsWith(QLatin1String("$argon2id$")))
        return std::nullopt;
    return k;
}

} // namespace

QString fileName()
{
    return QStringLiteral("operators.txt");
}

namespace {

// What the file holds; raises a RuntimeError when it is there but cannot be read.
std::vector<Kept> readOrRaise(const QString &programFolder)
{
    const std::optional<QByteArray> bytes = regularfile::read(pathIn(programFolder), kLimit);
    std::vector<Kept> out;
    if (!bytes)
        return out;
    for (const QByteArray &line : bytes->split('\n')) {
        const std::optional<Kept> k = keptFrom(line);
        if (!k)
            continue;
        std::erase_if(out, [&](const Kept &o) { return o.id == k->id; });
        out.push_back(*k);
    }
    return out;
}

} // namespace

std::vector<Kept> read(const QString &programFolder)
{
    try {
        return readOrRaise(programFolder);
    } catch (const RuntimeError &) {
        return {}; // unreadable: nobody logs in offline until the record is back, which loses nothing
    }
}

void keep(const QString &programFolder, const Kept &kept)
{
    // A file that cannot be read is left for a person, never replaced by what this login knows.
    QByteArray content = kHeader;
    for (const Kept &k : readOrRaise(programFolder))
        if (k.id != kept.id)
            content += lineOf(k);
    content += lineOf(kept);
    replacePrivateFileAtomically(pathIn(programFolder), content);
}

} // namespace keptlogins
