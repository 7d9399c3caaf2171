#include "core/SystemReason.h"

#include <cerrno>
#include <cstring>

namespace reason {

QString withSystemText(const QString &chinese, const QString &systemText)
{
    if (systemText.isEmpty())
        return chinese;
    return QStringLiteral("%1（%2）").arg(chinese, systemText);
}

QString fromErrno(int err)
{
    const QString system = QString::fromLocal8Bit(std::strerror(err));
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return withSystemText(QStringLiteral("文件或文件夹不存在"), system);
    case EACCES:
    case EPERM:
        return withSystemText(QStringLiteral("没有权限"), system);
    case ENOSPC:
    case EDQUOT:
        return withSystemText(QStringLiteral("磁盘已满"), system);
    case EROFS:
        return withSystemText(QStringLiteral("文件系统只读"), system);
    case ENODEV:
    case ENXIO:
    case EIO:
        return withSystemText(QStringLiteral("设备已断开或无法访问"), system);
    case EBUSY:
        return withSystemText(QStringLiteral("设备正被其他程序使用"), system);
    case EISDIR:
        return withSystemText(isDirectory(), system);
    case ELOOP:
        return withSystemText(QStringLiteral("符号链接层数过多（可能是循环链接）"), system);
    case EFBIG:
        return withSystemText(QStringLiteral("文件太大"), system);
    case ENAMETOOLONG:
        return withSystemText(QStringLiteral("文件名太长"), system);
    default:
        return system;
    }
}

const QString &notAWorkbook()
{
    static const QString text = QStringLiteral("不是 Excel 97-2003 工作簿");
    return text;
}

const QString &isDirectory()
{
    static const QString text = QStringLiteral("是文件夹，不是文件");
    return text;
}

const QString &notARegularFile()
{
    static const QString text = QStringLiteral("不是普通文件");
    return text;
}

QString tooLarge(int64_t limit)
{
    const int64_t mib = limit >> 20;
    return mib > 0 ? QStringLiteral("文件太大（超过这类文件 %1 MB 的上限）").arg(mib)
                   : QStringLiteral("文件太大（超过这类文件 %1 字节的上限）").arg(limit);
}

const QString &deviceGone()
{
    static const QString text = QStringLiteral("设备已断开");
    return text;
}

} // namespace reason
