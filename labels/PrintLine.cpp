#include "labels/PrintLine.h"

namespace labels {

QString printLine(const PrintLineParts &p)
{
    QStringList parts;
    const Kept *failed = p.oldestFailed;
    // The label that waits is named: never the one before, as if this one were printed.
    const QString waitingOne = p.handingOver.isEmpty() ? QString() : QLatin1Char(' ') + p.handingOver;
    if (!p.error.isEmpty())
        parts << QStringLiteral("未打印%1：%2（待打印 %3 张，打印服务恢复后自动打印）").arg(waitingOne, p.error).arg(p.waiting);
    else if (!p.handingOver.isEmpty())
        parts << QStringLiteral("正在交打印 %1（待打印 %2 张）").arg(p.handingOver).arg(p.waiting);
    else if (failed)
        parts << QStringLiteral("%1 打印失败（%2）%3，按 F9 补打")
                     .arg(failed->label.text, failed->failed,
                          p.failedCount > 1 ? QStringLiteral("，另有 %1 张失败").arg(p.failedCount - 1) : QString());
    else if (!p.inFlight.isEmpty())
        parts << QStringLiteral("已交打印 %1%2").arg(p.inFlight.back(), p.inFlight.size() > 1
                                                                      ? QStringLiteral("（%1 张未打完）").arg(p.inFlight.size())
                                                                      : QString());
    else if (p.lastDone)
        parts << QStringLiteral("已打印 %1%2").arg(p.lastDone->reprint ? QStringLiteral("补打 ") : QString(), p.lastDone->text);
    else
        parts << QStringLiteral("打印机 %1").arg(p.printer);
    if (!p.keepProblem.isEmpty())
        parts << QStringLiteral("无法保存待打印标签（%1），%2 张标签只在内存中，请勿退出程序").arg(p.keepProblem).arg(p.inMemory);
    if (!p.notice.isEmpty())
        parts << p.notice;
    QString f9 = QStringLiteral("上一箱");
    if (failed)
        f9 = failed->label.text;
    else if (p.lastOuter)
        f9 = p.lastOuter->text;
    return QStringLiteral("标签：%1（F9 补打 %2）").arg(parts.join(QStringLiteral("；")), f9);
}

} // namespace labels
