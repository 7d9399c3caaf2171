#include "board/BoardOptions.h"

#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "platform/RegularFile.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace board {

namespace {

// Long enough that guessing it over the network is hopeless.
constexpr int kShortestToken = 16;
constexpr int64_t kTokenFileLimit = 64 << 10; // a token and a comment or two

bool parseListen(const QString &text, Options &o)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port > 65535 || !address.setAddress(host))
        return false;
    o.address = address;
    o.port = quint16(port);
    return true;
}

} // namespace

QString usage()
{
    return QStringLiteral("用法：zantrel-board --db 数据库 [--write-db 数据库] [--listen 地址:端口 --token-file 令牌文件] [--idle-minutes 分钟]\n"
                          "  --db 可以是只读的备用服务器；决定和修改写入 --write-db（不写：写入 --db）。\n"
                          "  默认只在本机 127.0.0.1:8765 提供看板；在生产线网络上提供须同时给出令牌文件。\n"
                          "  记录重复包的决定须有令牌。");
}

QString readTokenFile(const QString &path, QStringList *problems)
{
    // Like every file a person can touch: a regular file within a bound, never waited on
    // (a pipe in its place would hang the board's start).
    std::optional<QByteArray> bytes;
    try {
        bytes = regularfile::read(path, kTokenFileLimit);
    } catch (const RuntimeError &e) {
        *problems << QStringLiteral("无法读取令牌文件 %1：%2").arg(path, e.description());
        return QString();
    }
    if (!bytes) {
        *problems << QStringLiteral("无法读取令牌文件 %1：文件不存在").arg(path);
        return QString();
    }
    const QFileInfo info(path);
    if (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        *problems << QStringLiteral("令牌文件 %1 其他用户也能读取，请用 chmod 600 只留给自己").arg(path);
        return QString();
    }
    const QString token = QString::fromUtf8(bytes->left(bytes->indexOf('\n'))).trimmed();
    // It travels in an address and a cookie: letters, digits and - . _ ~ only.
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._~-]+$"));
    if (token.size() < kShortestToken || !allowed.match(token).hasMatch()) {
        *problems << QStringLiteral("令牌文件 %1 的第一行须是至少 %2 个字符的令牌，只含字母、数字和 - . _ ~").arg(path).arg(kShortestToken);
        return QString();
    }
    return token;
}

Options parseArguments(const QStringList &args, QStringList *problems)
{
    Options o;
    QString tokenFile;
    bool listenGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--db") && hasValue) {
            o.url = args[++i];
        } else if (a == QLatin1String("--write-db") && hasValue) {
            o.writeUrl = args[++i];
        } else if (a == QLatin1String("--listen") && hasValue) {
            listenGiven = true;
            if (!parseListen(args[++i], o))
                *problems << QStringLiteral("--listen 须是 地址:端口，例如 0.0.0.0:8765 或 [::]:8765；端口 0 由系统选（收到：%1）").arg(args[i]);
        } else if (a == QLatin1String("--token-file") && hasValue) {
            tokenFile = args[++i];
        } else if (a == QLatin1String("--idle-minutes") && hasValue) {
            bool ok = false;
            o.idleMinutes = args[++i].toInt(&ok);
            if (!ok || o.idleMinutes < 1 || o.idleMinutes > 24 * 60)
                *problems << QStringLiteral("--idle-minutes 须是 1 到 1440 的整数（收到：%1）").arg(args[i]);
        } else {
            *problems << QStringLiteral("不认识的参数：%1").arg(a);
        }
    }
    if (o.url.isEmpty())
        *problems << QStringLiteral("缺少 --db 数据库");
    for (const QString &url : {o.url, o.writeUrl}) {
        if (url.isEmpty())
            continue;
        QString why;
        const std::optional<QString> password = database::passwordIn(url, &why);
        if (!password)
            *problems << QStringLiteral("无法识别的连接串（%1）").arg(why);
        else if (!password->isEmpty()) // not repeated: it holds the password
            *problems << QStringLiteral("连接串中含有密码：命令行上的密码别人看得见，请写在 ~/.pgpass 或 pg_service.conf 中");
    }
    if (!tokenFile.isEmpty())
        o.token = readTokenFile(tokenFile, problems);
    else if (listenGiven && !o.address.isLoopback())
        *problems << QStringLiteral("在本机以外提供看板（%1）须用 --token-file 给出令牌").arg(o.address.toString());
    return o;
}

} // namespace board
