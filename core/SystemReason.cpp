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
    default:
        return system;
    }
}

const QString &notAWorkbook()
{
    static const QString text = QStringLiteral("不是 Excel 97-2003 工作簿");
    return text;
}

const QString &deviceGone()
{
    static const QString text = QStringLiteral("设备已断开");
    return text;
}

} // namespace reason
